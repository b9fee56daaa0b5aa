#include "onboarding/SpaceStep.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "model/DisplayTexts.h"
#include "onboarding/OnboardingHost.h"
#include "onboarding/OnboardingTexts.h"
#include "onboarding/StepHeader.h"
#include "ui/Brand.h"
#include "ui/Divider.h"
#include "ui/KeepFreePicker.h"
#include "ui/PlainText.h"
#include "ui/StepStyle.h"

namespace keldwick {

namespace {

// A switch's text is plain but turns "&" into a shortcut mark: a folder's name keeps its own.
QString switchText(const QString& text) { return QString(text).replace(QLatin1Char('&'), QStringLiteral("&&")); }

}  // namespace

SpaceStep::SpaceStep(OnboardingHost& host, QWidget* parent) : QWidget(parent), host_(host) {
    OnboardingModel& model = host_.onboarding();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    header_ = new StepHeader("gauge",
                             QStringLiteral("How much free space should your computer keep?"), QString(), this);
    layout->addWidget(header_);
    picker_ = new KeepFreePicker(model.keepFreeBytes(), this);
    connect(picker_, &KeepFreePicker::selectionChanged, this,
            [this](qint64 bytes) { host_.onboarding().setKeepFreeBytes(bytes); });
    layout->addWidget(picker_);
    note_ = style::symbolRow("info",
                             QStringLiteral("Your computer is already below this, so Keldwick will show you what it can "
                                            "move right after setup."),
                             this);
    layout->addWidget(note_);
    layout->addWidget(divider(this));

    layout->addLayout(createFolderSection());

    openAtLogin_ = new QCheckBox(QStringLiteral("Open Keldwick when you log in"), this);
    connect(openAtLogin_, &QCheckBox::toggled, this, [this](bool on) { host_.onboarding().setOpenAtLogin(on); });
    layout->addWidget(openAtLogin_);
    layout->addStretch();

    for (auto signal : {&OnboardingModel::keepFreeBytesChanged, &OnboardingModel::driveChanged,
                        &OnboardingModel::openAtLoginChanged})
        connect(&model, signal, this, &SpaceStep::render);
    connect(&model, &OnboardingModel::foldersChanged, this, &SpaceStep::renderFolders);
    connect(&host_, &OnboardingHost::stateChanged, this, &SpaceStep::render);
    render();
    renderFolders();
}

// Which folders are searched, and the list to change them in, shown on request.
QVBoxLayout* SpaceStep::createFolderSection() {
    auto* section = new QVBoxLayout;
    section->setSpacing(8);
    auto* summaryRow = new QHBoxLayout;
    summary_ = plainLabel(QString(), this, true);
    summaryRow->addWidget(summary_, 1, Qt::AlignTop);
    change_ = new QPushButton(QStringLiteral("Change\u2026"), this);
    change_->setAutoDefault(false);
    summaryRow->addWidget(change_, 0, Qt::AlignTop);
    section->addLayout(summaryRow);

    folderList_ = new QWidget(this);
    folders_ = new QVBoxLayout(folderList_);
    folders_->setContentsMargins(4, 0, 0, 0);
    folders_->setSpacing(6);
    addFolder_ = new QPushButton(QStringLiteral("Add Folder\u2026"), folderList_);
    addFolder_->setAutoDefault(false);
    folders_->addSpacing(2);
    folders_->addWidget(addFolder_, 0, Qt::AlignLeft);
    folderList_->hide();
    section->addWidget(folderList_);
    connect(change_, &QPushButton::clicked, this, [this] {
        const bool shows = !folderList_->isVisibleTo(this);
        folderList_->setVisible(shows);
        change_->setText(shows ? QStringLiteral("Done") : QStringLiteral("Change\u2026"));
    });
    connect(addFolder_, &QPushButton::clicked, this, [this] { host_.addFolder(); });
    return section;
}

void SpaceStep::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    host_.loadFolders();
}

void SpaceStep::render() {
    const OnboardingModel& model = host_.onboarding();
    const auto& freeBytes = host_.state().computerFreeBytes;
    header_->setText(QString::fromStdString(spaceHeaderText(freeBytes, model.drive())));
    picker_->setSelection(model.keepFreeBytes());
    note_->setVisible(showsBelowLevelNote(freeBytes, model.keepFreeBytes()));
    const QSignalBlocker quiet(openAtLogin_);
    openAtLogin_->setChecked(model.openAtLogin());
}

void SpaceStep::renderFolders() {
    const OnboardingModel& model = host_.onboarding();
    summary_->setText(QString::fromStdString(folderSummary(model.folders())));
    std::vector<std::string> paths;
    for (const auto& folder : model.folders()) paths.push_back(folder.path);
    if (paths == listedPaths_) {
        // Only switches moved: keep the widgets (and the focus) where they are.
        for (size_t i = 0; i < switches_.size(); ++i) {
            const QSignalBlocker quiet(switches_[i]);
            switches_[i]->setChecked(model.folders()[i].isOn);
        }
        return;
    }
    for (QWidget* entry : folderEntries_) {
        entry->hide();
        entry->deleteLater();
    }
    folderEntries_.clear();
    switches_.clear();
    listedPaths_ = paths;
    const std::string& home = host_.state().home;
    for (const FolderChoice& folder : model.folders()) {
        auto* entry = new QWidget(folderList_);
        auto* lines = new QVBoxLayout(entry);
        lines->setContentsMargins(0, 0, 0, 0);
        lines->setSpacing(2);
        auto* on = new QCheckBox(switchText(fromPath(folderDisplayName(folder.path, home))), entry);
        on->setChecked(folder.isOn);
        on->setEnabled(!folder.problem);
        connect(on, &QCheckBox::toggled, this,
                [this, path = folder.path](bool isOn) { host_.onboarding().setFolderOn(path, isOn); });
        lines->addWidget(on);
        if (folder.problem) {
            auto* problem = plainLabel(fromPath(folderProblemText(*folder.problem)), entry, true);
            style::tint(problem, brandOrange());
            style::font(problem, 0.9, QFont::Normal);
            problem->setContentsMargins(20, 0, 0, 0);
            lines->addWidget(problem);
        }
        // Before the spacing and the "Add Folder…" button.
        folders_->insertWidget(static_cast<int>(folderEntries_.size()), entry);
        folderEntries_.push_back(entry);
        switches_.push_back(on);
    }
}

}  // namespace keldwick
