#include "shared/imagefile/imagefile.h"

#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/filesystemhelper/ioerror.h"

#include <QBuffer>
#include <QImage>

namespace shared {

std::shared_ptr<QImage> readImageFile(TFileSystemHelper& Helper, const QString& Path,
                                      const char* Format)
{
    const QByteArray bytes = Helper.readFileIfExists(Path);
    if (bytes.isEmpty())
        return nullptr;
    QImage image = QImage::fromData(bytes, Format);
    if (image.isNull())
        return nullptr;
    return std::make_shared<QImage>(std::move(image));
}

void writeImageFile(TFileSystemHelper& Helper, const QImage& Image, const QString& Path,
                    const char* Format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    // An image that does not encode (null, or a format without a writer) would otherwise leave
    // an empty file behind and look written.
    if (!buffer.open(QIODevice::WriteOnly) || !Image.save(&buffer, Format, -1))
        throw ioError(
            Path,
            QStringLiteral("the image cannot be encoded as %1").arg(QString::fromLatin1(Format)));
    Helper.writeFile(Path, bytes);
}

} // namespace shared
