#include "packagefixture.h"

#include "testhttpserver.h"

#include "shared/container/containerwriter.h"
#include "shared/hash/sha256.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace testsupport {

TPackageFixture::TPackageFixture(TTestHttpServer& server, const QString& prefix)
    : m_Server(server), m_Prefix(prefix)
{}

void TPackageFixture::setFile(const QString& path, const QByteArray& bytes, bool executable)
{
    m_Files.insert(path, bytes);
    m_ExecutableFiles.insert(path, executable);
}

void TPackageFixture::removeFile(const QString& path)
{
    m_Files.remove(path);
    m_ExecutableFiles.remove(path);
}

QByteArray TPackageFixture::publish(const QString& version)
{
    QJsonArray files;
    for (auto it = m_Files.constBegin(); it != m_Files.constEnd(); ++it) {
        const QByteArray unpackedHash = shared::sha256(it.value()).toHex();
        const QByteArray body =
            it.value().isEmpty()
                ? it.value()
                : shared::makeContainer(it.value(), shared::EContainerCodec::Deflate);
        const QString name = QStringLiteral("files/") + QString::fromLatin1(unpackedHash);
        m_Server.serve(m_Prefix + QLatin1Char('/') + name, body);
        QJsonObject file{{"localfile", it.key()},
                         {"url", name},
                         {"packedsize", QString::number(body.size())},
                         {"packedhash", QString::fromLatin1(shared::sha256(body).toHex())},
                         {"unpackedsize", QString::number(it.value().size())},
                         {"unpackedhash", QString::fromLatin1(unpackedHash)},
                         {"unpack", !it.value().isEmpty()},
                         {"executable", m_ExecutableFiles.value(it.key())}};
        files.append(file);
    }
    const QJsonObject document{{"version", version},
                               {"executable", m_Executable},
                               {"parameters", QJsonArray::fromStringList(m_Parameters)},
                               {"files", files}};
    const QByteArray bytes = QJsonDocument(document).toJson();
    m_Server.serve(m_Prefix + QStringLiteral("/package.json"), bytes);
    return bytes;
}

QUrl TPackageFixture::documentUrl() const
{
    return m_Server.url(m_Prefix + QStringLiteral("/package.json"));
}

QByteArray TPackageFixture::launcherConfiguration(const QString& name,
                                                  bool installAutomatically) const
{
    const QJsonObject build{
        {"os", "linux"}, {"architecture", "x86_64"}, {"url", documentUrl().toString()}};
    const QJsonObject package{{"name", name},
                              {"directoryname", name},
                              {"installautomatically", installAutomatically},
                              {"builds", QJsonArray{build}}};
    return QJsonDocument(QJsonObject{{"packages", QJsonArray{package}}}).toJson();
}

} // namespace testsupport
