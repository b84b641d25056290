#pragma once

#include "launcher/configuration/packageconfigurationreader.h"
#include "publisher/verify/fault.h"
#include "publisher/verify/trustcheck.h"

#include <QDir>
#include <QString>
#include <QUrl>

#include <map>
#include <set>
#include <vector>

namespace orvik::publisher {

// Checks published documents against the containers of a local CDN tree: every listed container
// exists inside the tree, has the packed size and digest its entry names, decodes to the unpacked
// size and digest, and every file's pieces reassemble to the file's size and digest. Collects
// every fault instead of stopping at the first, so one run shows all that must be republished.
class TTreeVerifier
{
public:
    // Containers outside rootDirectory count as faults, whatever a document says.
    explicit TTreeVerifier(const QString& rootDirectory);
    // From now on each document also needs a signature by this raw Ed25519 public key beside it.
    void checkSignaturesWith(const QByteArray& publicKey) { m_PublicKey = publicKey; }
    // With a public key: each signed configuration must also be one that launchers fetching it
    // from this address, or pinning this channel, take.
    void expectPlace(const TExpectedPlace& place) { m_ExpectedPlace = place; }

    // An empty assetsDocument means none.
    void verifyBuild(const QString& packageDocument, const QString& assetsDocument);
    // Every build of every package whose documents lie in the tree.
    void verifyLauncherConfiguration(const QString& configurationDocument);
    // Every document below the tree's root: the launcher configurations with their builds, then
    // the package documents no configuration lists, each on its own, then the assets documents no
    // configuration lists. Which package document such an assets document continues is unknown,
    // so its chunked files are not reassembled (a note says so); its containers are checked.
    // Other JSON gets a note; a tree without any document is a fault.
    void verifyTree();

    const std::vector<TFault>& faults() const { return m_Faults; }
    const std::vector<QString>& notes() const { return m_Notes; }
    int documentsChecked() const { return m_DocumentsChecked; }
    int containersChecked() const { return int(m_ContainerOk.size()); }

private:
    // Faults of a file name the document that lists it: assetFiles holds the assets document's.
    void verifyLoneAssets(const QString& assetsDocument);
    void verifyFiles(const launcher::TPackageConfigurationReader& reader,
                     const QString& packageDocument, const QString& assetsDocument,
                     const std::set<QString>& assetFiles);
    // The decoded bytes, or false with a fault recorded (once per container).
    bool loadPiece(const launcher::TChunkInPackage& piece, const QString& document,
                   QByteArray& decoded);
    QString localPathOf(const QUrl& url, const QString& document);
    QString shown(const QString& path) const;
    void addFault(const QString& path, const QString& reason);
    // Once per document, and only with a public key.
    void checkSignature(const QString& document);
    // The place a signed configuration names: the one expected, and no other configuration's.
    void checkPlaceOf(const launcher::TLauncherConfigurationReader& reader,
                      const QString& configurationDocument);

    QDir m_Root;
    QByteArray m_PublicKey;
    TExpectedPlace m_ExpectedPlace;
    // The first signed configuration that names each place (address and channel).
    std::map<std::pair<QString, QString>, QString> m_Places;
    std::set<QString> m_SignaturesChecked;
    std::map<QString, bool> m_ContainerOk;
    std::vector<TFault> m_Faults;
    std::vector<QString> m_Notes;
    std::set<std::pair<QString, QString>> m_CheckedBuilds;
    std::set<QString> m_CoveredDocuments;
    int m_DocumentsChecked = 0;
};

} // namespace orvik::publisher
