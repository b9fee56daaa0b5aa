#pragma once
// What a screen reader is told beyond the widgets' own names.
//
// A widget a screen reader meets as one element: read by the widget's accessible name,
// in the role given, with only the controls inside it as children. Its labels and
// pictures, whose words the name already holds, are left out. Qt has no flag that hides
// a child from accessibility, so this is an accessible interface of its own, given to
// every widget of a class.

#include <QAccessible>
#include <QList>
#include <QMetaObject>

class QLineEdit;
class QString;
class QWidget;

namespace keldwick {

// The controls of a widget to keep as its accessible children, in reading order.
using KeptChildren = QList<QWidget*> (*)(const QWidget* widget);

// Every widget whose class is `type` (exactly, not a subclass) reads as one element.
void readAsOneElement(const QMetaObject& type, QAccessible::Role role, KeptChildren kept = nullptr);

// Names the clear button of `field` (shown by setClearButtonEnabled), which Qt leaves
// unnamed, and gives it the same words as its tooltip.
void nameClearButton(QLineEdit* field, const QString& name);

}  // namespace keldwick
