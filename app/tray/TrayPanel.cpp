#include "tray/TrayPanel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include "tray/PanelRows.h"
#include "ui/Brand.h"
#include "ui/CloseKeys.h"
#include "ui/KeyboardReach.h"
#include "ui/ElidedLabel.h"
#include "ui/PlainText.h"

namespace keldwick {

namespace {

constexpr int margin = 14;

QString text(const std::string& s) { return QString::fromStdString(s); }

QWidget* padded(QWidget* inner, int left, int top, int right, int bottom) {
    auto* box = new QWidget;
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(left, top, right, bottom);
    layout->addWidget(inner);
    return box;
}

}  // namespace

TrayPanel::TrayPanel(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(300);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setAccessibleName(QStringLiteral("Keldwick"));
    content_ = new QWidget;
    auto* layout = new QVBoxLayout(content_);
    layout->setContentsMargins(0, 6, 0, 6);
    layout->setSpacing(0);
    rows_ = layout;
    scroll_->setWidget(content_);
    outer->addWidget(scroll_);
    closeOnEscapeOrCtrlW(this);
    reachByKeyboard(this);
}

void TrayPanel::fitRows() {
    // Not adjustSize(), which would hold a window to two thirds of the screen's height.
    resize(width(), std::min(sizeHint().height(), maximumHeight()));
    // Grown while open: still inside the screen's free area.
    if (isWindow() && isVisible() && screen()) {
        const QRect area = screen()->availableGeometry();
        const int over = frameGeometry().bottom() - area.bottom();
        if (over > 0) move(pos().x(), std::max(area.top(), pos().y() - over));
    }
}

QSize TrayPanel::sizeHint() const {
    const int inner = width() - 2 * frameWidth();
    const int rows = rows_->hasHeightForWidth() ? rows_->totalHeightForWidth(inner) : rows_->totalSizeHint().height();
    return {width(), rows + 2 * frameWidth()};
}

void TrayPanel::run(PanelCommand command) {
    if (onCommand) onCommand(command);
}

std::vector<int> TrayPanel::shapeOf(const PanelContents& panel) {
    // What decides which widgets a row has; everything else is updated in place. A
    // progress bar takes its first byte count in place too; a storage row's height
    // depends on whether it has a bar.
    std::vector<int> shape{int(panel.header.testMode) | int(panel.header.moveAutomatically.has_value()) << 1};
    for (const PanelRow& row : panel.rows) {
        const bool bar = row.kind == PanelRow::Kind::storage && row.fill.has_value();
        shape.push_back(int(row.kind) | int(row.detail.has_value()) << 4 | int(bar) << 5 |
                        int(row.shortcut.value_or(0)) << 8);
    }
    return shape;
}

void TrayPanel::show(const PanelContents& panel) {
    // The model announces many changes that leave the panel as it is.
    if (built_ && panel == panel_) return;
    // Rows keep their widgets while the panel keeps its shape, so a button under the
    // pointer or with the keyboard focus survives a stream of progress reports.
    const bool reshaped = !built_ || shapeOf(panel) != shapeOf(panel_);
    built_ = true;
    panel_ = panel;
    if (reshaped) build();
    updateHeader_(panel_.header);
    for (size_t i = 0; i < panel_.rows.size(); ++i) {
        if (updateRows_[i]) updateRows_[i](panel_.rows[i]);
    }
    fitRows();
    // Rows added while the panel is open only show on the next turn of the loop, and a
    // layout sizes only what shows: take their size again then, else wrapped lines are cut.
    if (isVisible()) QTimer::singleShot(0, this, &TrayPanel::fitRows);
}

void TrayPanel::build() {
    qDeleteAll(shortcuts_);
    shortcuts_.clear();
    while (QLayoutItem* item = rows_->takeAt(0)) {
        QWidget* widget = item->widget();
        delete item;
        // A press through the accessibility layer shows the row down and clicks 100 ms
        // later: a row rebuilt away meanwhile still runs the command it showed, then goes.
        // A row held down by the pointer just goes: hidden, it gets no release.
        if (auto* row = qobject_cast<MenuActionRow*>(widget); row && row->isDown()) {
            row->hide();
            row->disconnect(this);
            connect(row, &QAbstractButton::clicked, this, [this, command = row->command()] { run(command); });
            QTimer::singleShot(500, row, &QObject::deleteLater);
            continue;
        }
        delete widget;
    }
    switch_ = nullptr;
    updateRows_.clear();
    const PanelContents& panel = panel_;

    // Header.
    auto* header = new QWidget;
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(margin, 4, margin, 4);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    auto* titleLine = new QHBoxLayout;
    titleLine->setSpacing(6);
    QLabel* name = plainLabel(QStringLiteral("Keldwick"));
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    titleLine->addWidget(name);
    if (panel.header.testMode) {
        QLabel* testMode = secondaryLabel(QStringLiteral("Test Mode"), nullptr);
        setPlainToolTip(testMode, QString::fromUtf8(testModeHelp));
        titleLine->addWidget(testMode);
    }
    titleLine->addStretch();
    titles->addLayout(titleLine);
    QLabel* subtitle = secondaryLabel(QString(), nullptr);
    titles->addWidget(subtitle);
    headerLayout->addLayout(titles, 1);
    if (panel.header.moveAutomatically) {
        switch_ = new QCheckBox;
        switch_->setAccessibleName(QStringLiteral("Move files automatically"));
        connect(switch_, &QCheckBox::toggled, this, [this](bool on) {
            if (onSwitch) onSwitch(on);
        });
        headerLayout->addWidget(switch_);
    }
    rows_->addWidget(header);
    updateHeader_ = [this, subtitle](const PanelHeader& shown) {
        subtitle->setText(text(shown.subtitle));
        if (!switch_) return;
        // The model's value, not a turn of the switch by the user.
        const QSignalBlocker quiet(switch_);
        switch_->setChecked(shown.moveAutomatically.value_or(false));
        setPlainToolTip(switch_, text(shown.switchHelp));
    };

    for (size_t i = 0; i < panel.rows.size(); ++i) {
        const PanelRow& row = panel.rows[i];
        // A clicked row's command is the one it shows now.
        auto command = [this, i] { run(panel_.rows[i].command); };
        std::function<void(const PanelRow&)> update;
        switch (row.kind) {
        case PanelRow::Kind::separator: {
            auto* line = new QFrame;
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            rows_->addWidget(padded(line, margin, 5, margin, 5));
            break;
        }
        case PanelRow::Kind::sectionHeader: {
            QLabel* title = secondaryLabel(QString(), nullptr);
            QFont font = title->font();
            font.setBold(true);
            title->setFont(font);
            rows_->addWidget(padded(title, margin, 0, margin, 3));
            update = [title](const PanelRow& shown) { title->setText(text(shown.title)); };
            break;
        }
        case PanelRow::Kind::status: {
            auto* block = new StatusBlock(row);
            rows_->addWidget(block);
            update = [block](const PanelRow& shown) { block->setRow(shown); };
            break;
        }
        case PanelRow::Kind::progress: {
            auto* box = new QWidget;
            auto* layout = new QHBoxLayout(box);
            layout->setContentsMargins(margin + 36, 0, margin, 6);
            layout->setSpacing(8);
            auto* bar = new QProgressBar;
            bar->setTextVisible(false);
            bar->setMaximumHeight(8);
            layout->addWidget(bar, 1);
            auto* stop = new QPushButton;
            connect(stop, &QPushButton::clicked, this, command);
            layout->addWidget(stop);
            rows_->addWidget(box);
            update = [bar, stop](const PanelRow& shown) {
                // No byte count yet: an indeterminate bar.
                bar->setRange(0, shown.fill ? 1000 : 0);
                if (shown.fill) bar->setValue(int(*shown.fill * 1000));
                stop->setText(text(shown.title));
                stop->setAccessibleName(text(shown.title));
                setPlainToolTip(stop, text(shown.help));
                stop->setEnabled(shown.enabled);
            };
            break;
        }
        case PanelRow::Kind::storage: {
            auto* bar = new StorageBarRow(row);
            bar->setMinimumHeight(bar->sizeHint().height());
            rows_->addWidget(padded(bar, 0, 0, 0, 2));
            update = [bar](const PanelRow& shown) { bar->setRow(shown); };
            break;
        }
        case PanelRow::Kind::info: {
            auto* info = new MenuInfoRow(row);
            rows_->addWidget(info);
            update = [info](const PanelRow& shown) { info->setRow(shown); };
            break;
        }
        case PanelRow::Kind::note: {
            QLabel* note = secondaryLabel(QString(), nullptr, true);
            rows_->addWidget(padded(note, margin, 2, margin, 0));
            update = [note](const PanelRow& shown) { note->setText(text(shown.title)); };
            break;
        }
        case PanelRow::Kind::action: {
            auto* button = new MenuActionRow(row);
            connect(button, &QAbstractButton::clicked, this, command);
            QShortcut* shortcut = nullptr;
            if (row.shortcut) {
                shortcut = new QShortcut(
                    QKeySequence(QKeyCombination(Qt::ControlModifier, Qt::Key(QChar(*row.shortcut).toUpper().unicode()))),
                    this);
                connect(shortcut, &QShortcut::activated, this, command);
                shortcuts_.append(shortcut);
            }
            rows_->addWidget(button);
            update = [button, shortcut](const PanelRow& shown) {
                button->setRow(shown);
                if (shortcut) shortcut->setEnabled(shown.enabled);
            };
            break;
        }
        }
        updateRows_.push_back(std::move(update));
    }
}

}  // namespace keldwick
