#include "shared/imagefile/boundedimage.h"

#include <QBuffer>
#include <QImageReader>

namespace shared {

QImage decodeImageWithin(const QByteArray& Bytes, qint64 MaxPixels)
{
    QBuffer buffer;
    buffer.setData(Bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return QImage();
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > MaxPixels)
        return QImage();
    return reader.read();
}

} // namespace shared
