#pragma once
// A one-line label for a text of any length (a drive's or a file's name, a status): it
// takes what room the layout gives, shows as much of the text as fits with "…" where
// the rest is left out, never a letter cut in half, and then offers the whole text as
// its tooltip and accessible name. Plain text only.

#include <QLabel>

namespace keldwick {

class ElidedLabel final : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = QString(), QWidget* parent = nullptr,
                         Qt::TextElideMode mode = Qt::ElideRight);

    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }
    // Whether the text shown leaves part of the whole out.
    bool isElided() const { return text() != full_; }
    // Set as the tooltip while the whole text is shown (else the tooltip is the text).
    void setHelp(const QString& help);

    // As wide as the whole text, and no narrower than an ellipsis and a few letters.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void fit();

    QString full_;
    QString help_;
    Qt::TextElideMode mode_;
};

}  // namespace keldwick
