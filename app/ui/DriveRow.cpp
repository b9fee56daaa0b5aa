#include "ui/DriveRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>

#include "foundation/Formatting.h"
#include "ui/Brand.h"
#include "ui/ElidedLabel.h"
#include "ui/Accessibility.h"
#include "ui/PlainText.h"
#include "ui/StepStyle.h"
#include "ui/Symbols.h"

namespace keldwick {

std::string driveRowSpaceText(const VolumeInfo& volume) {
    return byteCountText(volume.availableBytes) + " free of " + byteCountText(volume.totalBytes);
}

bool driveRowShowsUsedBefore(const DriveOption& option) {
    return option.usedBefore && option.problems.empty();
}

std::optional<std::string> driveRowProblemText(const DriveOption& option) {
    if (auto problem = DriveProblem::mostHelpful(option.problems)) return problem->explanation();
    return std::nullopt;
}

std::string driveRowHelp(const DriveOption& option) {
    std::vector<std::string> parts;
    std::string format = option.volume.fileSystem;
    std::transform(format.begin(), format.end(), format.begin(), [](unsigned char c) { return std::toupper(c); });
    if (!format.empty()) parts.push_back(format);
    if (option.hardware) {
        if (auto connection = option.hardware->connection()) parts.push_back(*connection);
        if (auto name = option.hardware->displayName()) parts.push_back(*name);
    }
    std::string help;
    for (const auto& part : parts) help += (help.empty() ? "" : " \u00b7 ") + part;
    return help;
}

namespace {
constexpr const char* usedBeforeText = "Keldwick has used this drive before. It will pick up where it left off.";
}

std::string driveRowAccessibleName(const DriveOption& option, bool isChosen) {
    std::string name = option.volume.name + ", " + driveRowSpaceText(option.volume);
    if (isChosen) return name + ", Chosen";
    if (driveRowShowsUsedBefore(option)) name += std::string(", ") + usedBeforeText;
    if (auto problem = driveRowProblemText(option)) name += ", " + *problem;
    return name;
}

std::string driveRowButtonName(const DriveOption& option) {
    return "Use \u201c" + option.volume.name + "\u201d";
}

DriveRow::DriveRow(const DriveOption& option, bool isChosen, std::function<void()> choose, QWidget* parent)
    : QFrame(parent), option_(option), isChosen_(isChosen) {
    static const bool once = (readAsOneElement(staticMetaObject, QAccessible::ListItem,
                                               [](const QWidget* row) -> QList<QWidget*> {
                                                   auto* button = static_cast<const DriveRow*>(row)->chooseButton();
                                                   return button ? QList<QWidget*>{button} : QList<QWidget*>{};
                                               }),
                              true);
    (void)once;
    const bool usable = option.problems.empty();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(12);
    row->addWidget(style::symbolLabel("drive-filled", 28, this, !usable), 0, Qt::AlignTop);

    auto* lines = new QVBoxLayout;
    lines->setSpacing(3);
    // A long volume name is shortened, whole in its tooltip, never cut mid-letter.
    auto* name = new ElidedLabel(QString::fromStdString(option.volume.name), this);
    style::font(name, 1.0, QFont::DemiBold);
    lines->addWidget(name);
    auto* space = plainLabel(QString::fromStdString(driveRowSpaceText(option.volume)), this);
    style::secondary(space);
    lines->addWidget(space);
    if (driveRowShowsUsedBefore(option)) {
        usedBefore_ = plainLabel(QString::fromUtf8(usedBeforeText), this, true);
        style::secondary(usedBefore_);
        lines->addWidget(usedBefore_);
    }
    // The drive in use is ticked, not warned about: why a drive can't be picked matters
    // only on the rows one could pick.
    if (auto problem = isChosen ? std::nullopt : driveRowProblemText(option)) {
        problem_ = plainLabel(QString::fromStdString(*problem), this, true);
        style::tint(problem_, brandOrange());
        lines->addWidget(problem_);
    }
    row->addLayout(lines, 1);

    if (isChosen) {
        auto* check = new QLabel(this);
        check->setPixmap(Symbols::drawn("check-filled", successGreen()).pixmap(24, 24));
        check->setAccessibleName(QStringLiteral("Chosen"));
        row->addWidget(check, 0, Qt::AlignTop);
    } else if (usable) {
        button_ = new QPushButton(QStringLiteral("Use This Drive"), this);
        button_->setAccessibleName(QString::fromStdString(driveRowButtonName(option)));
        connect(button_, &QPushButton::clicked, this, [choose = std::move(choose)] {
            if (choose) choose();
        });
        row->addWidget(button_, 0, Qt::AlignTop);
    }
    setPlainToolTip(this, QString::fromStdString(driveRowHelp(option)));
    setAccessibleName(QString::fromStdString(driveRowAccessibleName(option, isChosen)));
}

void DriveRow::paintEvent(QPaintEvent* event) {
    style::paintPanel(this);
    QFrame::paintEvent(event);
}

}  // namespace keldwick
