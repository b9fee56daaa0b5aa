#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <gtest/gtest.h>

#include "desktop/Pictures.h"
#include "tray/TrayGlyph.h"
#include "tray/PopoverRows.h"
#include "tray/TrayPanel.h"
#include "model/ModelStateFixtures.h"
#include "ui/Symbols.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;
const Date kNow{1'800'000'000};

// A computer with room to spare and a few things already on the drive, which is plugged in.
ModelState plentyOfRoom() {
    ModelState state = test::readyState();
    state.computerFreeBytes = 180 * GB;
    state.driveVolume = VolumeInfo{};
    state.driveVolume->mountPath = "/media/u/Archive";
    state.driveVolume->name = test::longDriveName;
    state.settings.drive->name = test::longDriveName;
    state.driveVolume->totalBytes = 2000 * GB;
    state.driveVolume->availableBytes = 1240 * GB;
    state.records = {test::record("/home/u/Downloads/ubuntu-24.04-desktop-amd64.iso", Phase::offloaded, false, 6 * GB),
                     test::record("/home/u/Documents/Photos 2019", Phase::offloaded, true, 84 * GB / 10),
                     test::record("/home/u/Videos/Wedding raw footage", Phase::offloaded, true, 243 * GB / 10)};
    state.lastRun = "Moved 3 items (38.7 GB) to " + std::string(test::longDriveName) + ".";
    state.lastRunDate = kNow.adding(-3 * 3600);
    return state;
}

TrayPanel& shown(TrayPanel& panel, const ModelState& state, std::optional<std::string> update = std::nullopt) {
    panel.show(keldwick::panel(state, update, kNow, "en_US"));
    return panel;
}

// Pictures the panel at the size it gave itself, after checking that nothing in it is cut:
// every label gets at least the height its text asks for.
void save(TrayPanel& panel, const char* name) {
    panel.QWidget::show();
    QCoreApplication::processEvents();
    for (const QLabel* label : panel.findChildren<QLabel*>()) {
        if (label->text().isEmpty() || !label->isVisible()) continue;
        const int needed = label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
        EXPECT_GE(label->height(), needed) << name << ": " << label->text().toStdString();
        if (!label->wordWrap()) {
            EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
                << name << ": " << label->text().toStdString();
        }
    }
    test::savePicture(panel, panel.size(), QStringLiteral("panel-%1").arg(QLatin1String(name)));
}

TEST(TrayPicturesTest, ThePanelInItsMainStates) {
    Symbols::useDesktopIconTheme();
    {
        TrayPanel panel;
        save(shown(panel, plentyOfRoom()), "plenty-of-room");
    }
    {
        // Copying the second of five items, a little over a third of it done.
        ModelState state = plentyOfRoom();
        state.computerFreeBytes = 14 * GB;
        state.activity = Activity::moving;
        state.progress = EngineProgress{"Wedding video raw footage (4K, day two).mov", 1, 5, 3'100'000'000,
                                        8'400'000'000};
        TrayPanel panel;
        save(shown(panel, state), "moving");
    }
    {
        ModelState state = plentyOfRoom();
        state.driveRoot.reset();
        state.driveVolume.reset();
        TrayPanel panel;
        save(shown(panel, state), "drive-away");
    }
    {
        ModelState state = plentyOfRoom();
        state.canReadHome = false;
        TrayPanel panel;
        save(shown(panel, state), "needs-permission");
    }
    {
        // Below the keep-free line, two records needing a look and an update waiting.
        ModelState state = plentyOfRoom();
        state.computerFreeBytes = 9 * GB;
        state.records.push_back(test::record("/home/u/Documents/Taxes 2021.pdf", Phase::linkMissing));
        state.records.push_back(test::record("/home/u/Music/stems.zip", Phase::returned));
        TrayPanel panel;
        save(shown(panel, state, "1.4.0"), "low-on-space");
    }
    {
        TrayPanel panel;
        save(shown(panel, ModelState{}), "not-set-up");
    }
    {
        // Space runs low while the panel is open: the rebuilt panel grows to its new rows.
        TrayPanel panel;
        shown(panel, plentyOfRoom());
        panel.QWidget::show();
        QCoreApplication::processEvents();
        ModelState state = plentyOfRoom();
        state.computerFreeBytes = 3770 * GB / 1000;
        save(shown(panel, state), "filling-up-while-open");
    }
}

// The tray's glyph as panels show it: each tone on the panels it is chosen for, every mark,
// at 16, 22, 24 and 44 pixels (22 at 2×).
TEST(TrayPicturesTest, TheTrayGlyphOnLightAndDarkPanels) {
    using TrayGlyph::Tone;
    const TrayGlyph::Mark marks[] = {TrayGlyph::Mark::none(), TrayGlyph::Mark::overflow(),
                                        TrayGlyph::Mark::pouring(0), TrayGlyph::Mark::attention(),
                                        TrayGlyph::Mark::driveAway()};
    const struct {
        Tone tone;
        QColor panel;
    } rows[] = {{Tone::dark, QColor(0xf6, 0xf5, 0xf4)},
                {Tone::light, QColor(0x24, 0x24, 0x24)},
                {Tone::outlined, QColor(0xf6, 0xf5, 0xf4)},
                {Tone::outlined, QColor(0x24, 0x24, 0x24)},
                {Tone::outlined, QColor(0x3c, 0x6e, 0xb4)}};
    const int sizes[] = {16, 22, 24, 44};
    const int cell = 52;
    QImage sheet(cell * int(std::size(marks)) * int(std::size(sizes)), cell * int(std::size(rows)),
                 QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&sheet);
    for (size_t r = 0; r < std::size(rows); ++r) {
        painter.fillRect(0, int(r) * cell, sheet.width(), cell, rows[r].panel);
        int x = 0;
        for (int size : sizes) {
            for (const auto& mark : marks) {
                const QImage glyph = TrayGlyph::trayImage(TrayGlyph::picture(0.6, mark), rows[r].tone, size);
                painter.drawImage(x + (cell - size) / 2, int(r) * cell + (cell - size) / 2, glyph);
                x += cell;
            }
        }
    }
    painter.end();
    const QString folder = QStringLiteral(QT_TESTCASE_BUILDDIR "/../screenshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(sheet.save(folder + QStringLiteral("/tray-glyphs.png")));
}

}  // namespace
}  // namespace keldwick
