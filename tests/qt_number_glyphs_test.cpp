// Numbers drawn from cached glyphs look as Qt's own text drawing lays them out: the same ink in
// the same place, for each alignment; any other text is left to Qt.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

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
            const QString where = QString("%1 aligned %2").arg(text).arg(int(horizontal));
            ASSERT_GT(qts.pixels, 0) << where.toStdString();
            EXPECT_LE(std::abs(mine.box.left() - qts.box.left()), 1) << where.toStdString();
            EXPECT_LE(std::abs(mine.box.right() - qts.box.right()), 1) << where.toStdString();
            EXPECT_LE(std::abs(mine.box.top() - qts.box.top()), 1) << where.toStdString();
            EXPECT_LE(std::abs(mine.box.bottom() - qts.box.bottom()), 1) << where.toStdString();
            EXPECT_LE(std::abs(mine.pixels - qts.pixels), qts.pixels / 5) << where.toStdString();
        }
    }
}

TEST(NumberGlyphsTest, OtherTextsAreLeftToQt) {
    NumberGlyphs glyphs;
    for (const QString& text : {QString("Navlume"), QString("48.1\u00b0"), QString("1\n2")}) {
        QImage image = Blank();
        QPainter painter(&image);
        EXPECT_FALSE(glyphs.Draw(painter, QApplication::font(), Qt::black, image.rect(),
                                 Qt::AlignLeft | Qt::AlignVCenter, text))
            << text.toStdString();
        painter.end();
        EXPECT_EQ(InkOf(image).pixels, 0) << text.toStdString();
    }
    QImage image = Blank();
    QPainter painter(&image);
    EXPECT_TRUE(glyphs.Draw(painter, QApplication::font(), Qt::black, image.rect(),
                            Qt::AlignLeft | Qt::AlignVCenter, QString()))
        << "an empty text is drawn: as nothing";
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");  // no window system: Qt draws into memory
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
