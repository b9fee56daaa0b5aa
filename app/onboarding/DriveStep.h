#pragma once
// The guide's page that picks the drive: the drives mounted now, kept current as drives
// are plugged in and out, "Use This Drive" on each usable one, and how the pick went (the
// speed test running, the drive ready, or why it failed). Every row is disabled while a
// drive is measured.

#include <QWidget>
#include <vector>

class QLabel;
class QProgressBar;
class QVBoxLayout;

namespace keldwick {

class DriveRow;
class OnboardingHost;
class Point;

class DriveStep final : public QWidget {
    Q_OBJECT

public:
    explicit DriveStep(OnboardingHost& host, QWidget* parent = nullptr);

    const std::vector<DriveRow*>& rows() const { return rows_; }
    QWidget* emptyNote() const { return empty_; }
    QWidget* measuring() const { return measuring_; }
    Point* ready() const { return ready_; }
    QLabel* errorLabel() const { return errorText_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* createList();
    QWidget* createMeasuring();
    void renderRows();
    void renderStatus();

    OnboardingHost& host_;
    QWidget* empty_;
    QVBoxLayout* list_;
    std::vector<DriveRow*> rows_;
    QWidget* measuring_;
    Point* ready_;
    QWidget* error_;
    QLabel* errorText_ = nullptr;
};

}  // namespace keldwick
