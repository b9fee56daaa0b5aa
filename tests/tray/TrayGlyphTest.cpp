#include "tray/TrayGlyph.h"

#include <QPalette>
#include <cmath>
#include <QPainter>
#include <gtest/gtest.h>

#include "model/ModelStateFixtures.h"

namespace keldwick::TrayGlyph {
namespace {

TEST(GlyphPictureTest, FillRoundsToTwelfthsAndTheContentsFollow) {
    struct Case {
        double fill;
        int64_t step;
        std::optional<double> top;  // none: drawn empty
    };
    const Case cases[] = {
        {0.04, 0, std::nullopt},
        {0.05, 1, 13.85 - 10.4 / 12},  // 12 × 0.05 = 0.6 rounds up; its 0.87 height shows
        {0.5, 6, 8.65},
        {1.0, 12, 3.45},
        {1.7, 12, 3.45},
        {-3, 0, std::nullopt},
        {std::nan(""), 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fill);
        const Picture p = picture(c.fill, Mark::none());
        EXPECT_EQ(p.step, c.step);
        ASSERT_EQ(p.contents.has_value(), c.top.has_value());
        if (!c.top) continue;
        EXPECT_NEAR(p.contents->y, *c.top, 1e-9);
        EXPECT_NEAR(p.contents->y + p.contents->h, 13.85, 1e-9);
        EXPECT_EQ(p.contents->x, 4.65);
        EXPECT_EQ(p.contents->w, 6.2);
    }
}

TEST(GlyphPictureTest, EachMarkHasItsShapes) {
    auto dropAt = [](double x, double y, double w) { return Oval{{x - w / 2, y - 0.55 * w, w, 1.1 * w}, true, 0}; };
    struct Case {
        const char* name;
        Mark mark;
        std::vector<Oval> marks;
    };
    const Case cases[] = {
        {"none", Mark::none(), {}},
        {"overflow", Mark::overflow(), {dropAt(15.4, 4.2, 2.7), dropAt(16.9, 9.4, 3.2)}},
        {"attention", Mark::attention(), {{{14.2, 11.2, 5, 5}, true, 0}}},
        {"drive away", Mark::driveAway(), {{{14.6, 11.6, 4.4, 4.4}, false, 1.3}}},
        {"pouring 0", Mark::pouring(0), {dropAt(14.6, 3.2, 2.9), dropAt(17.4, 10.2, 2.9)}},
        {"pouring 1", Mark::pouring(1), {dropAt(16.4, 6.4, 2.9), dropAt(17.8, 14.2, 2.9)}},
        {"pouring 3", Mark::pouring(3), {dropAt(17.8, 14.2, 2.9), dropAt(16.4, 6.4, 2.9)}},
        {"pouring 5 draws like 1", Mark::pouring(5), {dropAt(16.4, 6.4, 2.9), dropAt(17.8, 14.2, 2.9)}},
        {"a negative frame wraps", Mark::pouring(-1), {dropAt(17.8, 14.2, 2.9), dropAt(16.4, 6.4, 2.9)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(picture(0.5, c.mark).marks, c.marks);
    }
}

TEST(GlyphPictureTest, ShownFollowsTheModel) {
    ModelState ready = test::readyState();  // 400 of 500 GB used, keep-free mark at 0.96
    ModelState moving = ready;
    moving.activity = Activity::moving;
    ModelState restoring = ready;
    restoring.activity = Activity::restoring;
    ModelState scanning = ready;
    scanning.activity = Activity::scanning;
    ModelState full = ready;
    full.computerFreeBytes = 10'000'000'000;
    ModelState away = ready;
    away.driveRoot.reset();
    away.records = {test::record("/home/u/Downloads/a.iso", Phase::offloaded)};

    struct Case {
        const char* name;
        const ModelState& state;
        bool reduceMotion;
        int frame;
        Shown expected;
        bool dripping;
    };
    const Case cases[] = {
        {"idle", ready, false, 2, {0.8, Mark::none()}, false},
        {"moving animates", moving, false, 2, {0.8, Mark::pouring(2)}, true},
        {"restoring animates", restoring, false, 3, {0.8, Mark::pouring(3)}, true},
        {"less motion stands still", moving, true, 2, {0.8, Mark::pouring(0)}, false},
        {"scanning shows the model's mark", scanning, false, 1, {0.8, Mark::none()}, false},
        {"past the keep-free line", full, false, 0, {0.98, Mark::overflow()}, false},
        {"the drive with moved files is away", away, false, 0, {0.8, Mark::driveAway()}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Shown s = shown(c.state, c.reduceMotion, c.frame);
        EXPECT_NEAR(s.fill, c.expected.fill, 1e-9);
        EXPECT_EQ(s.mark, c.expected.mark);
        EXPECT_EQ(isDripping(c.state.activity, c.reduceMotion), c.dripping);
    }
}

// Pixel probes, in points, on a picture rendered at 10 pixels a point.
bool inked(const QImage& image, double x, double y) { return qAlpha(image.pixel(int(x * 10), int(y * 10))) > 128; }

TEST(TrayGlyphTest, RenderedPixelsShowTheFillAndTheMark) {
    struct Probe {
        double x, y;
        bool inked;
    };
    struct Case {
        const char* name;
        double fill;
        Mark mark;
        std::vector<Probe> probes;
    };
    const Case cases[] = {
        {"empty", 0, Mark::none(), {{7.75, 13.0, false}, {7.75, 4.0, false}, {2.75, 8.0, true}, {12.75, 8.0, true}}},
        {"full", 1, Mark::none(), {{7.75, 13.0, true}, {7.75, 4.0, true}, {7.75, 1.0, false}}},
        {"half", 0.5, Mark::none(), {{7.75, 9.5, true}, {7.75, 7.8, false}}},
        {"open at the top", 1, Mark::none(), {{7.75, 2.25, false}}},
        {"overflow", 0.5, Mark::overflow(), {{15.4, 4.2, true}, {16.9, 9.4, true}, {16.7, 13.7, false}}},
        {"no mark", 0.5, Mark::none(), {{15.4, 4.2, false}, {16.9, 9.4, false}, {16.7, 13.7, false}}},
        {"attention", 0.5, Mark::attention(), {{16.7, 13.7, true}}},
        {"drive away is a ring", 0.5, Mark::driveAway(), {{16.8, 13.8, false}, {16.8, 11.65, true}}},
        {"pouring", 0.5, Mark::pouring(0), {{14.6, 3.2, true}, {17.4, 10.2, true}, {16.4, 6.4, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage image = render(picture(c.fill, c.mark), Tone::dark, 10);
        ASSERT_EQ(image.size(), QSize(200, 180));
        for (const Probe& probe : c.probes) {
            EXPECT_EQ(inked(image, probe.x, probe.y), probe.inked) << probe.x << ", " << probe.y;
        }
    }
}

TEST(TrayGlyphTest, TheToneComesFromThePanelsColorOnlyWhenItIsKnown) {
    struct Case {
        const char* name;
        std::optional<QColor> panel;
        Tone tone;
    };
    const Case cases[] = {
        {"unknown: outlined, whatever the desktop's scheme", std::nullopt, Tone::outlined},
        {"an invalid colour is none", QColor(), Tone::outlined},
        {"a light grey panel: dark strokes", QColor(0xd8, 0xd8, 0xd8), Tone::dark},
        {"a dark panel: light strokes", QColor(0x24, 0x24, 0x24), Tone::light},
        {"a saturated blue panel reads as dark", QColor(0x20, 0x40, 0xc0), Tone::light},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toneFor(c.panel), c.tone);
    }
    // An unchanged tone keeps the cached icon.
    const QIcon a = image(0.5, Mark::attention(), Tone::dark);
    EXPECT_EQ(a.cacheKey(), image(0.51, Mark::attention(), Tone::dark).cacheKey());  // same step
    EXPECT_EQ(image(1.7, Mark::none(), Tone::dark).cacheKey(), image(1, Mark::none(), Tone::dark).cacheKey());
    EXPECT_NE(a.cacheKey(), image(0.5, Mark::attention(), Tone::light).cacheKey());
    EXPECT_NE(a.cacheKey(), image(0.5, Mark::attention(), Tone::outlined).cacheKey());
    EXPECT_NE(image(0.5, Mark::pouring(1), Tone::dark).cacheKey(), image(0.5, Mark::pouring(5), Tone::dark).cacheKey());
    for (int size : {16, 22, 24, 32, 44, 48}) EXPECT_TRUE(a.availableSizes().contains(QSize(size, size))) << size;
}

// Luminance of a colour, 0 to 1.
double luminance(QRgb rgb) { return (0.2126 * qRed(rgb) + 0.7152 * qGreen(rgb) + 0.0722 * qBlue(rgb)) / 255; }

// Pixels of the glyph laid on a panel of `panel` colour that stand out from it clearly.
int standingOut(const QImage& glyph, const QColor& panel) {
    QImage onPanel(glyph.size(), QImage::Format_ARGB32_Premultiplied);
    onPanel.fill(panel);
    QPainter painter(&onPanel);
    painter.drawImage(0, 0, glyph);
    painter.end();
    int count = 0;
    for (int y = 0; y < onPanel.height(); ++y) {
        for (int x = 0; x < onPanel.width(); ++x) {
            if (std::abs(luminance(onPanel.pixel(x, y)) - luminance(panel.rgb())) > 0.45) ++count;
        }
    }
    return count;
}

TEST(TrayGlyphTest, EachToneReadsOnThePanelsItIsChosenFor) {
    const QColor lightPanel(0xf6, 0xf5, 0xf4), darkPanel(0x24, 0x24, 0x24);
    struct Case {
        Tone tone;
        bool readsOnLight, readsOnDark;
    };
    const Case cases[] = {{Tone::dark, true, false}, {Tone::light, false, true}, {Tone::outlined, true, true}};
    const Picture half = picture(0.5, Mark::none());
    for (const Case& c : cases) {
        for (int size : {16, 22, 24, 32, 44, 48}) {
            SCOPED_TRACE(testing::Message() << "tone " << int(c.tone) << " at " << size << " px");
            const QImage glyph = trayImage(half, c.tone, size);
            // The container and its contents alone cover about a sixth of the square.
            const int enough = size * size / 12;
            EXPECT_EQ(standingOut(glyph, lightPanel) >= enough, c.readsOnLight) << standingOut(glyph, lightPanel);
            EXPECT_EQ(standingOut(glyph, darkPanel) >= enough, c.readsOnDark) << standingOut(glyph, darkPanel);
        }
    }
}

TEST(TrayGlyphTest, TheMarksStayApartAtTheTraysSizes) {
    const Mark marks[] = {Mark::none(), Mark::overflow(), Mark::pouring(0), Mark::pouring(1), Mark::attention(),
                          Mark::driveAway()};
    // Each picture as it shows on a mid-grey panel, where both the strokes and an outline
    // stand out.
    auto onPanel = [](const QImage& glyph) {
        QImage shown(glyph.size(), QImage::Format_ARGB32_Premultiplied);
        shown.fill(QColor(0x80, 0x80, 0x80));
        QPainter painter(&shown);
        painter.drawImage(0, 0, glyph);
        return shown;
    };
    for (Tone tone : {Tone::dark, Tone::outlined}) {
        for (int size : {16, 22, 24, 32, 44, 48}) {
            SCOPED_TRACE(testing::Message() << "tone " << int(tone) << " at " << size << " px");
            std::vector<QImage> images;
            for (const Mark& mark : marks) images.push_back(onPanel(trayImage(picture(0.5, mark), tone, size)));
            for (size_t a = 0; a < images.size(); ++a) {
                for (size_t b = a + 1; b < images.size(); ++b) {
                    int differing = 0;
                    for (int y = 0; y < size; ++y) {
                        for (int x = 0; x < size; ++x) {
                            if (std::abs(luminance(images[a].pixel(x, y)) - luminance(images[b].pixel(x, y))) > 0.3) {
                                ++differing;
                            }
                        }
                    }
                    EXPECT_GE(differing, 3) << "marks " << a << " and " << b;
                }
            }
            // The ring has a hole where the dot is solid: their centres (16.8, 13.8) in the
            // box, which is as wide as the square and centred in it vertically.
            const double scale = size / width;
            const int cx = int(16.8 * scale), cy = int((size - height * scale) / 2 + 13.8 * scale);
            const QImage& dot = images[4];
            const QImage& ring = images[5];
            // The dark strokes, not their light outline or the panel, make the shape.
            auto dark = [](const QImage& image, int x, int y) { return luminance(image.pixel(x, y)) < 0.3; };
            EXPECT_TRUE(dark(dot, cx, cy));
            EXPECT_FALSE(dark(ring, cx, cy));
        }
    }
}

}  // namespace
}  // namespace keldwick::TrayGlyph
