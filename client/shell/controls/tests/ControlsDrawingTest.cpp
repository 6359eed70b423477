// The controls' drawing, checked at pixels.
#include "CustomButton.h"
#include "CustomProgressBar.h"
#include "Fonts.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QImage renderOnWhite(QWidget &widget) {
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The bar's own 22 rows: the bottom of the widget, below its text band.
QImage barRows(const QImage &image) {
    return image.copy(0, image.height() - 22, image.width(), 22);
}

int grayAt(const QImage &image, int x, int y) {
    return qGray(image.pixel(x, y));
}

// The bar's fill colour, #1590b0.
bool filledAt(const QImage &image, int x, int y) {
    return image.pixel(x, y) == qRgb(0x15, 0x90, 0xb0);
}

class ControlsDrawing : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(registerCustomFonts(&error)) << error.toStdString();
    }
};

} // namespace

TEST_F(ControlsDrawing, ProgressBarOutlineAndHalfFill) {
    CustomProgressBar bar;
    bar.resize(300, 22);
    bar.setProgress(0.5f);
    const QImage image = barRows(renderOnWhite(bar));

    // Outline: 1 pixel of white level 0.8 on every side (204 of 255).
    EXPECT_EQ(grayAt(image, 150, 0), 204);
    EXPECT_EQ(grayAt(image, 299, 11), 204);
    EXPECT_EQ(grayAt(image, 200, 21), 204);
    EXPECT_EQ(grayAt(image, 299, 21), 204); // square corner
    // Fill from the left up to half of the inner width (299 * 0.5 = 149.5
    // from x = 0.5), nothing beyond it.
    EXPECT_TRUE(filledAt(image, 1, 11));
    EXPECT_TRUE(filledAt(image, 149, 11));
    EXPECT_EQ(grayAt(image, 151, 11), 255);
    EXPECT_EQ(grayAt(image, 240, 11), 255);
}

