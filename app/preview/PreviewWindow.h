#pragma once
// The "Free Up Space" window: whatever preview the model holds at the moment (it follows a
// newer one as soon as the model replaces it), else an empty state that offers to look
// for files or asks for the drive. However it closes, the model hears which preview it
// showed. Return presses the default button and Escape closes.

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <optional>

#include "model/PreviewModel.h"
#include "preview/PreviewContent.h"
#include "preview/PreviewScreen.h"
#include "ui/EmptyStateView.h"
#include "ui/WindowRegistry.h"

class QVBoxLayout;

namespace keldwick {

class PreviewHost;

class PreviewWindow final : public QDialog {
    Q_OBJECT

public:
    static constexpr int defaultWidth = 820;
    static constexpr int defaultHeight = 620;

    explicit PreviewWindow(PreviewHost& host, QWidget* parent = nullptr);

    // The preview shown, or null; the empty state shown without a preview, or null.
    PreviewContent* content() const { return content_; }
    EmptyStateView* emptyState() const { return empty_; }

    // Follows the model's preview now rather than after the pending rebuild.
    void follow();

private:
    void scheduleFollow();
    void renderEmpty();

    PreviewHost& host_;
    QVBoxLayout* layout_;
    QPointer<PreviewModel> shown_;
    QPointer<PreviewContent> content_;
    QPointer<EmptyStateView> empty_;
    std::optional<PreviewEmptyState> shownEmpty_;
    QTimer followTimer_;
};

// The registry's entry for the window: its title, first size and a maker over `host`.
WindowRegistry::Entry previewWindowEntry(PreviewHost& host);

}  // namespace keldwick
