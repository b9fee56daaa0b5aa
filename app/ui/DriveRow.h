#pragma once
// One drive offered as the place for moved files: its name, free space, whether the
// program used it before or why it can't be used, and either the mark of the chosen
// drive or "Use This Drive". Names and explanations are plain text; the tooltip gives
// the file system, the connection and the product. A screen reader meets the row as one
// element named by all of that, holding only its button.

#include <QFrame>
#include <functional>
#include <optional>
#include <string>

#include "model/DriveOption.h"

class QLabel;
class QPushButton;

namespace keldwick {

// "<available> free of <total>".
std::string driveRowSpaceText(const VolumeInfo& volume);
// Whether the row says the drive was used before: this computer's records on it, and no
// problems.
bool driveRowShowsUsedBefore(const DriveOption& option);
// The most helpful problem's explanation, if any.
std::optional<std::string> driveRowProblemText(const DriveOption& option);
// File system in upper case · connection · product, absent parts skipped.
std::string driveRowHelp(const DriveOption& option);
// What a screen reader says for the row: the drive's name, its space, then whether it is
// the chosen one, was used before, or why it can't be used; joined with ", ".
std::string driveRowAccessibleName(const DriveOption& option, bool isChosen);
// The accessible name of the row's "Use This Drive" button, which names its drive.
std::string driveRowButtonName(const DriveOption& option);

class DriveRow final : public QFrame {
    Q_OBJECT

public:
    // `choose` runs when the user picks this drive (only a drive without problems offers it).
    DriveRow(const DriveOption& option, bool isChosen, std::function<void()> choose, QWidget* parent = nullptr);

    const DriveOption& option() const { return option_; }
    bool isChosen() const { return isChosen_; }
    // "Use This Drive", or null when the row is chosen or the drive can't be used.
    QPushButton* chooseButton() const { return button_; }
    // The explanation of the most helpful problem, or null.
    QLabel* problemLabel() const { return problem_; }
    // "Keldwick has used this drive before…", or null.
    QLabel* usedBeforeLabel() const { return usedBefore_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    DriveOption option_;
    bool isChosen_;
    QPushButton* button_ = nullptr;
    QLabel* problem_ = nullptr;
    QLabel* usedBefore_ = nullptr;
};

}  // namespace keldwick
