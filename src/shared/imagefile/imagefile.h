#pragma once

#include <QString>

#include <memory>

class QImage;

namespace shared {

class TFileSystemHelper;

// Images go through the file-system helper's byte operations, so a helper that replaces reading
// or writing replaces it for images too. They live apart from the helper because decoding images
// needs the GUI library, which the studio's tool must run without.

// Null when the file is missing, empty or not an image of that format; other read errors throw.
std::shared_ptr<QImage> readImageFile(TFileSystemHelper& Helper, const QString& Path,
                                      const char* Format);
// Throws when the image cannot be encoded in that format or the file cannot be written.
void writeImageFile(TFileSystemHelper& Helper, const QImage& Image, const QString& Path,
                    const char* Format);

} // namespace shared
