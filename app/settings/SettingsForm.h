#pragma once
// The settings tabs' form: sections with a bold header, a framed body and a secondary
// footer, and the few label styles the tabs share. Every text is plain unless a function
// says it takes Markdown.

#include <QString>

class QCheckBox;
class QFrame;
class QLabel;
class QVBoxLayout;
class QWidget;

namespace keldwick {

struct FormSection {
    QWidget* widget = nullptr;  // header, body and footer
    QVBoxLayout* body = nullptr;
    QLabel* footer = nullptr;  // hidden while empty
};

// A section; no header when `header` is empty.
FormSection formSection(const QString& header, QWidget* parent);
// Sets the footer's text; an empty one hides it.
void setFooter(FormSection& section, const QString& text);

// A switch whose label wraps (a check box's own text never does): the box, and beside it
// the label, which flips the box when clicked. Added to `into`.
QCheckBox* wrappingSwitch(const QString& text, QWidget* parent, QVBoxLayout* into);

// Plain text in the warning colour, wrapped.
QLabel* warningLabel(const QString& text, QWidget* parent);
// Our own fixed text with bold spans (**…**), wrapped.
QLabel* markdownLabel(const QString& text, QWidget* parent);

}  // namespace keldwick