TEST_F(ControlsDrawing, ProgressBarClampsItsValueAndKeepsItsHeight) {
    CustomProgressBar bar;
    bar.setProgress(1.7f);
    EXPECT_EQ(bar.progress(), 1.0f);
    bar.setProgress(-0.2f);
    EXPECT_EQ(bar.progress(), 0.0f);
    bar.setProgress(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(bar.progress(), 0.0f);

    // The frame stays 22 high wherever it is put; the widget grows upward
    // by the text band, so the bar's bottom edge is where it was asked.
    bar.setFrame(QRect(5, 70, 320, 40));
    EXPECT_EQ(bar.frame(), QRect(5, 70, 320, 22));
    EXPECT_EQ(bar.geometry().bottom(), 91);
    EXPECT_EQ(bar.geometry().top(), 70 - bar.textBand());
    bar.setGeometry(5, 7, 320, 400);
    EXPECT_EQ(bar.frame().height(), 22);

    bar.setProgress(1.7f);
    bar.setFrame(QRect(0, 0, 100, 22));
    const QImage image = barRows(renderOnWhite(bar));
    EXPECT_TRUE(filledAt(image, 50, 11));
    EXPECT_TRUE(filledAt(image, 98, 11));
}

TEST_F(ControlsDrawing, ProgressBarCutsLongTextsAtThirtyCharacters) {
    const QString thirty = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123");
    EXPECT_EQ(CustomProgressBar::validateString(thirty, 30), thirty);
    EXPECT_EQ(CustomProgressBar::validateString(thirty + QStringLiteral("4"), 30),
              QStringLiteral("abcdefghijklmnopqrstuvwxyz0123..."));

    // The artist line is drawn cut: a 31-character artist looks exactly like
    // its first 30 characters followed by "...", and unlike the whole text.
    CustomProgressBar longer, cut, whole;
    for (CustomProgressBar *bar : {&longer, &cut, &whole})
        bar->resize(600, 22);
    longer.setSongArtist(thirty + QStringLiteral("W"));
    cut.setSongArtist(thirty + QStringLiteral("..."));
    whole.setSongArtist(thirty + QStringLiteral("W"));
    const QImage drawnLonger = renderOnWhite(longer);
    EXPECT_EQ(drawnLonger, renderOnWhite(cut));

    CustomProgressBar empty;
    empty.resize(600, 22);
    EXPECT_NE(drawnLonger, renderOnWhite(empty)); // the artist line is visible at all
}

// The song name sits above the bar and the large percentage overflows it;
// both must be drawn into the band above the bar, not clipped away.
TEST_F(ControlsDrawing, ProgressBarDrawsSongAndPercentageAboveTheBar) {
    auto darkPixelsAbove = [](const QImage &image, int fromX, int toX) {
        int dark = 0;
        for (int y = 0; y < image.height() - 22; ++y)
            for (int x = fromX; x < toX; ++x)
                dark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
        return dark;
    };
    CustomProgressBar bar;
    bar.resize(400, bar.height());
    ASSERT_GT(bar.textBand(), 10);
    const QImage blank = renderOnWhite(bar);
    EXPECT_EQ(darkPixelsAbove(blank, 0, 400), 0);

    bar.setSongName(QStringLiteral("Evening Tide"));
    const QImage withSong = renderOnWhite(bar);
    EXPECT_GT(darkPixelsAbove(withSong, 10, 200), 20) << "the song name shows above the bar";
    EXPECT_EQ(darkPixelsAbove(withSong, 250, 400), 0);

    bar.setSongName(QString());
    bar.setPercentage(QStringLiteral("40%"));
    const QImage withPercentage = renderOnWhite(bar);
    EXPECT_EQ(darkPixelsAbove(withPercentage, 0, 240), 0);
    EXPECT_GT(darkPixelsAbove(withPercentage, 250, 400), 20) << "the percentage's top shows";
    // Its top line reaches into the band's upper half (a 35 pixel text
    // standing 3 pixels above the bar's bottom).
    int topDarkRow = withPercentage.height();
    for (int y = withPercentage.height() - 1; y >= 0; --y)
        for (int x = 250; x < 400; ++x)
            if (qGray(withPercentage.pixel(x, y)) < 128)
                topDarkRow = y;
    EXPECT_LT(topDarkRow, bar.textBand() / 2 + 2);
}

TEST_F(ControlsDrawing, ButtonOutlinesAndPressedFace) {
    CustomButton button(QStringLiteral("Go"));
    button.resize(120, 40);
    QImage image = renderOnWhite(button);
    EXPECT_EQ(grayAt(image, 60, 1), 204);                // outer outline on frame inset 1.5
    EXPECT_EQ(grayAt(image, 1, 20), 204);                // square: the same on the side
    EXPECT_EQ(grayAt(image, 1, 1), 204);                 // and in the corner
    EXPECT_EQ(grayAt(image, 10, 20), 255);               // white face
    EXPECT_EQ(grayAt(image, 0, 20), 255);                // nothing outside the outline
    EXPECT_GT(image.pixelColor(3, 20).lightness(), 245); // faint inner outline

    bool darkTitle = false;
    for (int x = 40; x < 80; ++x)
        darkTitle = darkTitle || grayAt(image, x, 20) < 100;
    EXPECT_TRUE(darkTitle) << "the title is drawn in black";

    button.setDown(true);
    image = renderOnWhite(button);
    EXPECT_EQ(grayAt(image, 10, 20), 0); // black face while pressed
    EXPECT_EQ(grayAt(image, 2, 20), 0);  // from frame inset 2
    EXPECT_EQ(grayAt(image, 1, 20), 204);
    bool lightTitle = false;
    for (int x = 40; x < 80; ++x)
        lightTitle = lightTitle || grayAt(image, x, 20) > 200;
    EXPECT_TRUE(lightTitle) << "the title turns white while pressed";
}
