#pragma once
// Work the model sends off the main thread and the value it hands back. The work runs on
// the executor; its value, or the error it threw, comes back on the main thread through
// the relay, and never once the relay's owner has closed it on its way out.

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "model/BackgroundExecutor.h"
#include "model/MainThreadRelay.h"

namespace keldwick {

// The result of work run off the main thread: its value, or the error it threw.
template <class T>
struct EngineOutcome {
    std::optional<T> value;
    std::exception_ptr error;

    bool succeeded() const { return value.has_value(); }
    // The error's own sentence (an EngineError's user text, a system error's message).
    std::string errorText() const {
        if (!error) return {};
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            return e.what();
        } catch (...) {
            return "Unknown error";
        }
    }
};

class BackgroundWork {
public:
    BackgroundWork(std::shared_ptr<BackgroundExecutor> executor, std::shared_ptr<MainThreadRelay> relay)
        : executor_(std::move(executor)), relay_(std::move(relay)) {}

    // Runs `work` on a background thread and calls `done` with its value or error on the
    // main thread, unless the relay is closed by then.
    template <class T>
    void run(WorkPriority priority, std::function<T()> work, std::function<void(EngineOutcome<T>)> done) const {
        run<T>(priority, std::move(work), std::move(done), nullptr);
    }
    // As above, for work that watches `cancel`, which the executor sets when it stops.
    template <class T>
    void run(WorkPriority priority, std::function<T()> work, std::function<void(EngineOutcome<T>)> done,
             std::shared_ptr<CancellationFlag> cancel) const {
        auto task = [relay = relay_, work = std::move(work), done = std::move(done)]() mutable {
            auto outcome = std::make_shared<EngineOutcome<T>>();
            try {
                outcome->value.emplace(work());
            } catch (...) {
                outcome->error = std::current_exception();
            }
            // What the work holds (an engine, a journal) is released here, not on the main thread.
            work = nullptr;
            relay->post([outcome, done = std::move(done)] {
                if (done) done(std::move(*outcome));
            });
        };
        if (cancel) {
            executor_->runCancellable(priority, std::move(task), std::move(cancel));
        } else {
            executor_->run(priority, std::move(task));
        }
    }

private:
    std::shared_ptr<BackgroundExecutor> executor_;
    std::shared_ptr<MainThreadRelay> relay_;
};

}  // namespace keldwick
