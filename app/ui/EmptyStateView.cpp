#include "ui/EmptyStateView.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/PlainText.h"
#include "ui/Symbols.h"

namespace keldwick {

EmptyStateView::EmptyStateView(std::string_view symbol, const QString& title, const QString& description,
                               QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    icon_ = new QLabel(this);
    icon_->setPixmap(Symbols::icon(symbol).pixmap(40, 40));
    icon_->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon_);

    title_ = plainLabel(QString(), this, true);
    QFont bold = title_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    title_->setFont(bold);
    title_->setAlignment(Qt::AlignCenter);
    layout->addWidget(title_);

    description_ = plainLabel(QString(), this, true);
    description_->setAlignment(Qt::AlignCenter);
    description_->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(description_);

    buttons_ = new QHBoxLayout;
    buttons_->addStretch();
    buttons_->addStretch();
    layout->addLayout(buttons_);
    layout->addStretch();

    setTitle(title);
    setDescription(description);
}

void EmptyStateView::setTitle(const QString& title) { title_->setText(title); }

void EmptyStateView::setDescription(const QString& description) {
    description_->setText(description);
    description_->setVisible(!description.isEmpty());
}

QPushButton* EmptyStateView::addButton(const QString& text, std::function<void()> action) {
    auto* button = new QPushButton(text, this);
    connect(button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    buttons_->insertWidget(buttons_->count() - 1, button);
    return button;
}

QString EmptyStateView::noResultsTitle(const QString& searchText) {
    return QStringLiteral("No Results for ") + quoted(searchText);
}

QString EmptyStateView::noResultsDescription() { return QStringLiteral("Check the spelling or try a new search."); }

}  // namespace keldwick
