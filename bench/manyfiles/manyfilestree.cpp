#include "manyfilestree.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace manyfilesbench {

namespace {

const QString kDocumentName = QStringLiteral("many-1.json");
const QString kCompleteMarker = QStringLiteral("complete");

bool writeFile(const QString& Path, const QByteArray& Bytes)
{
    QDir().mkpath(QFileInfo(Path).absolutePath());
    QFile file(Path);
    return file.open(QIODevice::WriteOnly) && file.write(Bytes) == Bytes.size() && file.flush() &&
           (file.close(), file.error() == QFileDevice::NoError);
}

// A stored piece, as the publisher writes it, for a file of this content.
QJsonObject entryFor(const QString& LocalFile, const QByteArray& Content, bool Executable,
                     const QString& Root, QString& Error)
{
    const QString hash =
        QString::fromLatin1(QCryptographicHash::hash(Content, QCryptographicHash::Sha256).toHex());
    const QString url = QStringLiteral("data/stored/%1/%2").arg(hash.left(2), hash);
    const QString container = Root + QLatin1Char('/') + url;
    if (!QFileInfo::exists(container) && !writeFile(container, Content))
        Error = QStringLiteral("cannot write ") + container;
    return QJsonObject{{QStringLiteral("localfile"), LocalFile},
                       {QStringLiteral("unpackedsize"), Content.size()},
                       {QStringLiteral("unpackedhash"), hash},
                       {QStringLiteral("executable"), Executable},
                       {QStringLiteral("url"), url},
                       {QStringLiteral("packedsize"), Content.size()},
                       {QStringLiteral("packedhash"), hash},
                       {QStringLiteral("unpack"), false}};
}

} // namespace

bool makeManyFilesTree(const QString& Root, int Entries, int Containers, TManyFilesTree& Tree,
                       QString& Error)
{
    Tree.Root = Root;
    Tree.Document = kDocumentName;
    const QString document = Root + QLatin1Char('/') + kDocumentName;
    if (QFileInfo::exists(Root + QLatin1Char('/') + kCompleteMarker)) {
        Tree.DocumentBytes = QFileInfo(document).size();
        return true;
    }
    QJsonArray files;
    files.append(entryFor(QStringLiteral("bin/client"), "#!/bin/sh\nexit 0\n", true, Root, Error));
    for (int i = 0; i < Entries && Error.isEmpty(); ++i) {
        const QString localFile =
            QStringLiteral("data/d%1/f%2.dat").arg(i / 1000, 3, 10, QLatin1Char('0')).arg(i);
        const QByteArray content = "content " + QByteArray::number(i % Containers) + '\n';
        files.append(entryFor(localFile, content, false, Root, Error));
    }
    if (!Error.isEmpty())
        return false;
    const QJsonObject package{{QStringLiteral("version"), QStringLiteral("1")},
                              {QStringLiteral("executable"), QStringLiteral("bin/client")},
                              {QStringLiteral("parameters"), QJsonArray()},
                              {QStringLiteral("chunks"), QJsonArray()},
                              {QStringLiteral("files"), files}};
    const QByteArray bytes = QJsonDocument(package).toJson(QJsonDocument::Indented);
    if (!writeFile(document, bytes) || !writeFile(Root + QLatin1Char('/') + kCompleteMarker, {})) {
        Error = QStringLiteral("cannot write the document below ") + Root;
        return false;
    }
    Tree.DocumentBytes = bytes.size();
    return true;
}

} // namespace manyfilesbench
