#pragma once
// One kind of background work where only the newest answer counts: listing the folder
// shown, measuring the drive picked, estimating what the folders chosen hold, reading the
// model's state again. Starting one cancels the one before and drops its result, so a slow
// answer to an earlier question never replaces the answer to the current one. Each piece
// of work carries its cancel flag, which the executor also sets when the program quits.
// Main thread only; a result arriving after the job is gone is dropped.

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "foundation/CancellationFlag.h"
#include "model/BackgroundWork.h"

namespace keldwick {

class LatestJob {
public:
    using Cancel = std::shared_ptr<const CancellationFlag>;

    explicit LatestJob(BackgroundWork work) : work_(std::move(work)) {}
    ~LatestJob() { cancel(); }
    LatestJob(const LatestJob&) = delete;
    LatestJob& operator=(const LatestJob&) = delete;

    // Runs `work` in place of the one before; `done` is called on the main thread with its
    // value or error unless a later run() or cancel() came first.
    template <class T>
    void run(WorkPriority priority, std::function<T(const Cancel& cancel)> work,
             std::function<void(EngineOutcome<T>)> done) {
        auto guarded = replace<T>(std::move(done));
        auto flag = state_->flag;
        work_.run<T>(
            priority, [work = std::move(work), cancel = Cancel(flag)] { return work(cancel); }, std::move(guarded),
            flag);
    }

    // For work another object starts: `done` becomes the newest one's, dropped once a
    // later run(), replace() or cancel() comes.
    template <class T>
    std::function<void(EngineOutcome<T>)> replace(std::function<void(EngineOutcome<T>)> done) {
        const uint64_t turn = begin();
        return [state = std::weak_ptr<State>(state_), turn, done = std::move(done)](EngineOutcome<T> outcome) {
            const auto current = state.lock();
            if (!current || current->turn != turn) return;
            current->running = false;
            // Answered: the next one has nothing to cancel.
            current->flag = std::make_shared<CancellationFlag>();
            if (done) done(std::move(outcome));
        };
    }

    // The newest one is told to stop, and its result will be dropped.
    void cancel() {
        state_->flag->cancel();
        ++state_->turn;
        state_->running = false;
    }

    // A run whose result is still awaited.
    bool isRunning() const { return state_->running; }

private:
    struct State {
        uint64_t turn = 0;
        bool running = false;
        std::shared_ptr<CancellationFlag> flag = std::make_shared<CancellationFlag>();
    };

    uint64_t begin() {
        cancel();
        state_->flag = std::make_shared<CancellationFlag>();
        state_->running = true;
        return state_->turn;
    }

    BackgroundWork work_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace keldwick
