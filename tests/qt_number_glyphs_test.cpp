// Numbers drawn from cached glyphs look as Qt's own text drawing lays them out: the same ink in
// the same place, for each alignment; any other text is left to Qt.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdlib>

#include "ui/platform/qt/qt_number_glyphs.h"

namespace {

constexpr int kWidth = 120;
constexpr int kHeight = 24;

// Where the ink lies in an image, and how much of it there is.
struct Ink {
    QRect box;
    int pixels = 0;
};

Ink InkOf(const QImage& image) {
    Ink ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) > 160) continue;
            ++ink.pixels;
            ink.box |= QRect(x, y, 1, 1);
        }
    }
    return ink;
}

QImage Blank() {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

TEST(NumberGlyphsTest, NumbersLookAsQtDrawsThem) {
    const QFont font = QApplication::font();
    const QRect rect(2, 1, kWidth - 4, kHeight - 2);
    NumberGlyphs glyphs;
    for (const Qt::Alignment horizontal : {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter}) {
        for (const char* text : {"48.117300", "-122.326393", "12:30, +5", "0"}) {
            const Qt::Alignment alignment = horizontal | Qt::AlignVCenter;
            QImage cached = Blank();
            {
                QPainter painter(&cached);
                ASSERT_TRUE(glyphs.Draw(painter, font, Qt::black, rect, alignment,
                                        QString::fromLatin1(text)));
            }
            QImage drawn = Blank();
            {
                QPainter painter(&drawn);
                painter.setFont(font);
                painter.setPen(Qt::black);
                painter.drawText(rect, static_cast<int>(alignment), QString::fromLatin1(text));
            }
            const Ink mine = InkOf(cached), qts = InkOf(drawn);
            const QRect apart(mine.box.topLeft() - qts.box.topLeft(),
                              mine.box.bottomRight() - qts.box.bottomRight());
            ASSERT_GT(qts.pixels, 0);
            // Within a pixel on every side, and about as much ink.
            EXPECT_TRUE(std::max({std::abs(apart.left()), std::abs(apart.top()),
                                  std::abs(apart.right()), std::abs(apart.bottom())}) <= 1 &&
                        std::abs(mine.pixels - qts.pixels) <= qts.pixels / 5)
                << text << " aligned " << horizontal;
        }
    }
}

TEST(NumberGlyphsTest, OtherTextsAreLeftToQtAndAnEmptyOneDrawsNothing) {
    NumberGlyphs glyphs;
    for (const QString& text :
         {QString("Navlume"), QString("48.1\u00b0"), QString("1\n2"), QString()}) {
        QImage image = Blank();
        QPainter painter(&image);
        EXPECT_EQ(glyphs.Draw(painter, QApplication::font(), Qt::black, image.rect(),
                              Qt::AlignLeft | Qt::AlignVCenter, text),
                  text.isEmpty())
            << text.toStdString();
        painter.end();
        EXPECT_EQ(InkOf(image).pixels, 0) << text.toStdString();
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");  // no window system: Qt draws into memory
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
