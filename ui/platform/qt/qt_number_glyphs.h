// Numbers drawn from glyphs looked up once. The position labels change ten times a second, and
// QLabel lays its text out anew for every paint (itemizing and shaping it with HarfBuzz), which
// costs more than the rest of a position's way through the program. A text made only of
// digits, signs, points and spaces needs none of that: its glyphs and their advances are the
// same every time, so they are looked up once per font and the text is drawn as one glyph run.
//
// Threads: GUI thread only, like the widget that owns it.
#pragma once

#include <QColor>
#include <QFont>
#include <QGlyphRun>
#include <QRawFont>
#include <QRect>
#include <QString>
#include <array>

class QPainter;

class NumberGlyphs {
  public:
    // The characters it draws; a text with any other is left to the caller.
    static constexpr const char* kCharacters = "0123456789-+.,: ";

    // Draws text in font and colour into rect, aligned as alignment says (horizontally left,
    // right or centred; vertically centred). False, with nothing drawn, when the text holds
    // another character or the font has no glyph for one of them.
    bool Draw(QPainter& painter, const QFont& font, const QColor& colour, const QRect& rect,
              Qt::Alignment alignment, const QString& text);

  private:
    bool Prepare(const QFont& font);

    QFont font_;
    bool prepared_ = false;
    bool usable_ = false;
    QRawFont raw_;
    std::array<quint32, 16> glyphs_{};
    std::array<qreal, 16> advances_{};
    qreal ascent_ = 0;
    qreal height_ = 0;
    QList<quint32> runGlyphs_;  // kept between paints so that drawing allocates nothing
    QList<QPointF> runPositions_;
};
