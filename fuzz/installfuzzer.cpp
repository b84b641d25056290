// Updates an installation from an old to a new package document, both made from the input
// together with the tree found on disk, through the launcher's installation manager: its markers,
// planning, deletions, chunk moves and downloads. Bodies are read from local files. Whatever the
// documents say, the run may only change what one of them lists inside the installation, never
// anything a link leads to outside it, and leaves the markers holding one document or the other.

#include "installcase.h"

#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/installationmanager.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "shared/hash/sha256.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace installfuzz;
using namespace orvik::launcher;

namespace {

constexpr int kMaxEntries = 10;
constexpr int kMaxTreeItems = 14;
constexpr int kMaxLinkHops = 8;
// A run reads a few small files; one that takes this long has hung.
constexpr int kRunLimitMs = 20000;

const QString kPartialMarker = QStringLiteral("partial-package.json");
const QString kFullMarker = QStringLiteral("package.json");
const QString kAssets = QStringLiteral("assets.json");

[[noreturn]] void fail(const QString& What)
{
    std::fprintf(stderr, "install fuzzer: %s\n", qPrintable(What));
    std::abort();
}

struct TEntry
{
    QString LocalFile;
    EFileKind Kind = EFileKind::Whole;
    QByteArray Content;
    std::vector<int> Chunks;
    bool Executable = false;
};

enum class ETreeKind { File, Folder, Link };

struct TTreeItem
{
    ETreeKind Kind = ETreeKind::File;
    QString Path;
    QByteArray Content;
    QString Target;
};

struct TCase
{
    std::vector<TEntry> Old;
    std::vector<TEntry> New;
    std::vector<TTreeItem> Tree;
    EMarkers Markers = EMarkers::FullOld;
    bool FastScan = false;
    bool SameVersion = false;
};

TEntry readEntry(TByteReader& Reader)
{
    TEntry entry;
    entry.LocalFile = readPath(Reader);
    const std::uint8_t bits = Reader.next();
    entry.Kind = EFileKind(bits & 3);
    entry.Content = contents().at(((bits >> 2) & 7) % contents().size());
    entry.Executable = (bits & 0x80) != 0;
    if (entry.Kind == EFileKind::Chunked) {
        const int count = Reader.next() % (kMaxChunksPerFile + 1);
        entry.Content.clear();
        for (int i = 0; i < count; ++i) {
            const int index = Reader.next() % kChunkIndexChoices;
            entry.Chunks.push_back(index == kChunkIndexChoices - 1 ? -1 : index);
            if (index < chunks().size())
                entry.Content += chunks().at(index);
        }
    }
    return entry;
}

TCase readCase(TByteReader& Reader)
{
    TCase result;
    while (!Reader.atEnd()) {
        const auto kind = ERecord(Reader.next() % std::uint8_t(ERecord::Count));
        switch (kind) {
        case ERecord::OldFile:
        case ERecord::NewFile:
        case ERecord::BothFiles: {
            const TEntry entry = readEntry(Reader);
            if (kind != ERecord::NewFile && result.Old.size() < kMaxEntries)
                result.Old.push_back(entry);
            if (kind != ERecord::OldFile && result.New.size() < kMaxEntries)
                result.New.push_back(entry);
            break;
        }
        case ERecord::TreeFile:
        case ERecord::TreeFolder:
        case ERecord::TreeLink: {
            TTreeItem item;
            item.Kind = kind == ERecord::TreeFile     ? ETreeKind::File
                        : kind == ERecord::TreeFolder ? ETreeKind::Folder
                                                      : ETreeKind::Link;
            item.Path = readPath(Reader);
            const std::uint8_t choice = Reader.next();
            item.Content = contents().at(choice % contents().size());
            item.Target = linkTargets().at(choice % linkTargets().size());
            if (result.Tree.size() < kMaxTreeItems)
                result.Tree.push_back(item);
            break;
        }
        case ERecord::Options:
        case ERecord::Count: {
            const std::uint8_t bits = Reader.next();
            result.Markers = EMarkers(bits & 3);
            result.FastScan = (bits & kFastScanBit) != 0;
            result.SameVersion = (bits & kSameVersionBit) != 0;
            break;
        }
        }
    }
    return result;
}

QString hex(const QByteArray& Bytes)
{
    return QString::fromLatin1(shared::sha256(Bytes).toHex());
}

QByteArray document(const std::vector<TEntry>& Entries, const QString& Version)
{
    QJsonArray table;
    for (const QByteArray& chunk : chunks())
        table.append(QJsonObject{{QStringLiteral("url"), QStringLiteral("c/") + hex(chunk)},
                                 {QStringLiteral("unpackedsize"), QString::number(chunk.size())},
                                 {QStringLiteral("unpackedhash"), hex(chunk)}});
    QJsonArray files;
    for (const TEntry& entry : Entries) {
        QJsonObject file{{QStringLiteral("localfile"), entry.LocalFile},
                         {QStringLiteral("unpackedsize"), QString::number(entry.Content.size())},
                         {QStringLiteral("unpackedhash"), hex(entry.Content)}};
        if (entry.Executable)
            file[QStringLiteral("executable")] = true;
        if (entry.Kind == EFileKind::Chunked) {
            QJsonArray indexes;
            for (const int index : entry.Chunks)
                indexes.append(index);
            file[QStringLiteral("chunks")] = indexes;
        } else {
            // A wrong body is another content's: it decodes, and fails its digest.
            const QByteArray body =
                entry.Kind == EFileKind::WrongBody ? entry.Content + "!" : entry.Content;
            file[QStringLiteral("url")] = entry.Kind == EFileKind::MissingBody
                                              ? QStringLiteral("b/missing")
                                              : QStringLiteral("b/") + hex(body);
        }
        files.append(file);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("version"), Version},
                                     {QStringLiteral("files"), files},
                                     {QStringLiteral("chunks"), table}})
        .toJson(QJsonDocument::Compact);
}

