#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace testsupport {

class TTestHttpServer;

// A small package published on the test server: every file travels whole in a DEFLATE container
// under a name made of its digest, and the package document lists them.
class TPackageFixture
{
public:
    TPackageFixture(TTestHttpServer& server, const QString& prefix);

    void setFile(const QString& path, const QByteArray& bytes, bool executable = false);
    void removeFile(const QString& path);
    void setExecutable(const QString& path) { m_Executable = path; }
    void setParameters(const QStringList& parameters) { m_Parameters = parameters; }

    // Serves the containers and the document "<prefix>/package.json" for this version, and
    // returns the document.
    QByteArray publish(const QString& version);
    QUrl documentUrl() const;
    // A launcher configuration with this package as its only package.
    QByteArray launcherConfiguration(const QString& name, bool installAutomatically) const;

private:
    TTestHttpServer& m_Server;
    QString m_Prefix;
    QMap<QString, QByteArray> m_Files;
    QMap<QString, bool> m_ExecutableFiles;
    QString m_Executable;
    QStringList m_Parameters;
};

} // namespace testsupport
