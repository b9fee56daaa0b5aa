#pragma once
// The guide's first page: what the program does, in three points, and what it never touches.

#include <QWidget>

namespace keldwick {

class WelcomeStep final : public QWidget {
    Q_OBJECT

public:
    explicit WelcomeStep(QWidget* parent = nullptr);
};

}  // namespace keldwick
