// Writes the installation fuzzer's seeds into the folder given: the document cases the
// installation tests know, each as an input the fuzzer decodes to it.

#include "installcase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <functional>

using namespace installfuzz;

namespace {

struct TSeed
{
    const char* Name;
    std::function<void(TSeedWriter&)> Write;
};

// Content positions in contents().
enum EContent { kEmpty, kX, kKeep, kOldData, kAlphaBeta, kSave };

void entry(TSeedWriter& Writer, ERecord Record, const QString& Path,
           EFileKind Kind = EFileKind::Whole, int Content = kKeep)
{
    Writer.record(Record);
    Writer.path(Path);
    Writer.file(Kind, Content);
}

void chunked(TSeedWriter& Writer, ERecord Record, const QString& Path,
             const std::vector<int>& Indexes)
{
    Writer.record(Record);
    Writer.path(Path);
    Writer.file(EFileKind::Chunked, 0);
    Writer.byte(int(Indexes.size()));
    for (const int index : Indexes)
        Writer.byte(index < 0 ? kChunkIndexChoices - 1 : index);
}

void tree(TSeedWriter& Writer, ERecord Record, const QString& Path, int Choice = kKeep)
{
    Writer.record(Record);
    Writer.path(Path);
    Writer.byte(Choice);
}

void options(TSeedWriter& Writer, EMarkers Markers, bool FastScan = false)
{
    Writer.record(ERecord::Options);
    Writer.byte(int(Markers) | (FastScan ? kFastScanBit : 0));
}

// An update from a document listing Old to one listing "a" and "bin/x.dat", with the player's
// file "b" and Old on disk.
void updateFrom(TSeedWriter& Writer, const QString& Old)
{
    options(Writer, EMarkers::FullOld);
    entry(Writer, ERecord::OldFile, Old);
    entry(Writer, ERecord::BothFiles, QStringLiteral("a"));
    entry(Writer, ERecord::NewFile, QStringLiteral("bin/x.dat"), EFileKind::Whole, kX);
    tree(Writer, ERecord::TreeFile, QStringLiteral("a"));
    tree(Writer, ERecord::TreeFile, QStringLiteral("b"), kSave);
    tree(Writer, ERecord::TreeFile, Old, kOldData);
}

int linkTo(const QString& Target)
{
    return linkTargets().indexOf(Target);
}

const std::vector<TSeed>& seeds()
{
    static const std::vector<TSeed> list{
        {"fresh-install",
         [](TSeedWriter& w) {
             options(w, EMarkers::None);
             entry(w, ERecord::NewFile, QStringLiteral("a"));
             chunked(w, ERecord::NewFile, QStringLiteral("bin/x.dat"), {0, 1, 2});
         }},
        {"obsolete-deleted-unlisted-kept",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld);
             entry(w, ERecord::BothFiles, QStringLiteral("a"));
             entry(w, ERecord::OldFile, QStringLiteral("b"), EFileKind::Whole, kOldData);
             entry(w, ERecord::OldFile, QStringLiteral("A"));
             entry(w, ERecord::NewFile, QStringLiteral("data/x.dat"));
             tree(w, ERecord::TreeFile, QStringLiteral("a"));
             tree(w, ERecord::TreeFile, QStringLiteral("b"), kOldData);
             tree(w, ERecord::TreeFile, QStringLiteral("data/a"), kSave);
         }},
        {"whole-file-changed",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld, true);
             entry(w, ERecord::BothFiles, QStringLiteral("x.dat"), EFileKind::Whole, kKeep);
             tree(w, ERecord::TreeFile, QStringLiteral("x.dat"), kX);
         }},
        {"chunks-rearranged-in-place",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld);
             chunked(w, ERecord::OldFile, QStringLiteral("data"), {0, 1});
             chunked(w, ERecord::NewFile, QStringLiteral("data"), {1, 0, 2});
             tree(w, ERecord::TreeFile, QStringLiteral("data"), kAlphaBeta);
         }},
        {"fast-scan-trusts-installed-chunks",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld, true);
             chunked(w, ERecord::OldFile, QStringLiteral("data"), {0, 1});
             chunked(w, ERecord::NewFile, QStringLiteral("data"), {0, 1, 3});
             chunked(w, ERecord::NewFile, QStringLiteral("b"), {0, 1});
             tree(w, ERecord::TreeFile, QStringLiteral("data"), kAlphaBeta);
         }},
        {"chunk-index-out-of-range",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld);
             entry(w, ERecord::OldFile, QStringLiteral("b"));
             chunked(w, ERecord::NewFile, QStringLiteral("a"), {0, 4});
             tree(w, ERecord::TreeFile, QStringLiteral("b"));
         }},
        {"negative-chunk-index",
         [](TSeedWriter& w) {
             options(w, EMarkers::PartialOld);
             entry(w, ERecord::OldFile, QStringLiteral("b"));
             chunked(w, ERecord::NewFile, QStringLiteral("a"), {0, -1});
         }},
        {"same-file-under-two-names",
         [](TSeedWriter& w) {
             entry(w, ERecord::NewFile, QStringLiteral("a"));
             entry(w, ERecord::NewFile, QStringLiteral("./a"), EFileKind::Whole, kX);
             tree(w, ERecord::TreeFile, QStringLiteral("b"), kSave);
         }},
        {"file-that-is-also-a-folder",
         [](TSeedWriter& w) {
             entry(w, ERecord::NewFile, QStringLiteral("bin"));
             entry(w, ERecord::NewFile, QStringLiteral("bin/x.dat"));
             tree(w, ERecord::TreeFile, QStringLiteral("bin/b"), kSave);
         }},
        {"missing-and-wrong-bodies",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld);
             entry(w, ERecord::OldFile, QStringLiteral("b"));
             entry(w, ERecord::NewFile, QStringLiteral("a"), EFileKind::MissingBody);
             entry(w, ERecord::NewFile, QStringLiteral("x.dat"), EFileKind::WrongBody, kX);
             tree(w, ERecord::TreeFile, QStringLiteral("a"), kOldData);
         }},
        {"resumed-partial-install",
         [](TSeedWriter& w) {
             options(w, EMarkers::PartialNew);
             entry(w, ERecord::NewFile, QStringLiteral("a"));
             chunked(w, ERecord::NewFile, QStringLiteral("data/x.dat"), {2, 3});
             tree(w, ERecord::TreeFile, QStringLiteral("data/x.dat"), kKeep);
         }},
        {"climbing", [](TSeedWriter& w) { updateFrom(w, QStringLiteral("../../b")); }},
        {"absolute", [](TSeedWriter& w) { updateFrom(w, QStringLiteral("/b")); }},
        {"empty-path", [](TSeedWriter& w) { updateFrom(w, QString()); }},
        {"dot", [](TSeedWriter& w) { updateFrom(w, QStringLiteral(".")); }},
        {"climbs-back-to-the-installation",
         [](TSeedWriter& w) { updateFrom(w, QStringLiteral("data/..")); }},
        {"folder-with-a-dot", [](TSeedWriter& w) { updateFrom(w, QStringLiteral("data/.")); }},
        {"folder-with-a-slash", [](TSeedWriter& w) { updateFrom(w, QStringLiteral("data/")); }},
        {"climbs-onto-the-installation-name",
         [](TSeedWriter& w) { updateFrom(w, QStringLiteral("../Live")); }},
        {"climbs-two-levels-onto-it",
         [](TSeedWriter& w) { updateFrom(w, QStringLiteral("../../b/Live")); }},
        {"old-file-is-now-a-folder-of-kept-files",
         [](TSeedWriter& w) { updateFrom(w, QStringLiteral("bin")); }},
        {"climbs-onto-a-folder-of-kept-files",
         [](TSeedWriter& w) { updateFrom(w, QStringLiteral("../bin")); }},
        {"kept-file-spelled-with-a-dot-segment",
         [](TSeedWriter& w) { updateFrom(w, QStringLiteral("bin/./x.dat")); }},
        {"names-the-folder-with-a-dot",
         [](TSeedWriter& w) { updateFrom(w, QStringLiteral("bin/.")); }},
        {"climbs-back-to-the-folder",
         [](TSeedWriter& w) { updateFrom(w, QStringLiteral("bin/a/..")); }},
        {"names-the-folder-with-a-slash",
         [](TSeedWriter& w) { updateFrom(w, QStringLiteral("bin/")); }},
        {"old-file-is-now-a-folder-of-the-players-files",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld);
             entry(w, ERecord::OldFile, QStringLiteral("data"));
             tree(w, ERecord::TreeFile, QStringLiteral("data/b"), kSave);
         }},
        {"new-file-where-a-folder-of-the-players-files-is",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld);
             entry(w, ERecord::NewFile, QStringLiteral("data"));
             tree(w, ERecord::TreeFile, QStringLiteral("data/b"), kSave);
         }},
        {"unicode-and-case-variants",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld);
             entry(w, ERecord::OldFile, QString::fromUtf8("\xc3\xa9"));
             entry(w, ERecord::NewFile, QString::fromUtf8("e\xcc\x81"));
             entry(w, ERecord::OldFile, QStringLiteral("A"));
             entry(w, ERecord::NewFile, QStringLiteral("a"));
             tree(w, ERecord::TreeFile, QString::fromUtf8("\xc3\xa9"));
             tree(w, ERecord::TreeFile, QStringLiteral("A"), kSave);
         }},
        {"markers-named-by-documents",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld);
             entry(w, ERecord::OldFile, QStringLiteral("partial-package.json"));
             entry(w, ERecord::NewFile, QStringLiteral("package.json"), EFileKind::MissingBody);
         }},
        {"link-to-a-sibling-folder",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld);
             tree(w, ERecord::TreeLink, QStringLiteral("lnk"), linkTo(QStringLiteral("../Other")));
             entry(w, ERecord::OldFile, QStringLiteral("lnk/b"));
             entry(w, ERecord::NewFile, QStringLiteral("lnk/a"));
         }},
        {"link-to-a-file-outside",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld);
             tree(w, ERecord::TreeLink, QStringLiteral("lnk"),
                  linkTo(QStringLiteral("%OUTSIDE%/kept")));
             chunked(w, ERecord::BothFiles, QStringLiteral("lnk"), {0, 1});
         }},
        {"link-to-a-folder-inside",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld);
             tree(w, ERecord::TreeFile, QStringLiteral("bin/b"), kSave);
             tree(w, ERecord::TreeLink, QStringLiteral("lnk"), linkTo(QStringLiteral("bin")));
             entry(w, ERecord::NewFile, QStringLiteral("lnk/a"));
             entry(w, ERecord::OldFile, QStringLiteral("lnk"));
         }},
        {"link-up-to-the-packages",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld);
             tree(w, ERecord::TreeLink, QStringLiteral("lnk"), linkTo(QStringLiteral("..")));
             entry(w, ERecord::OldFile, QStringLiteral("lnk/Other"));
             entry(w, ERecord::NewFile, QStringLiteral("lnk/Live2/a"));
         }},
        {"link-to-the-installation-itself",
         [](TSeedWriter& w) {
             options(w, EMarkers::None);
             tree(w, ERecord::TreeLink, QStringLiteral("lnk"), linkTo(QStringLiteral(".")));
             entry(w, ERecord::NewFile, QStringLiteral("lnk/A/a"));
         }},
        {"link-to-the-installation-in-the-last-name",
         [](TSeedWriter& w) {
             options(w, EMarkers::FullOld);
             tree(w, ERecord::TreeLink, QStringLiteral("lnk"), linkTo(QStringLiteral(".")));
             entry(w, ERecord::NewFile, QStringLiteral("lnk/lnk"), EFileKind::Whole, kEmpty);
         }},
    };
    return list;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: install_seeds <folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path()))
        return 1;
    for (const TSeed& seed : seeds()) {
        TSeedWriter writer;
        seed.Write(writer);
        QFile file(folder.filePath(QString::fromLatin1(seed.Name)));
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(writer.bytes()) != writer.bytes().size() || !file.flush()) {
            std::fprintf(stderr, "install_seeds: cannot write %s\n", seed.Name);
            return 1;
        }
    }
    return 0;
}
