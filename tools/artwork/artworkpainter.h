#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QString>

// Shared drawing steps of the launcher's artwork: one palette, one way of drawing panels,
// emblems and letters, so every image belongs to the same look.
namespace artwork {

inline const QColor kGold(0xDA, 0xDA, 0xBC);
inline const QColor kDeepGold(0xB8, 0x95, 0x3F);
inline const QColor kNight(0x0F, 0x12, 0x19);
inline const QColor kSlate(0x1D, 0x23, 0x31);

// Every image is drawn in logical pixels; at scale 2 it has twice the pixels and a device pixel
// ratio of 2, which is what the @2x variants for high-DPI screens hold.
void setScale(int Scale);
int scale();
QImage scaledImage(int Width, int Height, QImage::Format Format);
QImage transparentImage(int Width, int Height);
// A rounded panel with a vertical gradient, a light top edge and a dark rim.
void drawPanel(QImage& Image, const QRectF& Rect, qreal Radius, const QColor& Top,
               const QColor& Bottom, const QColor& Rim);
// The kestrel emblem: a wing in a shield, centred in the rectangle.
QPainterPath emblemPath(const QRectF& Rect);
// Text in Liberation Sans Bold, centred at the given line.
void drawText(QImage& Image, const QRectF& Rect, const QString& Text, int PixelSize,
              const QColor& Colour, qreal LetterSpacing = 0, int Flags = Qt::AlignCenter);
QImage desaturated(const QImage& Image, qreal Darken);

} // namespace artwork
