#pragma once
// One numbered instruction: the number in an accent-coloured circle beside the text.
// The text is one of the program's own fixed sentences, with **bold** spans (Markdown);
// never pass data through it.

#include <QWidget>

class QLabel;

namespace keldwick {

class NumberedStep final : public QWidget {
    Q_OBJECT

public:
    NumberedStep(int number, const QString& markdown, QWidget* parent = nullptr);

    int number() const { return number_; }
    QLabel* textLabel() const { return text_; }

private:
    int number_;
    QLabel* text_;
};

}  // namespace keldwick
