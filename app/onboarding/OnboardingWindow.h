#pragma once
// "Welcome to Keldwick": the first-run guide, one page at a time above a bar of Back,
// Do This Later and the primary button. The page follows the guide's model, which outlives
// the window, so a guide closed half way opens again on the same page with the same
// choices. Each page is made afresh when shown (its own state starts over, its probes and
// estimates start and stop with it). Only "Done" and "Review Files…" finish the guide.

#include <QDialog>

#include "model/OnboardingModel.h"
#include "ui/WindowRegistry.h"

class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace keldwick {

class OnboardingHost;

class OnboardingWindow final : public QDialog {
    Q_OBJECT

public:
    static constexpr int defaultWidth = 620;
    static constexpr int defaultHeight = 600;

    explicit OnboardingWindow(OnboardingHost& host, QWidget* parent = nullptr);

    // The page shown and the step it is for.
    QWidget* page() const { return page_; }
    QScrollArea* scrollArea() const { return scroll_; }
    OnboardingModel::Step pageStep() const { return pageStep_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* laterButton() const { return later_; }
    QPushButton* primaryButton() const { return primary_; }

    // Moves the guide `offset` steps; nothing past either end.
    void move(int offset);

private:
    void showPage();
    void renderBar();
    void primaryPressed();
    // Writes the choices, closes, then says whether the login item could not be set.
    void finish(bool review);

    OnboardingHost& host_;
    QVBoxLayout* area_;
    QWidget* page_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    OnboardingModel::Step pageStep_ = OnboardingModel::Step::welcome;
    QPushButton* back_;
    QPushButton* later_;
    QPushButton* primary_;
};

// The registry's entry for the window over `host`.
WindowRegistry::Entry onboardingWindowEntry(OnboardingHost& host);

}  // namespace keldwick
