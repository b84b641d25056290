#include "gzipbomb.h"

#include <zlib.h>

#include <stdexcept>

namespace testsupport {

namespace {

constexpr qint64 kSegmentBytes = 1 << 20;

// A gzip member header: deflate, no name, no time, Unix.
const QByteArray kHeader("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03", 10);
// An empty final block of fixed codes: it ends the deflate stream.
const QByteArray kFinalBlock("\x03\x00", 2);

QByteArray littleEndian32(quint32 Value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((Value >> (8 * i)) & 0xff);
    return bytes;
}

// Raw deflate of Data ending in a full flush: the blocks close on a byte and refer to nothing
// before them, so copies of them may follow one another in one stream.
QByteArray deflateSegment(const QByteArray& Data)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    QByteArray out(int(deflateBound(&stream, uLong(Data.size()))) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.constData()));
    stream.avail_in = uInt(Data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FULL_FLUSH);
    const qint64 produced = qint64(out.size()) - stream.avail_out;
    deflateEnd(&stream);
    if (result != Z_OK || stream.avail_in != 0)
        throw std::runtime_error("deflate failed");
    out.truncate(int(produced));
    return out;
}

QByteArray wrap(const QByteArray& Blocks, quint32 Crc, qint64 InflatedBytes)
{
    return kHeader + Blocks + kFinalBlock + littleEndian32(Crc) +
           littleEndian32(quint32(InflatedBytes & 0xffffffff));
}

} // namespace

QByteArray gzipBomb(qint64 InflatedBytes)
{
    const QByteArray zeros(int(kSegmentBytes), '\0');
    const QByteArray segment = deflateSegment(zeros);
    const quint32 segmentCrc =
        quint32(crc32(0, reinterpret_cast<const Bytef*>(zeros.constData()), uInt(zeros.size())));
    const uLong append = crc32_combine_gen(z_off_t(kSegmentBytes));
    const qint64 whole = InflatedBytes / kSegmentBytes;
    QByteArray blocks = segment.repeated(int(whole));
    quint32 crc = 0;
    for (qint64 i = 0; i < whole; ++i)
        crc = quint32(crc32_combine_op(crc, segmentCrc, append));
    if (const qint64 rest = InflatedBytes % kSegmentBytes; rest > 0) {
        const QByteArray tail = zeros.left(int(rest));
        blocks += deflateSegment(tail);
        crc = quint32(crc32_combine(
            crc, crc32(0, reinterpret_cast<const Bytef*>(tail.constData()), uInt(rest)),
            z_off_t(rest)));
    }
    return wrap(blocks, crc, InflatedBytes);
}

QByteArray gzip(const QByteArray& Data)
{
    const quint32 crc =
        quint32(crc32(0, reinterpret_cast<const Bytef*>(Data.constData()), uInt(Data.size())));
    return wrap(deflateSegment(Data), crc, Data.size());
}

TTestHttpRoute gzipRoute(const QByteArray& GzipBody)
{
    TTestHttpRoute route;
    route.body = GzipBody;
    route.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
    return route;
}

} // namespace testsupport
