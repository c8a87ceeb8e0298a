#include "ui/platform/qt/qt_number_glyphs.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cstring>

namespace {

// The place of a character in kCharacters, or -1.
int IndexOf(QChar character) {
    const char16_t code = character.unicode();
    if (code >= 0x80) return -1;
    const char* found = std::strchr(NumberGlyphs::kCharacters, static_cast<char>(code));
    return code != 0 && found != nullptr ? static_cast<int>(found - NumberGlyphs::kCharacters) : -1;
}

}  // namespace

bool NumberGlyphs::Prepare(const QFont& font) {
    if (prepared_ && font == font_) return usable_;
    font_ = font;
    prepared_ = true;
    usable_ = false;
    raw_ = QRawFont::fromFont(font);
    if (!raw_.isValid()) return false;
    const QString characters = QString::fromLatin1(kCharacters);
    const QList<quint32> glyphs = raw_.glyphIndexesForString(characters);
    if (glyphs.size() != characters.size()) return false;
    const QList<QPointF> advances = raw_.advancesForGlyphIndexes(glyphs);
    if (advances.size() != glyphs.size()) return false;
    for (qsizetype i = 0; i < glyphs.size(); ++i) {
        // Glyph 0 is the font's "missing" box: that character is not drawn this way.
        if (glyphs[i] == 0 && characters[i] != QLatin1Char(' ')) return false;
        glyphs_[static_cast<size_t>(i)] = glyphs[i];
        advances_[static_cast<size_t>(i)] = advances[i].x();
    }
    const QFontMetricsF metrics(font);
    ascent_ = metrics.ascent();
    height_ = metrics.height();
    usable_ = true;
    return true;
}

bool NumberGlyphs::Draw(QPainter& painter, const QFont& font, const QColor& colour,
                        const QRect& rect, Qt::Alignment alignment, const QString& text) {
    if (text.isEmpty()) return true;  // nothing to draw, as with QLabel
    if (!Prepare(font)) return false;
    runGlyphs_.clear();
    runPositions_.clear();
    qreal x = 0;
    for (const QChar character : text) {
        const int index = IndexOf(character);
        if (index < 0) return false;
        runGlyphs_.append(glyphs_[static_cast<size_t>(index)]);
        runPositions_.append(QPointF(x, 0));
        x += advances_[static_cast<size_t>(index)];
    }
    qreal left = rect.left();
    if (alignment & Qt::AlignRight) left = rect.left() + rect.width() - x;
    if (alignment & Qt::AlignHCenter) left = rect.left() + (rect.width() - x) / 2;
    // Centred as QLabel centres a line: its height (ascent and descent) in the middle.
    const qreal baseline = rect.top() + qRound((rect.height() - height_) / 2) + ascent_;
    QGlyphRun run;
    run.setRawFont(raw_);
    run.setGlyphIndexes(runGlyphs_);
    run.setPositions(runPositions_);
    painter.setPen(colour);
    painter.drawGlyphRun(QPointF(qRound(left), baseline), run);
    return true;
}
