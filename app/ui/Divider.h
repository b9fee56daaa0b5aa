#pragma once
// The thin sunken line the windows put between their sections.

#include <QFrame>

namespace keldwick {

inline QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

}  // namespace keldwick
