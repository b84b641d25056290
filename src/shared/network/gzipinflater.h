#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

struct z_stream_s;

namespace shared {

// Inflates a gzip stream as it arrives into a buffer that grows no further than a limit. The
// bytes are counted as they come out and inflating stops at the limit, so a few megabytes that
// would inflate to gigabytes cost no more memory than an honest body of the limit. Members that
// follow one another are one stream, as gzip allows.
class TGzipInflater
{
public:
    enum class EStatus { Going, TooLong, Corrupt, OutOfMemory };

    // Limit: the most inflated bytes allowed. The compressed stream may be a little longer than
    // that, as incompressible data stored by deflate is, and no more.
    explicit TGzipInflater(qint64 Limit);
    ~TGzipInflater();
    TGzipInflater(const TGzipInflater&) = delete;
    TGzipInflater& operator=(const TGzipInflater&) = delete;

    // Inflates the next Size bytes of the stream. Once it returns anything but Going the stream
    // is given up: later calls return the same.
    EStatus feed(const char* Input, qint64 Size);
    // Whether the stream fed so far ends where a gzip stream may end.
    bool isComplete() const { return m_bMemberEnded; }
    qint64 inflatedSize() const { return m_Inflated; }
    // The inflated bytes; the inflater is spent afterwards.
    QByteArray takeInflated();
    // Why feeding stopped, for the failure report.
    QString describe(EStatus Status) const;

private:
    EStatus run();
    bool grow();

    std::unique_ptr<z_stream_s> m_pStream;
    bool m_bReady = false;
    qint64 m_Limit;
    qint64 m_CompressedLimit;
    qint64 m_Compressed = 0;
    // Its size is room; the first m_Inflated bytes are the content.
    QByteArray m_Output;
    qint64 m_Inflated = 0;
    bool m_bMemberEnded = false;
    EStatus m_Status = EStatus::Going;
};

} // namespace shared
