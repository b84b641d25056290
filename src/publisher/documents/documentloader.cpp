#include "publisher/documents/documentloader.h"

#include "publisher/publishererror.h"

#include <QFile>
#include <QFileInfo>

namespace orvik::publisher {

QUrl directoryUrlOf(const QString& documentPath)
{
    return QUrl::fromLocalFile(QFileInfo(documentPath).absolutePath() + QLatin1Char('/'));
}

QByteArray readDocument(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TPublisherError(QStringLiteral("cannot read '%1': %2").arg(path, file.errorString()));
    return file.readAll();
}

launcher::TPackageConfigurationReader loadBuildDocuments(const QString& packagePath,
                                                         const QString& assetsPath)
{
    QByteArray package = readDocument(packagePath);
    QByteArray assets = assetsPath.isEmpty() ? QByteArray() : readDocument(assetsPath);
    launcher::TPackageConfigurationReader reader(
        std::move(package), std::move(assets), directoryUrlOf(packagePath),
        assetsPath.isEmpty() ? QUrl() : directoryUrlOf(assetsPath));
    // The launcher refuses these documents as a whole, so the reason is the launcher's.
    if (!reader.isValid())
        throw TPublisherError(
            QStringLiteral("'%1'%2 would be refused by the launcher: %3")
                .arg(packagePath,
                     assetsPath.isEmpty() ? QString() : QStringLiteral(" or '%1'").arg(assetsPath),
                     reader.getInvalidReason()));
    return reader;
}

} // namespace orvik::publisher
