#include "onboarding/PermissionStep.h"

#include <QVBoxLayout>

#include "onboarding/PermissionInstructions.h"
#include "onboarding/StepHeader.h"

namespace keldwick {

PermissionStep::PermissionStep(OnboardingHost& host, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new StepHeader("shield-lock", QStringLiteral("Let Keldwick reach your files"),
                                     QStringLiteral("To move files out of your Downloads, Desktop and Documents "
                                                    "folders, Keldwick needs to open them. If it can't, here is what "
                                                    "keeps it out and what to do:"),
                                     this));
    instructions_ = new PermissionInstructions(host, this);
    layout->addWidget(instructions_);
    layout->addStretch();
}

}  // namespace keldwick
