// The automatic check and what it opens.

#include "model/AppModel.h"

namespace keldwick {

void AppModel::check(Done done) {
    assertMainThread();
    refresh();
    if (done) done();
}

void AppModel::startChecking(Done done) {
    assertMainThread();
    QPointer<AppModel> self(this);
    recoverInterrupted([self, done] {
        if (!self) return;
        self->check([self, done] {
            if (!self) return;
            self->scheduleCheck();
            if (done) done();
        });
    });
}

void AppModel::openPreview(PreviewKind, std::optional<int64_t>, std::optional<ScanFindings>, bool showWindow) {
    assertMainThread();
    if (showWindow) requestWindow(AppWindow::preview);
}

}  // namespace keldwick
