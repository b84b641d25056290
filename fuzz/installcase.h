#pragma once

// The installation fuzzer's input: a list of records that make an old and a new package document
// and the tree found in the installation. The seed writer and the fuzzer share it, so that every
// seed decodes to the case it was written for.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace installfuzz {

enum class ERecord : std::uint8_t {
    OldFile,
    NewFile,
    BothFiles, // the same entry in both documents, as most files of an update are
    TreeFile,
    TreeFolder,
    TreeLink,
    Options,
    Count
};

// Names a document or the tree is made of: dot segments, empty parts, case and Unicode variants
// (composed and decomposed), the markers' own names and the names of the neighbouring folders.
inline const QStringList& components()
{
    static const QStringList list{QStringLiteral("a"),
                                  QStringLiteral("A"),
                                  QStringLiteral("b"),
                                  QStringLiteral(".."),
                                  QStringLiteral("."),
                                  QString(),
                                  QStringLiteral("bin"),
                                  QStringLiteral("data"),
                                  QString::fromUtf8("\xc3\xa9"),
                                  QString::fromUtf8("e\xcc\x81"),
                                  QStringLiteral("package.json"),
                                  QStringLiteral("partial-package.json"),
                                  QStringLiteral("x.dat"),
                                  QStringLiteral("Other"),
                                  QStringLiteral("Live"),
                                  QStringLiteral("lnk")};
    return list;
}

inline const QList<QByteArray>& contents()
{
    static const QList<QByteArray> list{"", "x", "keep", "old data", "alpha-beta--", "save game"};
    return list;
}

// The chunk table both documents share; indexes past it are written into documents as they are.
inline const QList<QByteArray>& chunks()
{
    static const QList<QByteArray> list{"alpha-", "beta--", "gamma-", "delta-"};
    return list;
}

// %SIBLING% is a folder beside the installation, %OUTSIDE% one further up.
inline const QStringList& linkTargets()
{
    static const QStringList list{QStringLiteral("../Other"),
                                  QStringLiteral("../Other/save"),
                                  QStringLiteral("../../outside"),
                                  QStringLiteral("%OUTSIDE%"),
                                  QStringLiteral("%OUTSIDE%/kept"),
                                  QStringLiteral("a"),
                                  QStringLiteral("bin"),
                                  QStringLiteral(".."),
                                  QStringLiteral("."),
                                  QStringLiteral("missing"),
                                  QStringLiteral("../Live2"),
                                  QStringLiteral("data/x.dat")};
    return list;
}

constexpr std::uint8_t kRawPath = 0xFF;
constexpr int kMaxRawPathBytes = 24;
constexpr int kMaxChunksPerFile = 4;
// Out-of-range and negative indexes besides the table's own.
constexpr int kChunkIndexChoices = 6;

// File record bits: the kind of entry, the content and whether it is executable.
enum class EFileKind : std::uint8_t { Whole, Chunked, WrongBody, MissingBody };

// Option bits.
enum class EMarkers : std::uint8_t { None, FullOld, PartialOld, PartialNew };
constexpr std::uint8_t kFastScanBit = 4;
constexpr std::uint8_t kSameVersionBit = 8;

class TByteReader
{
public:
    TByteReader(const std::uint8_t* pData, std::size_t Size) : m_pData(pData), m_Size(Size) {}
    bool atEnd() const { return m_Size == 0; }
    std::uint8_t next()
    {
        if (m_Size == 0)
            return 0;
        --m_Size;
        return *m_pData++;
    }

private:
    const std::uint8_t* m_pData;
    std::size_t m_Size;
};

inline QString readPath(TByteReader& Reader)
{
    const std::uint8_t head = Reader.next();
    if (head == kRawPath) {
        const int length = Reader.next() % (kMaxRawPathBytes + 1);
        QByteArray raw;
        for (int i = 0; i < length; ++i)
            raw.append(char(Reader.next()));
        return QString::fromUtf8(raw);
    }
    QStringList parts;
    const int count = 1 + (head & 3);
    for (int i = 0; i < count; ++i)
        parts.append(components().at(Reader.next() % components().size()));
    QString path = parts.join(QLatin1Char('/'));
    if (head & 4)
        path.prepend(QLatin1Char('/'));
    if (head & 8)
        path.append(QLatin1Char('/'));
    return path;
}

// Writes what readPath reads back.
class TSeedWriter
{
public:
    void record(ERecord Kind) { m_Bytes.append(char(Kind)); }
    // Parts from components(); a part that is not there is written raw.
    void path(const QString& Path)
    {
        const QStringList parts = Path.split(QLatin1Char('/'));
        QByteArray indexes;
        for (const QString& part : parts) {
            const int index = components().indexOf(part);
            if (index < 0 || parts.size() > 4)
                return raw(Path);
            indexes.append(char(index));
        }
        m_Bytes.append(char(parts.size() - 1));
        m_Bytes.append(indexes);
    }
    void raw(const QString& Path)
    {
        const QByteArray utf8 = Path.toUtf8().left(kMaxRawPathBytes);
        m_Bytes.append(char(kRawPath));
        m_Bytes.append(char(utf8.size()));
        m_Bytes.append(utf8);
    }
    void byte(int Value) { m_Bytes.append(char(Value)); }
    void file(EFileKind Kind, int Content, bool Executable = false)
    {
        byte(int(Kind) | (Content << 2) | (Executable ? 0x80 : 0));
    }
    const QByteArray& bytes() const { return m_Bytes; }

private:
    QByteArray m_Bytes;
};

} // namespace installfuzz
