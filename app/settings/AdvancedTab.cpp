#include "settings/AdvancedTab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include "settings/SettingsForm.h"
#include "settings/SettingsHost.h"
#include "ui/PlainText.h"

namespace keldwick {

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

QSpinBox* stepperBox(QWidget* parent) {
    auto* box = new QSpinBox(parent);
    // Typing a number saves it once, not digit by digit.
    box->setKeyboardTracking(false);
    box->setMinimumWidth(80);
    return box;
}

// A label beside its stepper.
QWidget* stepperRow(QLabel* label, QSpinBox* box, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label, 1);
    layout->addWidget(box);
    return row;
}

// Shows `state` without a write: the caller blocks the box's signals.
void showStepper(QSpinBox* box, const StepperState& state) {
    box->setEnabled(state.editable);
    if (!state.editable) return;
    box->setRange(static_cast<int>(state.minimum), static_cast<int>(state.maximum));
    box->setSingleStep(static_cast<int>(state.step));
    box->setValue(static_cast<int>(state.value));
}

}  // namespace

AdvancedTab::AdvancedTab(SettingsHost& host, QWidget* parent) : QWidget(parent), host_(host) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(16);

    layout->addWidget(createAmountsSection());
    layout->addWidget(createTestSection());
    layout->addStretch();

    render();

    // Connected after the first render: only the user's edits reach the settings.
    connectEdits();
}

// The age, the levels, what else may move, and how often free space is checked.
QWidget* AdvancedTab::createAmountsSection() {
    FormSection amounts = formSection(QStringLiteral("Exact amounts"), this);
    age_ = stepperBox(this);
    ageLabel_ = markdownLabel(QString(), this);
    amounts.body->addWidget(stepperRow(ageLabel_, age_, this));
    projects_ = wrappingSwitch(
        QStringLiteral("Also move code projects and Android emulators unused that long, each in one piece"), this,
        amounts.body);
    recent_ = wrappingSwitch(QStringLiteral("When that isn't enough, also move videos, photos, documents, projects "
                                            "and Android emulators over 100 MB unused for a week"),
                             this, amounts.body);
    caches_ = wrappingSwitch(QStringLiteral("When space runs low, clear caches first (at most once a day)"), this,
                             amounts.body);
    threshold_ = stepperBox(this);
    thresholdLabel_ = markdownLabel(QString(), this);
    amounts.body->addWidget(stepperRow(thresholdLabel_, threshold_, this));
    target_ = stepperBox(this);
    targetLabel_ = markdownLabel(QString(), this);
    amounts.body->addWidget(stepperRow(targetLabel_, target_, this));
    interval_ = new QComboBox(this);
    auto* intervalRow = new QHBoxLayout;
    intervalRow->addWidget(new QLabel(QStringLiteral("Check free space every"), this), 1);
    intervalRow->addWidget(interval_);
    amounts.body->addLayout(intervalRow);
    return amounts.widget;
}

QWidget* AdvancedTab::createTestSection() {
    FormSection test = formSection(QString(), this);
    testMode_ = new QCheckBox(QStringLiteral("Test mode"), this);
    test.body->setSpacing(4);
    test.body->addWidget(testMode_);
    test.body->addWidget(secondaryLabel(QStringLiteral("Keldwick shows and notes what it would move, but doesn't "
                                                       "move anything. Handy for trying it out."),
                                        this, true, true));
    setFooter(test, QString::fromUtf8(kAlwaysBringBack));
    return test.widget;
}

void AdvancedTab::connectEdits() {
    connect(age_, &QSpinBox::valueChanged, this, [this](int days) {
        host_.updateSettings([days](AppSettings& s) { s.minimumAgeDays = days; });
    });
    connect(threshold_, &QSpinBox::valueChanged, this, [this](int gigabytes) {
        host_.updateSettings(SettingsChanges::setGigabytes(gigabytes, &AppSettings::thresholdBytes));
    });
    connect(target_, &QSpinBox::valueChanged, this, [this](int gigabytes) {
        host_.updateSettings(SettingsChanges::setGigabytes(gigabytes, &AppSettings::targetBytes));
    });
    connect(interval_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        const qlonglong minutes = interval_->itemData(index).toLongLong();
        host_.updateSettings([minutes](AppSettings& s) { s.checkIntervalMinutes = minutes; });
    });
    connect(projects_, &QCheckBox::toggled, this,
            [this](bool on) { setBool(&AppSettings::moveProjectsAndEmulators, on); });
    connect(recent_, &QCheckBox::toggled, this, [this](bool on) { setBool(&AppSettings::moveRecentLightFiles, on); });
    connect(caches_, &QCheckBox::toggled, this, [this](bool on) { setBool(&AppSettings::clearCachesWhenLow, on); });
    connect(testMode_, &QCheckBox::toggled, this, [this](bool on) { setBool(&AppSettings::dryRunMode, on); });
    connect(&host_, &SettingsHost::stateChanged, this, &AdvancedTab::render);
}

void AdvancedTab::setBool(bool AppSettings::*field, bool on) {
    host_.updateSettings([field, on](AppSettings& s) { s.*field = on; });
}

void AdvancedTab::render() {
    const AdvancedScreen screen = advancedScreen(host_.state().settings);
    const QSignalBlocker blockAge(age_), blockThreshold(threshold_), blockTarget(target_), blockInterval(interval_),
        blockProjects(projects_), blockRecent(recent_), blockCaches(caches_), blockTest(testMode_);
    showStepper(age_, screen.age);
    setMarkdownText(ageLabel_, text(screen.ageLabel));
    // Each stepper is named by the sentence beside it, as a screen reader should say it.
    for (auto [box, label] : {std::pair{age_, &screen.ageLabel}, std::pair{threshold_, &screen.thresholdLabel},
                              std::pair{target_, &screen.targetLabel}}) {
        box->setAccessibleName(withoutMarkup(text(*label)));
    }
    projects_->setChecked(screen.moveProjects);
    recent_->setChecked(screen.moveRecentLightFiles);
    caches_->setChecked(screen.clearCachesWhenLow);
    showStepper(threshold_, screen.thresholdGB);
    setMarkdownText(thresholdLabel_, text(screen.thresholdLabel));
    showStepper(target_, screen.targetGB);
    setMarkdownText(targetLabel_, text(screen.targetLabel));
    interval_->clear();
    for (int64_t minutes : screen.intervals) {
        interval_->addItem(text(intervalText(minutes)), QVariant::fromValue<qlonglong>(minutes));
    }
    interval_->setCurrentIndex(screen.intervalIndex);
    testMode_->setChecked(screen.testMode);
}

}  // namespace keldwick
