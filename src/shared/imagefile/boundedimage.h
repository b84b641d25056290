#pragma once

#include <QByteArray>
#include <QImage>

namespace shared {

// Decodes an image that a server sent. A few kilobytes of compressed data can declare an image
// of gigabytes, so the size its header declares is checked before any pixel is decoded: an image
// of more than MaxPixels pixels, or one whose size cannot be read first, is refused.
// Null when refused or not an image.
QImage decodeImageWithin(const QByteArray& Bytes, qint64 MaxPixels);

} // namespace shared
