#include "shell/QuitController.h"

namespace keldwick {

QuitController::QuitController(Hooks hooks, std::chrono::milliseconds limit, std::chrono::milliseconds poll,
                               QObject* parent)
    : QObject(parent), hooks_(std::move(hooks)), limit_(limit) {
    poll_.setInterval(poll);
    connect(&poll_, &QTimer::timeout, this, &QuitController::check);
}

void QuitController::request() {
    if (requested_) return;
    requested_ = true;
    deadline_ = std::chrono::steady_clock::now() + limit_;
    if (!hooks_.busy()) {
        hooks_.quit();
        return;
    }
    hooks_.cancel();
    waited_.start();
    poll_.start();
}

void QuitController::check() {
    if (hooks_.busy() && waited_.elapsed() < limit_.count()) return;
    poll_.stop();
    if (hooks_.busy()) qWarning("keldwick: quitting while an operation still runs; start-up recovery will settle it");
    hooks_.quit();
}

}  // namespace keldwick
