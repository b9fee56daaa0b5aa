#pragma once
// A bullet of the guide: a symbol beside a semibold title and a secondary text. Read by
// accessibility as one element. Title and text are plain (they can name the drive).

#include <QWidget>
#include <string>

class QLabel;

namespace keldwick {

class Point final : public QWidget {
    Q_OBJECT

public:
    Point(const std::string& systemImage, const QString& title, const QString& text, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    void setText(const QString& text);
    QLabel* titleLabel() const { return title_; }
    QLabel* textLabel() const { return text_; }

private:
    void describe();

    QLabel* title_;
    QLabel* text_;
};

}  // namespace keldwick
