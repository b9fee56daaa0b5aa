#pragma once
// The "Advanced" tab: the exact values behind the simpler choices. Controls show the
// stored values without writing them back; only the user's edits are saved, and a value
// stored outside a control's range stays as it is until the user changes it.

#include <QWidget>

#include "settings/SettingsScreens.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

namespace keldwick {

class SettingsHost;

class AdvancedTab final : public QWidget {
    Q_OBJECT

public:
    explicit AdvancedTab(SettingsHost& host, QWidget* parent = nullptr);

    // Shows the stored values again.
    void render();

    QSpinBox* ageBox() const { return age_; }
    QSpinBox* thresholdBox() const { return threshold_; }
    QSpinBox* targetBox() const { return target_; }
    QComboBox* intervalBox() const { return interval_; }
    QCheckBox* testModeBox() const { return testMode_; }
    QCheckBox* projectsBox() const { return projects_; }
    QLabel* thresholdLabel() const { return thresholdLabel_; }

private:
    QWidget* createAmountsSection();
    QWidget* createTestSection();
    void connectEdits();
    void setBool(bool AppSettings::*field, bool on);

    SettingsHost& host_;
    QSpinBox* age_;
    QLabel* ageLabel_;
    QCheckBox* projects_;
    QCheckBox* recent_;
    QCheckBox* caches_;
    QSpinBox* threshold_;
    QLabel* thresholdLabel_;
    QSpinBox* target_;
    QLabel* targetLabel_;
    QComboBox* interval_;
    QCheckBox* testMode_;
};

}  // namespace keldwick
