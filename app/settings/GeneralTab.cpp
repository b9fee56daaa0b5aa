#include "settings/GeneralTab.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "settings/SettingsHost.h"
#include "settings/SettingsScreens.h"
#include "ui/KeepFreePicker.h"
#include "ui/PlainText.h"

namespace keldwick {

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

}  // namespace

GeneralTab::GeneralTab(SettingsHost& host, QWidget* parent) : QWidget(parent), host_(host) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(16);
    layout->addWidget(createKeepFreeSection());
    layout->addWidget(createMovingSection());
    layout->addWidget(createSystemSection());
    layout->addWidget(createUpdatesSection());
    layout->addStretch();

    render();
    // Connected after the first render: only the user's edits reach the settings.
    connectEdits();
}

QWidget* GeneralTab::createKeepFreeSection() {
    keepFreeSection_ = formSection(QStringLiteral("Keep at least this much free on this computer"), this);
    keepFree_ = new KeepFreePicker(host_.state().settings.thresholdBytes, this);
    keepFreeSection_.body->addWidget(keepFree_);
    return keepFreeSection_.widget;
}

// Asking first and pausing.
QWidget* GeneralTab::createMovingSection() {
    FormSection moving = formSection(QStringLiteral("Moving files"), this);
    askFirst_ = new QCheckBox(QStringLiteral("Ask me before moving files"), this);
    askCaption_ = secondaryLabel(QString(), this, true, true);
    auto* ask = new QVBoxLayout;
    ask->setSpacing(4);
    ask->addWidget(askFirst_);
    ask->addWidget(askCaption_);
    moving.body->addLayout(ask);
    pause_ = new QCheckBox(QStringLiteral("Pause Keldwick"), this);
    auto* pause = new QVBoxLayout;
    pause->setSpacing(4);
    pause->addWidget(pause_);
    pause->addWidget(secondaryLabel(
        QStringLiteral("While paused, nothing moves on its own. You can still make room yourself."), this, true, true));
    moving.body->addLayout(pause);
    setFooter(moving, QString::fromUtf8(kAlwaysBringBack));
    return moving.widget;
}

// The login item and notifications.
QWidget* GeneralTab::createSystemSection() {
    FormSection system = formSection(QString(), this);
    login_ = new QCheckBox(QStringLiteral("Open Keldwick when you log in"), this);
    // Read once, as the tab is built: the autostart entry changes behind no one's back.
    login_->setChecked(host_.loginItemEnabled());
    loginProblem_ = warningLabel(QString(), this);
    loginProblem_->hide();
    notifications_ = new QCheckBox(QStringLiteral("Show notifications"), this);
    system.body->addWidget(login_);
    if (auto note = host_.loginItemNote()) system.body->addWidget(secondaryLabel(text(*note), this, true, true));
    system.body->addWidget(loginProblem_);
    system.body->addWidget(notifications_);
    return system.widget;
}

// The updater's switches, or why there are none, and the version with its check button.
QWidget* GeneralTab::createUpdatesSection() {
    updatesSection_ = formSection(QStringLiteral("Updates"), this);
    FormSection& updates = updatesSection_;
    const UpdateFacts facts = host_.updates();
    if (facts.isConfigured) {
        automaticChecks_ = new QCheckBox(QStringLiteral("Check for updates automatically"), this);
        updates.body->addWidget(automaticChecks_);
        automaticDownloads_ = new QCheckBox(QStringLiteral("Download and install updates automatically"), this);
        updates.body->addWidget(automaticDownloads_);
    } else {
        notSetUp_ = secondaryLabel(QString(), this, true);
        updates.body->addWidget(notSetUp_);
    }
    auto* versionRow = new QHBoxLayout;
    version_ = secondaryLabel(QString(), this, true);
    version_->setWordWrap(false);
    checkForUpdates_ = new QPushButton(QStringLiteral("Check for Updates\u2026"), this);
    versionRow->addWidget(version_);
    versionRow->addStretch();
    versionRow->addWidget(checkForUpdates_);
    updates.body->addLayout(versionRow);
    return updates.widget;
}

void GeneralTab::connectEdits() {
    connect(keepFree_, &KeepFreePicker::selectionChanged, this,
            [this](qint64 bytes) { host_.updateSettings(SettingsChanges::setThresholdBytes(bytes)); });
    connect(askFirst_, &QCheckBox::toggled, this,
            [this](bool on) { host_.updateSettings(SettingsChanges::toggleAutomaticRunsApproved(on)); });
    connect(pause_, &QCheckBox::toggled, this,
            [this](bool on) { host_.updateSettings([on](AppSettings& s) { s.isPaused = on; }); });
    connect(notifications_, &QCheckBox::toggled, this,
            [this](bool on) { host_.updateSettings([on](AppSettings& s) { s.notificationsEnabled = on; }); });
    connect(login_, &QCheckBox::toggled, this, &GeneralTab::setLoginItem);
    if (automaticChecks_) {
        connect(automaticChecks_, &QCheckBox::toggled, this,
                [this](bool on) { host_.setChecksForUpdatesAutomatically(on); });
    }
    if (automaticDownloads_) {
        connect(automaticDownloads_, &QCheckBox::toggled, this, [this](bool on) {
            host_.setDownloadsUpdatesAutomatically(on);
            render();
        });
    }
    connect(checkForUpdates_, &QPushButton::clicked, this, [this] { host_.checkForUpdates(); });
    connect(&host_, &SettingsHost::stateChanged, this, &GeneralTab::render);
}

void GeneralTab::render() {
    const GeneralScreen screen = generalScreen(host_.state(), host_.updates());
    const QSignalBlocker blockPicker(keepFree_), blockAsk(askFirst_), blockPause(pause_),
        blockNotifications(notifications_), blockChecks(automaticChecks_), blockDownloads(automaticDownloads_);
    keepFree_->setSelection(screen.keepFreeBytes);
    setFooter(keepFreeSection_, text(screen.keepFreeFooter));
    askFirst_->setChecked(screen.askFirst);
    askCaption_->setText(text(screen.askCaption));
    pause_->setChecked(screen.paused);
    notifications_->setChecked(screen.notifications);
    if (automaticChecks_) automaticChecks_->setChecked(screen.checksAutomatically);
    if (automaticDownloads_) {
        automaticDownloads_->setChecked(screen.downloadsAutomatically);
        automaticDownloads_->setEnabled(screen.downloadSwitchEnabled);
        // Below the section, where a wrapped line gets the height it needs.
        setFooter(updatesSection_, text(screen.downloadSwitchNote.value_or("")));
    }
    if (notSetUp_) notSetUp_->setText(text(screen.updatesNotSetUp.value_or("")));
    version_->setText(text(screen.versionText));
    checkForUpdates_->setEnabled(screen.checkForUpdatesEnabled);
}

// A refused change leaves the switch showing what the system does, with the reason.
void GeneralTab::setLoginItem(bool on) {
    try {
        host_.setLoginItem(on);
        loginProblem_->hide();
    } catch (const std::exception& e) {
        const QSignalBlocker block(login_);
        login_->setChecked(host_.loginItemEnabled());
        loginProblem_->setText(text(loginItemProblemText(e.what())));
        loginProblem_->show();
    }
}

}  // namespace keldwick
