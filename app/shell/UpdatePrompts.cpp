#include "shell/UpdatePrompts.h"

#include <QMessageBox>
#include <QPushButton>

#include "model/MainThread.h"
#include "desktop/UpdateController.h"

namespace keldwick {

UpdatePromptTexts foundUpdateTexts(const std::string& displayVersion, bool canInstall) {
    UpdatePromptTexts texts;
    texts.title = "Software Update";
    texts.message = "Keldwick " + displayVersion + " is available.";
    if (canInstall) {
        texts.informative = "Install it now? Keldwick keeps running until you relaunch it.";
        texts.accept = "Install";
    } else {
        texts.informative = "Open its download page to get it?";
        texts.accept = "Open Download Page";
    }
    texts.later = "Later";
    return texts;
}

UpdatePromptTexts installedUpdateTexts(const std::string& displayVersion) {
    return UpdatePromptTexts{"Software Update", "Keldwick " + displayVersion + " is installed.",
                             "Relaunch Keldwick to start using it. If files are moving, it waits until they're done.",
                             "Relaunch", "Later"};
}

UpdatePromptTexts failedInstallTexts(const std::string& reason) {
    return UpdatePromptTexts{"Software Update", "Keldwick couldn't install the update.", reason, "OK", ""};
}

UpdatePromptTexts upToDateTexts(const std::string& version) {
    return UpdatePromptTexts{"Software Update", "Keldwick is up to date.",
                             "Keldwick " + version + " is the newest version.", "OK", ""};
}

UpdatePromptTexts failedCheckTexts(const std::string& reason) {
    return UpdatePromptTexts{"Software Update", "Keldwick couldn't check for updates.", reason, "OK", ""};
}

UpdatePrompts::UpdatePrompts(UpdateController& controller, std::function<void(const QString&)> relaunch,
                             std::string runningVersion, QObject* parent)
    : QObject(parent), controller_(controller), relaunch_(std::move(relaunch)),
      runningVersion_(std::move(runningVersion)) {
    connect(&controller_, &UpdateController::noUpdateFound, this,
            [this] { show(upToDateTexts(runningVersion_), {}, {}); });
    // A scheduled check fails quietly (the network may just be away); the user's own says why.
    connect(&controller_, &UpdateController::checkFailed, this, [this](const QString& reason) {
        if (controller_.userInitiatedCheck()) show(failedCheckTexts(reason.toStdString()), {}, {});
    });
    connect(&controller_, &UpdateController::updateShown, this, [this](const AppcastItem& update) {
        show(foundUpdateTexts(update.displayVersion.toStdString(), controller_.canInstall()),
             [this] { controller_.installUpdate(); }, [this] { controller_.dismissUpdate(); });
    });
    connect(&controller_, &UpdateController::updateInstalled, this,
            [this](const AppcastItem& update, const QString& program) {
                show(installedUpdateTexts(update.displayVersion.toStdString()),
                     [this, program] {
                         if (relaunch_) relaunch_(program);
                     },
                     {});
            });
    connect(&controller_, &UpdateController::installFailed, this,
            [this](const QString& reason) { show(failedInstallTexts(reason.toStdString()), {}, {}); });
}

UpdatePrompts::~UpdatePrompts() { delete box_.data(); }

void UpdatePrompts::show(const UpdatePromptTexts& texts, std::function<void()> accepted,
                         std::function<void()> declined) {
    assertMainThread();
    // A newer prompt replaces an older one that is still open.
    delete box_.data();
    auto* box = new QMessageBox;
    box_ = box;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QString::fromStdString(texts.title));
    box->setIcon(QMessageBox::Information);
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(texts.message));
    box->setInformativeText(QString::fromStdString(texts.informative));
    QPushButton* accept = box->addButton(QString::fromStdString(texts.accept), QMessageBox::AcceptRole);
    if (!texts.later.empty()) box->addButton(QString::fromStdString(texts.later), QMessageBox::RejectRole);
    box->setDefaultButton(accept);
    connect(box, &QMessageBox::finished, this, [box, accept, accepted = std::move(accepted),
                                                declined = std::move(declined)] {
        if (box->clickedButton() == accept) {
            if (accepted) accepted();
        } else if (declined) {
            declined();
        }
    });
    box->open();
}

}  // namespace keldwick
