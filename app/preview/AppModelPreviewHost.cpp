#include "preview/AppModelPreviewHost.h"

#include "model/AppModel.h"

namespace keldwick {

AppModelPreviewHost::AppModelPreviewHost(AppModel& model, QObject* parent)
    : AppModelWindowHost(model, {}, parent), files_(QDBusConnection::sessionBus(), {}, {}, this) {
    connect(&model_.store(), &ModelStore::changed, this, [this](ModelFields fields) {
        if (fields.has(ModelField::preview)) emit previewReplaced();
    });
}

PreviewModel* AppModelPreviewHost::preview() const { return model_.preview().get(); }

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
