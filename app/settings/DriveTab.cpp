#include "settings/DriveTab.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QEvent>
#include <QScrollArea>
#include <QVBoxLayout>

#include "settings/SettingsHost.h"
#include "settings/SettingsScreens.h"
#include "ui/DriveRow.h"
#include "ui/ScreenFit.h"
#include "ui/ElidedLabel.h"
#include "ui/PlainText.h"
#include "ui/Symbols.h"

namespace keldwick {

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

}  // namespace

namespace {
constexpr int chooserWidth = 540;
constexpr int chooserMargin = 20;
}

DriveChooser::DriveChooser(const std::vector<DriveOption>& options, const std::optional<Drive>& stored,
                           QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Choose a drive"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The rows scroll to the button Tab reaches; the area itself is no stop.
    scroll->setFocusPolicy(Qt::NoFocus);
    rows_ = new QWidget(scroll);
    auto* layout = new QVBoxLayout(rows_);
    layout->setContentsMargins(chooserMargin, chooserMargin, chooserMargin, 0);
    layout->setSpacing(12);
    QLabel* headline = plainLabel(QStringLiteral("Choose a drive"), rows_);
    QFont bold = headline->font();
    bold.setBold(true);
    headline->setFont(bold);
    layout->addWidget(headline);
    for (const DriveOption& option : options) {
        layout->addWidget(new DriveRow(option, chooserMarksChosen(option, stored), [this, option] {
            close();
            emit chosen(option);
        }, rows_));
    }
    if (options.empty()) {
        auto* empty = new QHBoxLayout;
        auto* icon = new QLabel(rows_);
        icon->setPixmap(Symbols::icon("cable").pixmap(16, 16));
        empty->addWidget(icon);
        empty->addWidget(secondaryLabel(QString::fromUtf8(kNoDriveFound), rows_, true), 1);
        layout->addLayout(empty);
    }
    layout->addStretch();
    scroll->setWidget(rows_);
    outer->addWidget(scroll, 1);

    bar_ = new QWidget(this);
    auto* buttons = new QHBoxLayout(bar_);
    buttons->setContentsMargins(chooserMargin, 12, chooserMargin, chooserMargin);
    buttons->addStretch();
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), bar_);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancel);
    outer->addWidget(bar_);
    fitContent();
}

QSize DriveChooser::sizeHint() const {
    return {chooserWidth, rows_->layout()->totalHeightForWidth(chooserWidth) + bar_->sizeHint().height()};
}

void DriveChooser::fitContent() {
    rows_->layout()->invalidate();
    setFixedSize(chooserWidth, heightOnScreen(*this, sizeHint().height()));
}

bool DriveChooser::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::Show || event->type() == QEvent::FontChange ||
        event->type() == QEvent::ScreenChangeInternal)
        fitContent();
    return handled;
}

DriveTab::DriveTab(SettingsHost& host, QWidget* parent) : QWidget(parent), host_(host) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(16);

    layout->addWidget(createDriveSection());
    layout->addWidget(createActionsSection());
    layout->addWidget(createSpeedSection());
    layout->addStretch();

    connect(showFolder_, &QPushButton::clicked, this, [this] { host_.showDriveFolder(); });
    connect(different_, &QPushButton::clicked, this, &DriveTab::chooseDifferentDrive);
    connect(checkSpeed_, &QPushButton::clicked, this, [this] { host_.checkSpeed(); });
    connect(&host_, &SettingsHost::stateChanged, this, &DriveTab::render);
    render();
}

// The drive in use and what is known of it, or that there is none.
QWidget* DriveTab::createDriveSection() {
    FormSection drive = formSection(QString(), this);
    noDrive_ = plainLabel(QString::fromUtf8(kNoDriveChosen), this);
    drive.body->addWidget(noDrive_);
    facts_ = new QWidget(this);
    auto* form = new QFormLayout(facts_);
    form->setContentsMargins(0, 0, 0, 0);
    name_ = new ElidedLabel(QString(), facts_);
    status_ = plainLabel(QString(), facts_);
    files_ = plainLabel(QString(), facts_);
    kind_ = plainLabel(QString(), facts_);
    kindTitle_ = new QLabel(QStringLiteral("Type"), facts_);
    summary_ = secondaryLabel(QString(), facts_, true);
    form->addRow(QStringLiteral("Drive"), name_);
    form->addRow(QStringLiteral("Status"), status_);
    form->addRow(QStringLiteral("Your files on it"), files_);
    form->addRow(kindTitle_, kind_);
    form->addRow(summary_);
    drive.body->addWidget(facts_);
    return drive.widget;
}

