#include "preview/PreviewWindow.h"

#include <QVBoxLayout>

#include "model/PreviewModel.h"
#include "preview/PreviewContent.h"
#include "preview/PreviewHost.h"
#include "ui/EmptyStateView.h"

namespace keldwick {

PreviewWindow::PreviewWindow(PreviewHost& host, QWidget* parent) : QDialog(parent, Qt::Window), host_(host) {
    setWindowTitle(WindowRegistry::titleOf(AppWindow::preview));
    setAttribute(Qt::WA_DeleteOnClose);
    setMinimumSize(720, 540);
    resize(defaultWidth, defaultHeight);
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);

    followTimer_.setSingleShot(true);
    followTimer_.setInterval(0);
    connect(&followTimer_, &QTimer::timeout, this, &PreviewWindow::follow);
    connect(&host_, &PreviewHost::previewReplaced, this, &PreviewWindow::scheduleFollow);
    connect(&host_, &PreviewHost::stateChanged, this, [this] {
        if (!content_) scheduleFollow();
    });
    // Every way of closing (the buttons, Escape, the window's own close) ends here.
    connect(this, &QDialog::finished, this, [this] { host_.previewClosed(shown_); });
    follow();
}

void PreviewWindow::scheduleFollow() {
    if (!followTimer_.isActive()) followTimer_.start();
}

void PreviewWindow::follow() {
    followTimer_.stop();
    PreviewModel* current = host_.preview();
    if (current && current == shown_ && content_) return;
    // The old content may be the one whose button got us here: it goes once that returns.
    if (content_) {
        content_->hide();
        content_->deleteLater();
        content_ = nullptr;
    }
    shown_ = current;
    if (current) {
        if (empty_) {
            delete empty_;
            shownEmpty_.reset();
        }
        content_ = new PreviewContent(host_, *current, [this] { close(); }, this);
        layout_->addWidget(content_);
        content_->show();
        return;
    }
    renderEmpty();
}

void PreviewWindow::renderEmpty() {
    const PreviewScreen screen = previewScreen(host_.state(), nullptr);
    if (empty_ && shownEmpty_ == screen.empty) return;
    delete empty_;
    const PreviewEmptyState& state = *screen.empty;
    empty_ = new EmptyStateView(state.symbol, QString::fromStdString(state.title),
                                QString::fromStdString(state.description), this);
    for (const auto& button : state.buttons) {
        // The one button here opens a preview; the window stays and shows it.
        empty_->addButton(QString::fromStdString(button.first), [this] { host_.openPreview(); });
    }
    layout_->addWidget(empty_);
    empty_->show();
    shownEmpty_ = screen.empty;
}

WindowRegistry::Entry previewWindowEntry(PreviewHost& host) {
    return {WindowRegistry::titleOf(AppWindow::preview), QSize(PreviewWindow::defaultWidth, PreviewWindow::defaultHeight),
            [&host] { return new PreviewWindow(host); }};
}

}  // namespace keldwick
