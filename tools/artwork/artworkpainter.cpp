#include "artworkpainter.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>

namespace artwork {

namespace {

int g_Scale = 1;

} // namespace

void setScale(int Scale)
{
    g_Scale = Scale;
}

int scale()
{
    return g_Scale;
}

QImage scaledImage(int Width, int Height, QImage::Format Format)
{
    QImage image(Width * g_Scale, Height * g_Scale, Format);
    image.setDevicePixelRatio(g_Scale);
    return image;
}

QImage transparentImage(int Width, int Height)
{
    QImage image = scaledImage(Width, Height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void drawPanel(QImage& Image, const QRectF& Rect, qreal Radius, const QColor& Top,
               const QColor& Bottom, const QColor& Rim)
{
    QPainter painter(&Image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(Rect.topLeft(), Rect.bottomLeft());
    fill.setColorAt(0, Top);
    fill.setColorAt(1, Bottom);
    painter.setPen(QPen(Rim, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(Rect.adjusted(0.5, 0.5, -0.5, -0.5), Radius, Radius);
    // A thin highlight along the top edge gives the panel its bevel; an even panel has none.
    if (Top == Bottom)
        return;
    QColor light = Top.lighter(150);
    light.setAlpha(Top.alpha() / 2);
    painter.setPen(QPen(light, 1));
    painter.drawLine(QPointF(Rect.left() + Radius, Rect.top() + 1.5),
                     QPointF(Rect.right() - Radius, Rect.top() + 1.5));
}

QPainterPath emblemPath(const QRectF& Rect)
{
    // Drawn on a 100 x 100 grid and scaled into the rectangle.
    QPainterPath shield;
    shield.moveTo(50, 2);
    shield.cubicTo(68, 12, 84, 14, 96, 12);
    shield.cubicTo(96, 58, 80, 84, 50, 98);
    shield.cubicTo(20, 84, 4, 58, 4, 12);
    shield.cubicTo(16, 14, 32, 12, 50, 2);
    shield.closeSubpath();

    QPainterPath wing;
    wing.moveTo(22, 64);
    wing.cubicTo(34, 40, 56, 26, 84, 24);
    wing.cubicTo(70, 32, 62, 38, 58, 44);
    wing.cubicTo(68, 42, 76, 42, 82, 44);
    wing.cubicTo(68, 48, 60, 52, 54, 58);
    wing.cubicTo(62, 58, 68, 60, 72, 62);
    wing.cubicTo(56, 64, 40, 66, 22, 64);
    wing.closeSubpath();

    QTransform scale;
    scale.translate(Rect.left(), Rect.top());
    scale.scale(Rect.width() / 100.0, Rect.height() / 100.0);
    return scale.map(shield.subtracted(wing));
}

void drawText(QImage& Image, const QRectF& Rect, const QString& Text, int PixelSize,
              const QColor& Colour, qreal LetterSpacing, int Flags)
{
    QPainter painter(&Image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(PixelSize);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, LetterSpacing);
    painter.setFont(font);
    // A soft shadow keeps gold letters readable on any part of the artwork.
    painter.setPen(QColor(0, 0, 0, 150));
    painter.drawText(Rect.translated(0, 1.5), Flags, Text);
    painter.setPen(Colour);
    painter.drawText(Rect, Flags, Text);
}

QImage desaturated(const QImage& Image, qreal Darken)
{
    QImage result = Image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            const int grey = int(qGray(line[x]) * Darken);
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]));
        }
    }
    return result.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace artwork
