#include "onboarding/WelcomeStep.h"

#include <QVBoxLayout>

#include "onboarding/Point.h"
#include "onboarding/StepHeader.h"
#include "ui/StepStyle.h"

namespace keldwick {

WelcomeStep::WelcomeStep(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);
    layout->addWidget(new StepHeader(
        std::nullopt, QStringLiteral("Welcome to Keldwick"),
        QStringLiteral("Keldwick keeps your computer from filling up by moving files you don't use to your external drive."),
        this));
    layout->addWidget(new Point(
        "history", QStringLiteral("Finds files you don't use"),
        QStringLiteral("Old downloads, videos, installers, documents and code projects you haven't touched in a "
                       "month. If that's not enough, big videos and documents you haven't opened in a week."),
        this));
    layout->addWidget(new Point("drive", QStringLiteral("Moves them to your drive"),
                                QStringLiteral("Each file is checked on the drive first. A shortcut, with a small "
                                               "arrow on its icon, stays in its place."),
                                this));
    layout->addWidget(new Point("undo", QStringLiteral("Opens them like before"),
                                QStringLiteral("Double-click the shortcut while the drive is plugged in, or bring the "
                                               "file back anytime."),
                                this));
    auto* stays = style::symbolRow(
        "shield-check",
        QStringLiteral("Apps, photo libraries, synced folders and files you're using always stay on your computer."), this);
    stays->setContentsMargins(0, 4, 0, 0);
    layout->addWidget(stays);
    layout->addStretch();
}

}  // namespace keldwick
