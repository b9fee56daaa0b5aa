#include "preview/AppModelPreviewHost.h"

#include "model/AppModel.h"
#include "model/ModelChanges.h"

namespace keldwick {

AppModelPreviewHost::AppModelPreviewHost(AppModel& model, QObject* parent)
    : PreviewHost(parent), model_(model), files_(QDBusConnection::sessionBus(), {}, {}, this) {
    connectEveryChange(model_, *this, QMetaMethod::fromSignal(&PreviewHost::stateChanged));
    connect(&model_, &AppModel::previewChanged, this, &PreviewHost::previewReplaced);
}

const ModelState& AppModelPreviewHost::state() const { return model_.state(); }

PreviewModel* AppModelPreviewHost::preview() const { return model_.preview().get(); }

Date AppModelPreviewHost::now() const { return model_.services().clock->now(); }

void AppModelPreviewHost::openPreview() { model_.openPreview(PreviewKind::manual, std::nullopt, std::nullopt, true); }

// Only the preview the model holds can be approved: a window still showing one the
// model has replaced approves nothing.
void AppModelPreviewHost::approvePreview(PreviewModel& preview) {
    if (model_.preview().get() == &preview) model_.approvePreview(model_.preview());
}

void AppModelPreviewHost::previewClosed(PreviewModel* preview) { model_.previewClosed(preview); }

void AppModelPreviewHost::requestWindow(AppWindow window) { model_.requestWindow(window); }

void AppModelPreviewHost::chooseFilesToMove() { model_.chooseFilesToMove(); }

void AppModelPreviewHost::pin(const std::vector<std::string>& paths) { model_.pin(paths); }

void AppModelPreviewHost::showItems(const std::vector<std::string>& paths) { files_.showItems(paths); }

}  // namespace keldwick