// Showing its folder, choosing another drive, and the check under way or failed.
QWidget* DriveTab::createActionsSection() {
    FormSection actions = formSection(QString(), this);
    auto* buttons = new QHBoxLayout;
    showFolder_ = new QPushButton(QStringLiteral("Show in Folder"), this);
    different_ = new QPushButton(QStringLiteral("Use a Different Drive\u2026"), this);
    spinner_ = new QProgressBar(this);
    spinner_->setRange(0, 0);
    spinner_->setTextVisible(false);
    spinner_->setFixedSize(16, 16);
    working_ = secondaryLabel(QString(), this, true);
    buttons->addWidget(showFolder_);
    buttons->addWidget(different_);
    buttons->addWidget(spinner_);
    buttons->addWidget(working_, 1);
    buttons->addStretch();
    actions.body->addLayout(buttons);
    error_ = warningLabel(QString(), this);
    actions.body->addWidget(error_);
    actions.body->addWidget(secondaryLabel(QString::fromUtf8(kFilesStay), this, true, true));
    return actions.widget;
}

// When the drive's speed was checked, and checking it again.
QWidget* DriveTab::createSpeedSection() {
    speed_ = formSection(QStringLiteral("Speed"), this);
    auto* speedFacts = new QWidget(this);
    speedForm_ = new QFormLayout(speedFacts);
    speedForm_->setContentsMargins(0, 0, 0, 0);
    checkedTitle_ = plainLabel(QString(), speedFacts);
    checked_ = plainLabel(QString(), speedFacts);
    speedForm_->addRow(checkedTitle_, checked_);
    speed_.body->addWidget(speedFacts);
    notChecked_ = secondaryLabel(QString::fromUtf8(kNotChecked), this, true);
    speed_.body->addWidget(notChecked_);
    checkSpeed_ = new QPushButton(QStringLiteral("Check Speed Again"), this);
    speed_.body->addWidget(checkSpeed_, 0, Qt::AlignLeft);
    return speed_.widget;
}

void DriveTab::render() {
    const DriveScreen screen = driveScreen(host_.state(), host_.driveWork());
    noDrive_->setVisible(!screen.hasDrive);
    facts_->setVisible(screen.hasDrive);
    name_->setFullText(text(screen.driveName));
    status_->setText(text(screen.status));
    files_->setText(text(screen.filesOnIt));
    kindTitle_->setVisible(screen.kind.has_value());
    kind_->setVisible(screen.kind.has_value());
    kind_->setText(text(screen.kind.value_or("")));
    summary_->setVisible(screen.summary.has_value());
    summary_->setText(text(screen.summary.value_or("")));

    showFolder_->setVisible(screen.showsFolderButton);
    different_->setEnabled(screen.differentDriveEnabled && !listing_);
    spinner_->setVisible(screen.working.has_value());
    working_->setVisible(screen.working.has_value());
    working_->setText(text(screen.working.value_or("")));
    error_->setVisible(screen.error.has_value());
    error_->setText(text(screen.error.value_or("")));

    speed_.widget->setVisible(screen.showsSpeed);
    const bool checked = screen.checkedLabel.has_value();
    speedForm_->parentWidget()->setVisible(checked);
    checkedTitle_->setText(text(screen.checkedLabel.value_or("")));
    checked_->setText(text(screen.speedDetails.value_or("")));
    notChecked_->setVisible(!checked);
    checkSpeed_->setEnabled(screen.checkSpeedEnabled);
}

void DriveTab::chooseDifferentDrive() {
    if (listing_) return;
    listing_ = true;
    render();
    QPointer<DriveTab> self(this);
    host_.listDrives([self](std::vector<DriveOption> options) {
        if (!self) return;
        self->listing_ = false;
        self->render();
        self->openChooser(options);
    });
}

void DriveTab::openChooser(const std::vector<DriveOption>& options) {
    if (chooser_) chooser_->close();
    chooser_ = new DriveChooser(options, host_.state().settings.drive, window());
    connect(chooser_, &DriveChooser::chosen, this, [this](const DriveOption& option) { host_.useDrive(option); });
    chooser_->show();
}

}  // namespace keldwick
