#include "menubar/TrayPanel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include "menubar/PanelRows.h"
#include "ui/Brand.h"
#include "ui/CloseKeys.h"
#include "ui/ElidedLabel.h"
#include "ui/PlainText.h"
#include "ui/Symbols.h"

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

// A white symbol on a filled circle, 26 points across.
QLabel* statusSymbol(const PanelRow& row, const QPalette& palette) {
    QPixmap pixmap(26, 26);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colorOf(row.tint, palette));
    painter.drawEllipse(QRectF(0, 0, 26, 26));
    Symbols::drawn(row.symbol, Qt::white).paint(&painter, QRect(6, 6, 14, 14));
    painter.end();
    auto* label = new QLabel;
    label->setPixmap(pixmap);
    label->setFixedSize(26, 26);
    return label;
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

void TrayPanel::show(const PanelContents& panel) {
    // The model announces many changes that leave the panel as it is.
    if (built_ && panel == panel_) return;
    built_ = true;
    panel_ = panel;
    qDeleteAll(shortcuts_);
    shortcuts_.clear();
    while (QLayoutItem* item = rows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    switch_ = nullptr;

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
        testMode->setToolTip(toolTipText(QString::fromUtf8(testModeHelp)));
        titleLine->addWidget(testMode);
    }
    titleLine->addStretch();
    titles->addLayout(titleLine);
    titles->addWidget(secondaryLabel(text(panel.header.subtitle), nullptr));
    headerLayout->addLayout(titles, 1);
    if (panel.header.moveAutomatically) {
        switch_ = new QCheckBox;
        switch_->setChecked(*panel.header.moveAutomatically);
        switch_->setAccessibleName(QStringLiteral("Move files automatically"));
        switch_->setToolTip(toolTipText(text(panel.header.switchHelp)));
        connect(switch_, &QCheckBox::toggled, this, [this](bool on) {
            if (onSwitch) onSwitch(on);
        });
        headerLayout->addWidget(switch_);
    }
    rows_->addWidget(header);

    for (const PanelRow& row : panel.rows) {
        switch (row.kind) {
        case PanelRow::Kind::separator: {
            auto* line = new QFrame;
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            rows_->addWidget(padded(line, margin, 5, margin, 5));
            break;
        }
        case PanelRow::Kind::sectionHeader: {
            QLabel* title = secondaryLabel(text(row.title), nullptr);
            QFont font = title->font();
            font.setBold(true);
            title->setFont(font);
            rows_->addWidget(padded(title, margin, 0, margin, 3));
            break;
        }
        case PanelRow::Kind::status: {
            auto* box = new QWidget;
            auto* layout = new QHBoxLayout(box);
            layout->setContentsMargins(margin, 6, margin, 6);
            layout->setSpacing(10);
            layout->addWidget(statusSymbol(row, palette()), 0, Qt::AlignTop);
            auto* texts = new QVBoxLayout;
            texts->setSpacing(2);
            QLabel* headline = plainLabel(text(row.title), nullptr, true);
            QFont semibold = headline->font();
            semibold.setWeight(QFont::DemiBold);
            headline->setFont(semibold);
            texts->addWidget(headline);
            if (row.detail) texts->addWidget(secondaryLabel(text(*row.detail), nullptr, true));
            layout->addLayout(texts, 1);
            rows_->addWidget(box);
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
            // No byte count yet: an indeterminate bar.
            bar->setRange(0, row.fill ? 1000 : 0);
            if (row.fill) bar->setValue(int(*row.fill * 1000));
            layout->addWidget(bar, 1);
            auto* stop = new QPushButton(text(row.title));
            stop->setToolTip(toolTipText(text(row.help)));
            connect(stop, &QPushButton::clicked, this, [this, command = row.command] { run(command); });
            layout->addWidget(stop);
            rows_->addWidget(box);
            break;
        }
        case PanelRow::Kind::storage: {
            auto* bar = new StorageBarRow(row);
            bar->setMinimumHeight(bar->sizeHint().height());
            rows_->addWidget(padded(bar, 0, 0, 0, 2));
            break;
        }
        case PanelRow::Kind::info: {
            auto* box = new QWidget;
            auto* layout = new QHBoxLayout(box);
            layout->setContentsMargins(margin, 0, margin, 0);
            layout->setSpacing(8);
            // 22 points high, or as high as a larger font's line needs.
            box->setMinimumHeight(std::max(22, box->fontMetrics().height() + 6));
            // The title holds the drive's name, which may be long: it gives way, the value not.
            auto* title = new ElidedLabel(text(row.title));
            layout->addWidget(title, 1);
            QLabel* value = secondaryLabel(text(row.value), nullptr);
            value->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
            layout->addWidget(value);
            if (!row.help.empty()) {
                box->setToolTip(toolTipText(text(row.help)));
                title->setHelp(text(row.help));
            }
            rows_->addWidget(box);
            break;
        }
        case PanelRow::Kind::note:
            rows_->addWidget(padded(secondaryLabel(text(row.title), nullptr, true), margin, 2, margin, 0));
            break;
        case PanelRow::Kind::action: {
            auto* button = new MenuActionRow(row);
            connect(button, &QAbstractButton::clicked, this, [this, command = row.command] { run(command); });
            if (row.shortcut) {
                auto* shortcut = new QShortcut(
                    QKeySequence(QKeyCombination(Qt::ControlModifier, Qt::Key(QChar(*row.shortcut).toUpper().unicode()))),
                    this);
                shortcut->setEnabled(row.enabled);
                connect(shortcut, &QShortcut::activated, this, [this, command = row.command] { run(command); });
                shortcuts_.append(shortcut);
            }
            rows_->addWidget(button);
            break;
        }
        }
    }
    fitRows();
    // Rows added while the panel is open only show on the next turn of the loop, and a
    // layout sizes only what shows: take their size again then, else wrapped lines are cut.
    if (isVisible()) QTimer::singleShot(0, this, &TrayPanel::fitRows);
}

}  // namespace keldwick
