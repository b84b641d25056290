#include "shared/network/gzipinflater.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>

namespace shared {

namespace {

constexpr qint64 kFirstRoom = 64 * 1024;
// zlib counts in unsigned ints.
constexpr qint64 kLargestStep = 1 << 30;

} // namespace

TGzipInflater::TGzipInflater(qint64 Limit)
    : m_pStream(std::make_unique<z_stream_s>())
    , m_Limit(std::max<qint64>(Limit, 0))
    // Deflate stores what does not compress in blocks of 64 KiB with five bytes of framing;
    // a sixteenth and the header's room cover that with plenty to spare.
    , m_CompressedLimit(m_Limit + m_Limit / 16 + 64 * 1024)
{
    // 16 + MAX_WBITS: a gzip wrapper, nothing else.
    m_bReady = inflateInit2(m_pStream.get(), 16 + MAX_WBITS) == Z_OK;
    if (!m_bReady)
        m_Status = EStatus::OutOfMemory;
}

TGzipInflater::~TGzipInflater()
{
    if (m_bReady)
        inflateEnd(m_pStream.get());
}

TGzipInflater::EStatus TGzipInflater::feed(const char* Input, qint64 Size)
{
    while (m_Status == EStatus::Going && Size > 0) {
        const qint64 step = std::min(Size, kLargestStep);
        m_Compressed += step;
        if (m_Compressed > m_CompressedLimit) {
            m_Status = EStatus::TooLong;
            break;
        }
        m_pStream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Input));
        m_pStream->avail_in = uInt(step);
        Input += step;
        Size -= step;
        m_Status = run();
    }
    return m_Status;
}

// Inflates until the input is used up and nothing is held back for want of room.
TGzipInflater::EStatus TGzipInflater::run()
{
    z_stream_s& stream = *m_pStream;
    for (;;) {
        if (m_bMemberEnded) {
            if (stream.avail_in == 0)
                return EStatus::Going;
            // Another member follows.
            inflateReset(&stream);
            m_bMemberEnded = false;
        }
        if (m_Inflated == m_Output.size() && !grow())
            return m_Status;
        const qint64 room = std::min<qint64>(m_Output.size() - m_Inflated, kLargestStep);
        stream.next_out = reinterpret_cast<Bytef*>(m_Output.data() + m_Inflated);
        stream.avail_out = uInt(room);
        const int result = ::inflate(&stream, Z_NO_FLUSH);
        m_Inflated += room - qint64(stream.avail_out);
        if (m_Inflated > m_Limit)
            return EStatus::TooLong;
        switch (result) {
        case Z_STREAM_END:
            m_bMemberEnded = true;
            continue;
        case Z_OK:
            break;
        case Z_BUF_ERROR:
            // No progress was possible: all input is used and nothing is held back.
            return EStatus::Going;
        case Z_MEM_ERROR:
            return EStatus::OutOfMemory;
        default:
            return EStatus::Corrupt;
        }
        if (stream.avail_in == 0 && stream.avail_out > 0)
            return EStatus::Going;
    }
}

// One byte past the limit is room enough to tell that a stream goes past it.
bool TGzipInflater::grow()
{
    const qint64 wanted = std::min(m_Limit + 1, std::max(kFirstRoom, qint64(m_Output.size()) * 2));
    if (wanted <= m_Output.size() || wanted > qint64(std::numeric_limits<int>::max())) {
        m_Status = EStatus::OutOfMemory;
        return false;
    }
    // Qt throws std::bad_alloc when the memory is not there; it must not reach the event loop.
    try {
        m_Output.resize(int(wanted));
        return true;
    } catch (const std::bad_alloc&) {
        m_Status = EStatus::OutOfMemory;
        return false;
    }
}

QByteArray TGzipInflater::takeInflated()
{
    m_Output.resize(int(m_Inflated));
    m_Inflated = 0;
    return std::move(m_Output);
}

QString TGzipInflater::describe(EStatus Status) const
{
    switch (Status) {
    case EStatus::Going:
        return isComplete() ? QString() : QStringLiteral("The body's gzip stream is cut short");
    case EStatus::TooLong:
        return QStringLiteral("The body is longer than the %1 bytes expected once inflated")
            .arg(m_Limit);
    case EStatus::Corrupt:
        return QStringLiteral("The body is not a sound gzip stream");
    case EStatus::OutOfMemory:
        return QStringLiteral("The inflated body of at least %1 bytes is too large to hold in "
                              "memory")
            .arg(m_Inflated);
    }
    return QString();
}

} // namespace shared
