#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

// A game build around the demo client, published with the real publisher into a CDN tree, and
// a launcher configuration that points at one of its versions: what the end-to-end tests serve
// with nginx.
class TPublishedGame
{
public:
    static const QString kClient; // the client's file name in the build
    static const QString kWorld;  // a large data file, packed with LZMA
    // Where the launcher configuration is served, below the tree's root.
    static const QString kConfigurationPath;

    bool isValid() const { return m_Work.isValid(); }
    QString build() const { return m_Work.filePath(QStringLiteral("build")); }
    QString cdn() const { return m_Work.filePath(QStringLiteral("cdn")); }
    QString work() const { return m_Work.path(); }

    // A fresh build: the demo client, the world data, the client's settings and an asset.
    bool makeBuild(const QByteArray& world, QString& error) const;
    // From now on publish and configure sign what they write with this private key; empty: not.
    void setSigningKey(const QString& privateKeyFile) { m_SigningKey = privateKeyFile; }
    // Publishes the build as this package version, with assets version "1" + version.
    bool publish(const QString& version, QString& output) const;
    // Points the launcher configuration at this version.
    bool configure(const QString& version, QString& output,
                   const QStringList& extraArguments = {}) const;
    // A fresh build around World, published as this version, the configuration pointing at it:
    // the opening of most end-to-end tests.
    bool publishVersion(const QString& version, const QByteArray& world, QString& output) const;
    // The package document of a version in the CDN tree.
    QString packageDocument(const QString& version) const;
    QString assetsDocument(const QString& version) const;

    // Bytes that do not compress, the same for the same seed.
    static QByteArray pseudoRandom(int size, quint32 seed);
    // Runs a tool to its end; false with its output when it failed.
    static bool runTool(const QString& program, const QStringList& arguments, QString& output);

private:
    QStringList keyArguments() const;

    QTemporaryDir m_Work;
    QString m_SigningKey;
};

} // namespace testsupport