bool writeBytes(const QString& Path, const QByteArray& Bytes)
{
    QFile file(Path);
    return file.open(QIODevice::WriteOnly) && file.write(Bytes) == Bytes.size() && file.flush();
}

QByteArray readBytes(const QString& Path)
{
    QFile file(Path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What a path is, without following a link.
struct TNode
{
    char Type = '?';
    QByteArray Content;
    QByteArray Target;
    bool operator==(const TNode& Other) const
    {
        return Type == Other.Type && Content == Other.Content && Target == Other.Target;
    }
    bool operator!=(const TNode& Other) const { return !(*this == Other); }
};

TNode node(const QString& Path)
{
    TNode result;
    struct stat status
    {
    };
    const QByteArray native = QFile::encodeName(Path);
    if (::lstat(native.constData(), &status) != 0)
        return result;
    if (S_ISLNK(status.st_mode)) {
        result.Type = 'l';
        char target[4096];
        const ssize_t length = ::readlink(native.constData(), target, sizeof(target));
        result.Target = QByteArray(target, int(std::max<ssize_t>(length, 0)));
    } else if (S_ISDIR(status.st_mode)) {
        result.Type = 'd';
    } else if (S_ISREG(status.st_mode)) {
        result.Type = 'f';
        result.Content = readBytes(Path);
        result.Target = QByteArray::number(int(status.st_mode & 0777));
    }
    return result;
}

// Every path below Root, relative to it, except those below Skipped.
QMap<QString, TNode> snapshot(const QString& Root, const QString& Skipped = QString())
{
    QMap<QString, TNode> nodes;
    QDirIterator it(Root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!Skipped.isEmpty() && (path == Skipped || path.startsWith(Skipped + QLatin1Char('/'))))
            continue;
        nodes.insert(path.mid(Root.size() + 1), node(path));
    }
    return nodes;
}

class TFuzzRun
{
public:
    explicit TFuzzRun(const TCase& Case) : m_Case(Case) {}

    void run()
    {
        if (!setUp())
            return;
        const QMap<QString, TNode> before = snapshot(m_Install);
        const QMap<QString, TNode> outsideBefore = snapshot(m_Data, m_Install);
        const QSet<QString> listed = listedPaths();
        update();
        if (qEnvironmentVariableIsSet("KESTRUN_FUZZ_SHOW"))
            show(before, snapshot(m_Install));
        checkOutside(outsideBefore, snapshot(m_Data, m_Install));
        checkInstallation(before, snapshot(m_Install), listed);
        checkMarkers();
    }

    // For replaying a finding: the installation before and after.
    static void show(const QMap<QString, TNode>& Before, const QMap<QString, TNode>& After)
    {
        for (const auto* nodes : {&Before, &After}) {
            std::fprintf(stderr, nodes == &Before ? "before:\n" : "after:\n");
            for (auto it = nodes->begin(); it != nodes->end(); ++it)
                std::fprintf(stderr, "  %c %s %s\n", it.value().Type, qPrintable(it.key()),
                             it.value().Type == 'l' ? it.value().Target.constData()
                                                    : it.value().Content.left(60).constData());
        }
    }

    static QString s_Root;
    static std::shared_ptr<TLauncherFilesystemHelper> s_pHelper;
    static std::shared_ptr<TLauncherFilesystemHelper> s_pFastHelper;

private:
    // False when the case cannot be set up as an installation.
    bool setUp()
    {
        m_Data = s_Root + QStringLiteral("/data/Halvern GmbH/Kestrun Online");
        m_Install = m_Data + QStringLiteral("/packages/Live");
        QDir(m_Data).removeRecursively();
        for (const QString& folder :
             {QStringLiteral("/packages/Live"), QStringLiteral("/packages/Other/sub"),
              QStringLiteral("/packages/Live2"), QStringLiteral("/outside")})
            QDir().mkpath(m_Data + folder);
        writeBytes(m_Data + QStringLiteral("/packages/Other/save"), "sibling save");
        writeBytes(m_Data + QStringLiteral("/packages/Other/sub/x.dat"), "sibling x");
        writeBytes(m_Data + QStringLiteral("/packages/Live2/a"), "prefix sibling");
        writeBytes(m_Data + QStringLiteral("/outside/kept"), "outside");

        for (const TTreeItem& item : m_Case.Tree)
            makeTreeItem(item);
        // A tree item made through a link to the installation's own folder can stand in a
        // marker's place; the installation can then not even be read, and the case is not one
        // of an update.
        for (const QString& name : {kFullMarker, kPartialMarker})
            if (node(m_Install + QLatin1Char('/') + name).Type != '?')
                return false;

        const QString oldVersion = QStringLiteral("1");
        m_OldDocument = document(m_Case.Old, oldVersion);
        m_NewDocument = document(m_Case.New, m_Case.SameVersion ? oldVersion : QStringLiteral("2"));
        switch (m_Case.Markers) {
        case EMarkers::None:
            break;
        case EMarkers::FullOld:
            writeBytes(m_Install + QLatin1Char('/') + kFullMarker, m_OldDocument);
            break;
        case EMarkers::PartialOld:
            writeBytes(m_Install + QLatin1Char('/') + kPartialMarker, m_OldDocument);
            break;
        case EMarkers::PartialNew:
            writeBytes(m_Install + QLatin1Char('/') + kPartialMarker, m_NewDocument);
            break;
        }
        return true;
    }

    void makeTreeItem(const TTreeItem& Item)
    {
        const QString path = QDir::cleanPath(m_Install + QLatin1Char('/') + Item.Path);
        // The tree is the installation's; the markers are set up on their own, and nothing is
        // made in their place.
        const QString relative = path.mid(m_Install.size() + 1);
        if (!path.startsWith(m_Install + QLatin1Char('/')) ||
            relative.section(QLatin1Char('/'), 0, 0) == kFullMarker ||
            relative.section(QLatin1Char('/'), 0, 0) == kPartialMarker)
            return;
        if (!QDir().mkpath(QFileInfo(path).path()))
            return;
        const QByteArray native = QFile::encodeName(path);
        switch (Item.Kind) {
        case ETreeKind::File:
            writeBytes(path, Item.Content);
            break;
        case ETreeKind::Folder:
            QDir().mkpath(path);
            break;
        case ETreeKind::Link: {
            QString target = Item.Target;
            target.replace(QStringLiteral("%OUTSIDE%"), m_Data + QStringLiteral("/outside"));
            const int linked = ::symlink(QFile::encodeName(target).constData(), native.constData());
            static_cast<void>(linked); // a name already taken keeps what stands there
            break;
        }
        }
    }

    // Where an entry lands, read without the launcher's own code: the cleaned path, or for one
    // that climbs out its last name directly inside; and the same with the links found on disk
    // before the update followed, as long as they stay inside, both those of its folders only
    // (a link in the last name's place is replaced) and all of them.
    void addListed(const QString& LocalFile, QSet<QString>& Listed) const
    {
        const QString root = m_Install + QLatin1Char('/');
        QString path = QDir::cleanPath(root + LocalFile);
        if (!path.startsWith(root)) {
            QString name = QFileInfo(LocalFile).fileName();
            if (name.isEmpty())
                name = QDir(LocalFile).dirName();
            path = QDir::cleanPath(root + name);
            if (!path.startsWith(root))
                return;
        }
        Listed.insert(path.mid(root.size()));

        QString resolved = m_Install;
        const QStringList parts = path.mid(root.size()).split(QLatin1Char('/'));
        int hops = 0;
        for (int i = 0; i < parts.size(); ++i) {
            QString next = resolved + QLatin1Char('/') + parts.at(i);
            if (i == parts.size() - 1)
                Listed.insert(next.mid(root.size()));
            while (QFileInfo(next).isSymLink() && hops++ < kMaxLinkHops) {
                // A relative target counts from the folder of the link that holds it.
                const QString target = QString::fromUtf8(node(next).Target);
                next = QDir::cleanPath(QDir::isAbsolutePath(target)
                                           ? target
                                           : QFileInfo(next).path() + QLatin1Char('/') + target);
            }
            // A link to "." leads to the installation's own folder, which is inside.
            if (next != m_Install && !next.startsWith(root))
                return;
            resolved = next;
        }
        Listed.insert(resolved.mid(root.size()));
    }

    QSet<QString> listedPaths() const
    {
        QSet<QString> listed;
        for (const std::vector<TEntry>* entries : {&m_Case.Old, &m_Case.New})
            for (const TEntry& entry : *entries)
                addListed(entry.LocalFile, listed);
        return listed;
    }

    void update()
    {
        const QByteArray configuration =
            "{\"packages\": [{\"name\": \"Live\", \"directoryname\": \"Live\", \"builds\": "
            "[{\"os\": \"linux\", \"architecture\": \"x86_64\", \"url\": \"x.json\"}]}]}";
        auto pConfiguration = std::make_shared<TLauncherConfigurationReader>(configuration, QUrl());
        const std::shared_ptr<TPackage> package = pConfiguration->getPackages().at(0);
        const QUrl base = QUrl::fromLocalFile(s_Root + QStringLiteral("/cdn/"));
        package->getBuilds()[0]->m_pConfiguration = std::make_shared<TPackageConfigurationReader>(
            QByteArray(m_NewDocument), QByteArray(), base, base);
        TInstallationManager manager(pConfiguration, m_Case.FastScan ? s_pFastHelper : s_pHelper);
        QEventLoop loop;
        QObject::connect(&manager, &TInstallationManager::allStartedUpdatesFinished, &loop,
                         &QEventLoop::quit);
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, [] { fail(QStringLiteral("the update hung")); });
        try {
            manager.installOrUpdatePackage(package);
        } catch (const std::exception&) {
            // A marker that cannot be written ends the update before it starts; what it left is
            // checked all the same.
            m_bStartFailed = true;
        }
        if (!manager.getInstallationsInProgress().empty()) {
            limit.start(kRunLimitMs);
            loop.exec();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void checkOutside(const QMap<QString, TNode>& Before, const QMap<QString, TNode>& After) const
    {
        for (auto it = Before.begin(); it != Before.end(); ++it)
            if (After.value(it.key()) != it.value())
                fail(QStringLiteral("'%1' outside the installation was changed or removed")
                         .arg(it.key()));
        for (auto it = After.begin(); it != After.end(); ++it)
            if (!Before.contains(it.key()))
                fail(QStringLiteral("'%1' outside the installation was created").arg(it.key()));
    }

    static bool isLauncherFile(const QString& Path)
    {
        // The markers and documents, their signatures and a staged copy, at the top only.
        return !Path.contains(QLatin1Char('/')) &&
               (Path.startsWith(kFullMarker) || Path.startsWith(kPartialMarker) ||
                Path.startsWith(kAssets));
    }

    static bool holdsListed(const QSet<QString>& Listed, const QString& Folder)
    {
        const QString prefix = Folder + QLatin1Char('/');
        for (const QString& path : Listed)
            if (path.startsWith(prefix))
                return true;
        return false;
    }

    static bool isBelowListed(const QSet<QString>& Listed, const QString& Path)
    {
        for (const QString& path : Listed)
            if (Path.startsWith(path + QLatin1Char('/')))
                return true;
        return false;
    }

    void checkInstallation(const QMap<QString, TNode>& Before, const QMap<QString, TNode>& After,
                           const QSet<QString>& Listed) const
    {
        QSet<QString> paths;
        for (auto it = Before.begin(); it != Before.end(); ++it)
            paths.insert(it.key());
        for (auto it = After.begin(); it != After.end(); ++it)
            paths.insert(it.key());
        for (const QString& path : paths) {
            const TNode was = Before.value(path);
            const TNode is = After.value(path);
            if (was == is || Listed.contains(path) || isLauncherFile(path))
                continue;
            // Folders on the way to a listed file may come and go, empty, and so may the empty
            // folders standing at the place of a listed file.
            const bool folderOrNothing =
                (was.Type == 'd' || was.Type == '?') && (is.Type == 'd' || is.Type == '?');
            if (folderOrNothing && (holdsListed(Listed, path) || isBelowListed(Listed, path)))
                continue;
            fail(QStringLiteral("'%1' is listed by neither document and went from '%2' to '%3'")
                     .arg(path, QString(QLatin1Char(was.Type)), QString(QLatin1Char(is.Type))));
        }
    }

    void checkMarkers() const
    {
        bool found = false;
        for (const QString& name : {kFullMarker, kPartialMarker}) {
            const TNode marker = node(m_Install + QLatin1Char('/') + name);
            if (marker.Type == '?')
                continue;
            found = true;
            if (marker.Type != 'f' ||
                (marker.Content != m_OldDocument && marker.Content != m_NewDocument))
                fail(QStringLiteral("the marker '%1' holds neither document").arg(name));
        }
        // An update that started leaves a marker whatever becomes of it; one that could not
        // start leaves what there was.
        if (!found && (m_Case.Markers != EMarkers::None || !m_bStartFailed))
            fail(QStringLiteral("no marker is left"));
    }

    const TCase& m_Case;
    QString m_Data;
    QString m_Install;
    QByteArray m_OldDocument;
    QByteArray m_NewDocument;
    bool m_bStartFailed = false;
};

QString TFuzzRun::s_Root;
std::shared_ptr<TLauncherFilesystemHelper> TFuzzRun::s_pHelper;
std::shared_ptr<TLauncherFilesystemHelper> TFuzzRun::s_pFastHelper;

std::shared_ptr<TLauncherFilesystemHelper> helper(const QString& Directory, bool FastScan)
{
    QDir().mkpath(Directory);
    const QByteArray settings =
        "[DIRECTORIES]\npackages=packages\n[FILES]\npackageFile=package.json\n"
        "partialPackageFile=partial-package.json\nassetFile=assets.json\n"
        "[OPTIONS]\nskipVerification=false\ntelemetry=false\nmaxConcurrentDownloads=2\n"
        "fastScan=" +
        QByteArray(FastScan ? "true" : "false") + "\n";
    if (!writeBytes(Directory + QStringLiteral("/launchersettings.ini"), settings))
        fail(QStringLiteral("cannot write the settings"));
    return std::make_shared<TLauncherFilesystemHelper>(Directory);
}

void dropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    // File names are UTF-8 whatever the calling shell's locale, as on a player's machine.
    ::setenv("LC_ALL", "C.UTF-8", 1);
    static QCoreApplication application(*pArgc, *pArgv);
    QCoreApplication::setOrganizationName(QStringLiteral("Halvern GmbH"));
    QCoreApplication::setApplicationName(QStringLiteral("Kestrun Online"));
    // A replayed finding shows the launcher's log beside the trees.
    if (!qEnvironmentVariableIsSet("KESTRUN_FUZZ_SHOW"))
        qInstallMessageHandler(dropMessage);

    const QByteArray root = QDir::tempPath().toUtf8() + "/kestrun-install-fuzz-" +
                            QByteArray::number(qint64(::getpid()));
    TFuzzRun::s_Root = QString::fromUtf8(root);
    QDir(TFuzzRun::s_Root).removeRecursively();
    ::setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    TFuzzRun::s_pHelper = helper(TFuzzRun::s_Root + QStringLiteral("/app"), false);
    TFuzzRun::s_pFastHelper = helper(TFuzzRun::s_Root + QStringLiteral("/fast"), true);

    // Every body any entry may ask for, and one that is not there.
    const QString cdn = TFuzzRun::s_Root + QStringLiteral("/cdn");
    QDir().mkpath(cdn + QStringLiteral("/b"));
    QDir().mkpath(cdn + QStringLiteral("/c"));
    for (const QByteArray& content : contents()) {
        writeBytes(cdn + QStringLiteral("/b/") + hex(content), content);
        writeBytes(cdn + QStringLiteral("/b/") + hex(content + "!"), content + "?");
    }
    for (const QByteArray& chunk : chunks())
        writeBytes(cdn + QStringLiteral("/c/") + hex(chunk), chunk);
    std::atexit([] { QDir(TFuzzRun::s_Root).removeRecursively(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t Size)
{
    TByteReader reader(pData, Size);
    const TCase fuzzCase = readCase(reader);
    TFuzzRun(fuzzCase).run();
    return 0;
}
