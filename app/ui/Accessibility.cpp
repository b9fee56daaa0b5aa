#include "ui/Accessibility.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QHash>
#include <QLineEdit>
#include <QToolButton>
#include <QWidget>

namespace keldwick {

namespace {

struct Reading {
    QAccessible::Role role;
    KeptChildren kept;
};

QHash<QString, Reading>& readings() {
    static QHash<QString, Reading> byClass;
    return byClass;
}

class OneElementAccessible final : public QAccessibleWidget {
public:
    OneElementAccessible(QWidget* widget, const Reading& reading)
        : QAccessibleWidget(widget, reading.role), kept_(reading.kept) {}

    int childCount() const override { return int(children().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> kept = children();
        return index >= 0 && index < kept.size() ? QAccessible::queryAccessibleInterface(kept[index]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child ? int(children().indexOf(qobject_cast<QWidget*>(child->object()))) : -1;
    }

private:
    QList<QWidget*> children() const {
        if (!kept_) return {};
        QList<QWidget*> shown;
        for (QWidget* child : kept_(widget()))
            if (child && !child->isHidden()) shown << child;
        return shown;
    }

    KeptChildren kept_;
};

QAccessibleInterface* oneElementFactory(const QString& key, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    const auto found = readings().constFind(key);
    if (found == readings().constEnd()) return nullptr;
    return new OneElementAccessible(static_cast<QWidget*>(object), *found);
}

}  // namespace

void readAsOneElement(const QMetaObject& type, QAccessible::Role role, KeptChildren kept) {
    static const bool installed = (QAccessible::installFactory(oneElementFactory), true);
    (void)installed;
    readings().insert(QString::fromLatin1(type.className()), Reading{role, kept});
}

void nameClearButton(QLineEdit* field, const QString& name) {
    // Qt's own name for the action behind the button.
    auto* clear = field->findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction"));
    if (!clear) return;
    // Not the action's text: the button would make room for it beside its icon.
    clear->setToolTip(name);
    for (auto* button : field->findChildren<QToolButton*>())
        if (button->defaultAction() == clear) button->setAccessibleName(name);
}

}  // namespace keldwick
