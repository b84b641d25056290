#include "publisher/configure/launcherconfigurationeditor.h"
#include "publisher/verify/treeverifier.h"
#include "shared/hash/sha256.h"

#include "testbuild.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using namespace orvik::publisher;
using namespace publishertest;

namespace {

// Edits a document the way a careless hand or a broken tool would.
void editDocument(const QString& path, const std::function<void(QJsonObject&)>& edit)
{
    QJsonObject document = QJsonDocument::fromJson(testsupport::readBytes(path)).object();
    edit(document);
    testsupport::writeBytes(path, QJsonDocument(document).toJson());
}

QJsonObject fileEntry(const QJsonObject& document, const QString& path, int* position = nullptr)
{
    const QJsonArray files = document.value("files").toArray();
    for (int i = 0; i < files.size(); ++i) {
        if (files.at(i).toObject().value("localfile").toString() == path) {
            if (position)
                *position = i;
            return files.at(i).toObject();
        }
    }
    return {};
}

void replaceFileEntry(QJsonObject& document, const QString& path, const QString& key,
                      const QJsonValue& value)
{
    int position = -1;
    QJsonObject entry = fileEntry(document, path, &position);
    entry.insert(key, value);
    QJsonArray files = document.value("files").toArray();
    files.replace(position, entry);
    document.insert("files", files);
}

} // namespace

class TestTreeVerifier : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_pBuild = std::make_unique<QTemporaryDir>();
        m_pCdn = std::make_unique<QTemporaryDir>();
        QVERIFY(writeBuild(m_pBuild->path(),
                           {{"bin/game", pattern(2000, 1)},
                            {"assets/a.txt", QByteArray(50000, 'a')},
                            {"assets/big.pak", pattern(12 * kMiB, 3)}},
                           QStringLiteral("bin/game")));
        publishBuild(options(m_pBuild->path(), m_pCdn->path(), QStringLiteral("3")));
        m_Package = m_pCdn->filePath("game-3.json");
        m_Assets = m_pCdn->filePath("game-3-assets-7.json");
    }

    void faultsAreFoundWithTheirPath_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("reason");
        QTest::newRow("clean tree") << ""
                                    << ""
                                    << "";
        QTest::newRow("missing container") << "delete a.txt"
                                           << "data/deflate/"
                                           << ": missing";
        QTest::newRow("corrupted container") << "flip a chunk"
                                             << "data/deflate/"
                                             << "packed SHA-256 differs";
        QTest::newRow("truncated container") << "truncate a.txt"
                                             << "data/deflate/"
                                             << "bytes, document says";
        QTest::newRow("container that does not decode") << "garbage a.txt"
                                                        << "data/deflate/"
                                                        << "does not decode";
        QTest::newRow("wrong packed digest in the document") << "packedhash of a chunk"
                                                             << "data/deflate/"
                                                             << "packed SHA-256 differs";
        QTest::newRow("wrong whole-file digest in the document") << "unpackedhash of a.txt"
                                                                 << "data/deflate/"
                                                                 << "unpacked SHA-256 differs";
        QTest::newRow("wrong chunked-file digest in the document")
            << "unpackedhash of big.pak"
            << "game-3-assets-7.json: file 'assets/big.pak'"
            << "reassembles to another SHA-256";
        // The launcher refuses the pair as a whole, so the fault is the package document's.
        QTest::newRow("chunk index out of range")
            << "index of big.pak"
            << "game-3.json"
            << "chunk index 99 of \"assets/big.pak\" is outside the chunk list";
        QTest::newRow("container outside the tree") << "url of a.txt"
                                                    << "game-3.json"
                                                    << "leaves the tree";
        QTest::newRow("file that climbs out of the installation")
            << "localfile of bin/game"
            << "game-3.json"
            << "leaves the installation directory";
        QTest::newRow("document that is not JSON") << "break the assets document"
                                                   << "game-3.json"
                                                   << "assets document is not valid JSON";
    }
    // Catches a verifier that stops at the first fault, names no path, or passes one of these.
    void faultsAreFoundWithTheirPath()
    {
        QFETCH(QString, damage);
        QFETCH(QString, where);
        QFETCH(QString, reason);
        damageTree(damage);
        TTreeVerifier verifier(m_pCdn->path());
        verifier.verifyBuild(m_Package, m_Assets);
        QString report;
        for (const TFault& fault : verifier.faults())
            report += fault.Path + ": " + fault.Reason + "\n";
        if (damage.isEmpty()) {
            QVERIFY2(report.isEmpty(), qPrintable(report));
            QCOMPARE(verifier.documentsChecked(), 2);
            return;
        }
        QVERIFY2(report.startsWith(where) && report.contains(reason), qPrintable(report));
    }

    // Catches a configuration whose relative build URLs are not followed into the tree.
    void configurationLeadsToEveryBuild()
    {
        TConfigurationEdit edit;
        edit.Package = TPackageEdit{};
        edit.Package->Name = "Kestrun";
        edit.Package->Builds.push_back({"linux", "x86_64", "game-3.json", "game-3-assets-7.json"});
        const QString configuration = m_pCdn->filePath("qormetadata.json");
        QVERIFY(testsupport::writeBytes(configuration, editLauncherConfiguration({}, edit)));

        TTreeVerifier clean(m_pCdn->path());
        clean.verifyLauncherConfiguration(configuration);
        QVERIFY(clean.faults().empty());
        QCOMPARE(clean.documentsChecked(), 3);

        damageTree("delete a.txt");
        TTreeVerifier damaged(m_pCdn->path());
        damaged.verifyLauncherConfiguration(configuration);
        QCOMPARE(int(damaged.faults().size()), 1);
        QCOMPARE(damaged.faults().front().Reason, QStringLiteral("missing"));
    }

    // Catches a tree check that skips documents no configuration names, or stops at one that
    // is not JSON.
    void treeCheckReachesEveryDocument()
    {
        QVERIFY(testsupport::writeBytes(m_pCdn->filePath("game-2.json"), "{\"files\": ["));
        TTreeVerifier alone(m_pCdn->path());
        alone.verifyTree();
        QCOMPARE(int(alone.faults().size()), 1);
        QCOMPARE(alone.faults().front().Path, QStringLiteral("game-2.json"));
        QCOMPARE(alone.documentsChecked(), 2); // the assets document cannot be paired
        QCOMPARE(int(alone.notes().size()), 1);

        TConfigurationEdit edit;
        edit.Package = TPackageEdit{};
        edit.Package->Name = "Kestrun";
        edit.Package->Builds.push_back({"linux", "x86_64", "game-3.json", "game-3-assets-7.json"});
        QVERIFY(testsupport::writeBytes(m_pCdn->filePath("qormetadata.json"),
                                        editLauncherConfiguration({}, edit)));
        damageTree("unpackedhash of big.pak");
        TTreeVerifier listed(m_pCdn->path());
        listed.verifyTree();
        QCOMPARE(int(listed.faults().size()), 2);
        QVERIFY(
            listed.faults().back().Path.startsWith("game-3-assets-7.json: file 'assets/big.pak'"));
        QCOMPARE(listed.documentsChecked(), 3);
        QVERIFY(listed.notes().empty());
    }

