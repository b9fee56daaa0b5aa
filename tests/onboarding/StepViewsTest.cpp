#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <cstdlib>
#include <initializer_list>
#include <gtest/gtest.h>

#include "onboarding/NumberedStep.h"
#include "onboarding/Point.h"
#include "onboarding/StepHeader.h"

namespace keldwick {
namespace {

TEST(StepViewsTest, DataInTitlesAndTextsStaysPlain) {
    StepHeader header("drive", "Keep <b>Disk</b> plugged in", "x");
    EXPECT_EQ(header.titleLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(header.textLabel()->textFormat(), Qt::PlainText);
    StepHeader icon(std::nullopt, "Welcome to Keldwick", "");
    EXPECT_FALSE(icon.iconLabel()->pixmap().isNull()) << "without a symbol the program's icon shows";

    Point point("drive", "Keep <i>X</i> plugged in", "text");
    EXPECT_EQ(point.titleLabel()->textFormat(), Qt::PlainText);
    point.setTitle("Keep Archive plugged in");
    EXPECT_EQ(point.accessibleName(), "Keep Archive plugged in, text");

    NumberedStep step(2, "Find **Keldwick** in the list.");
    EXPECT_EQ(step.textLabel()->textFormat(), Qt::MarkdownText);
    EXPECT_EQ(step.accessibleName(), "2. Find Keldwick in the list.");
}

// How much of a picture is drawn in `color` (its opaque pixels near that colour).
double shareIn(const QPixmap& pixmap, const QColor& color) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int drawn = 0, inColor = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() < 200) continue;
            ++drawn;
            if (std::abs(pixel.red() - color.red()) + std::abs(pixel.green() - color.green()) +
                    std::abs(pixel.blue() - color.blue()) < 60)
                ++inColor;
        }
    return drawn ? double(inColor) / drawn : 0;
}

// The symbols of headers and points are drawn in the accent colour, and follow it when
// the palette changes (a dark theme, another accent).
TEST(StepViewsTest, SymbolsTakeTheAccentColour) {
    QWidget page;
    auto* header = new StepHeader("drive", "Choose your drive", "text", &page);
    auto* point = new Point("check-filled", "Ready", "text", &page);
    const auto symbolOf = [](QWidget* holder) {
        for (QLabel* label : holder->findChildren<QLabel*>())
            if (!label->pixmap().isNull()) return label;
        return static_cast<QLabel*>(nullptr);
    };
    for (const QColor accent : {QColor(0x35, 0x84, 0xe4), QColor(0xc0, 0x1c, 0x28)}) {
        QPalette palette = page.palette();
        palette.setColor(QPalette::Highlight, accent);
        page.setPalette(palette);
        for (QWidget* holder : std::initializer_list<QWidget*>{header, point}) {
            QLabel* symbol = symbolOf(holder);
            ASSERT_NE(symbol, nullptr);
            EXPECT_GT(shareIn(symbol->pixmap(), accent), 0.8) << holder->metaObject()->className() << " "
                                                              << accent.name().toStdString();
        }
    }
}

}  // namespace
}  // namespace keldwick
