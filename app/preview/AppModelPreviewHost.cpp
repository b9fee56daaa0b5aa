#include "preview/AppModelPreviewHost.h"

#include <QMetaMethod>

#include "model/AppModel.h"

namespace keldwick {

AppModelPreviewHost::AppModelPreviewHost(AppModel& model, QObject* parent)
    : PreviewHost(parent), model_(model), files_(QDBusConnection::sessionBus(), {}, this) {
    const QMetaObject& meta = AppModel::staticMetaObject;
    const QMetaMethod changed = QMetaMethod::fromSignal(&PreviewHost::stateChanged);
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.methodType() != QMetaMethod::Signal || method.parameterCount() != 0) continue;
        connect(&model_, method, this, changed);
    }
    connect(&model_, &AppModel::previewChanged, this, &PreviewHost::previewReplaced);
}

const ModelState& AppModelPreviewHost::state() const { return model_.state(); }

// The model keeps what it reads of a preview (ModelState::preview), not yet the preview
// itself: until it does, the window shows its offer to look for files.
PreviewModel* AppModelPreviewHost::preview() const { return nullptr; }

Date AppModelPreviewHost::now() const { return model_.services().clock->now(); }

void AppModelPreviewHost::openPreview() { model_.openPreview(PreviewKind::manual, std::nullopt, std::nullopt, true); }

void AppModelPreviewHost::approvePreview(PreviewModel&) {
    qWarning("keldwick: approving a preview is not built into the model yet");
}

void AppModelPreviewHost::previewClosed(PreviewModel* preview) {
    if (preview) qWarning("keldwick: closing a preview is not built into the model yet");
}

void AppModelPreviewHost::requestWindow(AppWindow window) { model_.requestWindow(window); }

void AppModelPreviewHost::chooseFilesToMove() { qWarning("keldwick: moving chosen files is not built yet"); }

void AppModelPreviewHost::pin(const std::vector<std::string>&) {
    qWarning("keldwick: keeping items on this computer is not built into the model yet");
}

void AppModelPreviewHost::showItems(const std::vector<std::string>& paths) { files_.showItems(paths); }

}  // namespace keldwick
