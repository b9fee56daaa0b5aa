#pragma once
// Item names, paths and error texts are data, never markup. Qt guesses rich text for
// labels, tooltips and message boxes, so a file named "<img src=…>" would render as
// HTML: these helpers keep such texts plain.

#include <QString>
#include <string>

class QLabel;
class QWidget;

namespace keldwick {

// A path or name as stored (bytes, normally UTF-8) as text for the screen.
QString fromPath(const std::string& path);

// The name in typographic quotes: “name”.
QString quoted(const QString& name);

// A label that shows `text` exactly as written, word-wrapped when asked.
QLabel* plainLabel(const QString& text, QWidget* parent = nullptr, bool wrap = false);

// A plain label in the secondary colour; smaller when it is a caption.
QLabel* secondaryLabel(const QString& text, QWidget* parent = nullptr, bool wrap = false, bool caption = false);

// Markup for a tooltip that shows `text` exactly as written (line breaks kept). Tooltips
// have no plain-text setting, so the text is escaped inside a paragraph.
QString toolTipText(const QString& text);

// Sets `widget`'s tooltip to `text` shown exactly, and its accessible description to the
// same words: a screen reader would otherwise read the tooltip's markup.
void setPlainToolTip(QWidget* widget, const QString& text);

// The words of a Markdown text without its emphasis and code marks, as a screen reader should say them.
QString withoutMarkup(const QString& markdown);

// Shows `markdown` in a Markdown label and names the label by its plain words.
void setMarkdownText(QLabel* label, const QString& markdown);

}  // namespace keldwick
