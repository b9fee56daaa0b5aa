#pragma once
// What a list shows when it has nothing to show: a symbol, a title, a line of explanation
// and, when asked, buttons. Every text is plain, since titles can hold a search text or a
// file name.

#include <QWidget>
#include <functional>
#include <string_view>

class QLabel;
class QHBoxLayout;
class QPushButton;

namespace keldwick {

class EmptyStateView final : public QWidget {
    Q_OBJECT

public:
    EmptyStateView(std::string_view symbol, const QString& title, const QString& description,
                   QWidget* parent = nullptr);

    void setTitle(const QString& title);
    void setDescription(const QString& description);  // hidden when empty
    QPushButton* addButton(const QString& text, std::function<void()> action);

    QLabel* titleLabel() const { return title_; }
    QLabel* descriptionLabel() const { return description_; }

    // The form a search with no results takes: No Results for “text”.
    static QString noResultsTitle(const QString& searchText);
    static QString noResultsDescription();

private:
    QLabel* icon_;
    QLabel* title_;
    QLabel* description_;
    QHBoxLayout* buttons_;
};

}  // namespace keldwick