private:
    QString containerOf(const QString& document, const QString& path) const
    {
        const QJsonObject entry =
            fileEntry(QJsonDocument::fromJson(testsupport::readBytes(document)).object(), path);
        return m_pCdn->filePath(entry.value("url").toString());
    }

    QString firstChunkContainer() const
    {
        const QJsonObject document =
            QJsonDocument::fromJson(testsupport::readBytes(m_Assets)).object();
        return m_pCdn->filePath(
            document.value("chunks").toArray().at(0).toObject().value("url").toString());
    }

    void damageTree(const QString& damage)
    {
        const QString text = containerOf(m_Assets, "assets/a.txt");
        const QByteArray garbage = "p\x03\x05\x03\xff\xff\xff";
        if (damage == "delete a.txt") {
            QVERIFY(QFile::remove(text));
        } else if (damage == "flip a chunk") {
            QByteArray bytes = testsupport::readBytes(firstChunkContainer());
            bytes[1000] = char(bytes.at(1000) ^ 1);
            QVERIFY(testsupport::writeBytes(firstChunkContainer(), bytes));
        } else if (damage == "truncate a.txt") {
            QVERIFY(QFile::resize(text, 10));
        } else if (damage == "garbage a.txt") {
            // Digest and size agree with the document; only decoding can tell.
            QVERIFY(testsupport::writeBytes(text, garbage));
            editDocument(m_Assets, [&](QJsonObject& document) {
                replaceFileEntry(document, "assets/a.txt", "packedsize", garbage.size());
                replaceFileEntry(document, "assets/a.txt", "packedhash",
                                 QString(shared::sha256(garbage).toHex()));
            });
        } else if (damage == "packedhash of a chunk") {
            editDocument(m_Assets, [](QJsonObject& document) {
                QJsonArray chunks = document.value("chunks").toArray();
                QJsonObject chunk = chunks.at(0).toObject();
                chunk.insert("packedhash", QString(64, 'a'));
                chunks.replace(0, chunk);
                document.insert("chunks", chunks);
            });
        } else if (damage == "unpackedhash of a.txt") {
            editDocument(m_Assets, [](QJsonObject& document) {
                replaceFileEntry(document, "assets/a.txt", "unpackedhash", QString(64, 'b'));
            });
        } else if (damage == "unpackedhash of big.pak") {
            editDocument(m_Assets, [](QJsonObject& document) {
                replaceFileEntry(document, "assets/big.pak", "unpackedhash", QString(64, 'c'));
            });
        } else if (damage == "index of big.pak") {
            editDocument(m_Assets, [](QJsonObject& document) {
                replaceFileEntry(document, "assets/big.pak", "chunks", QJsonArray{0, 99});
            });
        } else if (damage == "url of a.txt") {
            editDocument(m_Package, [](QJsonObject& document) {
                replaceFileEntry(document, "bin/game", "url", "../elsewhere/game");
            });
        } else if (damage == "localfile of bin/game") {
            editDocument(m_Package, [](QJsonObject& document) {
                replaceFileEntry(document, "bin/game", "localfile", "../../etc/game");
            });
        } else if (damage == "break the assets document") {
            QVERIFY(testsupport::writeBytes(m_Assets, "<html>gateway timeout</html>"));
        }
    }

    std::unique_ptr<QTemporaryDir> m_pBuild;
    std::unique_ptr<QTemporaryDir> m_pCdn;
    QString m_Package;
    QString m_Assets;
};

QTEST_GUILESS_MAIN(TestTreeVerifier)
#include "tst_treeverifier.moc"
