#include "ui/PlainText.h"

#include <QFile>
#include <QLabel>

namespace keldwick {

QString fromPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

QString quoted(const QString& name) { return QStringLiteral("\u201c") + name + QStringLiteral("\u201d"); }

QLabel* plainLabel(const QString& text, QWidget* parent, bool wrap) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    label->setText(text);
    return label;
}

QLabel* secondaryLabel(const QString& text, QWidget* parent, bool wrap, bool caption) {
    QLabel* label = plainLabel(text, parent, wrap);
    label->setForegroundRole(QPalette::PlaceholderText);
    if (caption) {
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        label->setFont(font);
    }
    return label;
}

QString toolTipText(const QString& text) {
    if (text.isEmpty()) return {};
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

void setPlainToolTip(QWidget* widget, const QString& text) {
    widget->setToolTip(toolTipText(text));
    widget->setAccessibleDescription(text);
}

QString withoutMarkup(const QString& markdown) {
    return QString(markdown).remove(QStringLiteral("**")).remove(QLatin1Char('`'));
}

void setMarkdownText(QLabel* label, const QString& markdown) {
    label->setText(markdown);
    label->setAccessibleName(withoutMarkup(markdown));
}

}  // namespace keldwick
