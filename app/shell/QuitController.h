#pragma once
// Quitting while files move or come back: the operation is asked to stop after its
// current item, and the program waits for it, up to a limit, before it quits. Whatever
// still runs after that is left to the journal and start-up recovery, which exist for
// exactly that.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

namespace keldwick {

class QuitController final : public QObject {
    Q_OBJECT

public:
    struct Hooks {
        std::function<bool()> busy;    // files are moving, coming back or being recovered
        std::function<void()> cancel;  // the running operation's cancel flag
        std::function<void()> quit;    // ends the event loop
    };

    explicit QuitController(Hooks hooks, std::chrono::milliseconds limit = std::chrono::seconds(30),
                            std::chrono::milliseconds poll = std::chrono::milliseconds(200),
                            QObject* parent = nullptr);

    // Quits at once when idle; otherwise cancels and quits once idle or at the limit.
    // A second request changes nothing.
    void request();
    bool isWaiting() const { return poll_.isActive(); }
    // The limit after the first request: the one deadline for the operation and for the
    // background work waited for after the event loop ends. None before a request.
    std::optional<std::chrono::steady_clock::time_point> deadline() const { return deadline_; }

private:
    void check();

    Hooks hooks_;
    std::chrono::milliseconds limit_;
    QTimer poll_;
    QElapsedTimer waited_;  // monotonic
    bool requested_ = false;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
};

}  // namespace keldwick
