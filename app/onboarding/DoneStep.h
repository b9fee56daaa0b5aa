#pragma once
// The guide's last page: what the program will do with the choices, a reminder to keep
// the drive plugged in, and, while shown, an estimate of what could move right away. From
// 1 GB on it offers "Review Files…", which the window answers by finishing and opening
// the preview.

#include <QWidget>

class QLabel;
class QPushButton;

namespace keldwick {

class OnboardingHost;
class Point;
class StepHeader;

class DoneStep final : public QWidget {
    Q_OBJECT

public:
    explicit DoneStep(OnboardingHost& host, QWidget* parent = nullptr);

    StepHeader* header() const { return header_; }
    Point* levelPoint() const { return level_; }
    Point* keepPoint() const { return keep_; }
    QWidget* movableBox() const { return box_; }
    QLabel* movableLabel() const { return movable_; }
    QPushButton* reviewButton() const { return review_; }

signals:
    void reviewRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void render();

    OnboardingHost& host_;
    StepHeader* header_;
    Point* level_;
    Point* keep_;
    QWidget* box_;
    QLabel* movable_;
    QPushButton* review_;
};

}  // namespace keldwick
