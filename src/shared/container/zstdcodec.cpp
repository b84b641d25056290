#include "shared/container/zstdcodec.h"

#include <zstd.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

namespace shared {

namespace {

constexpr std::uint64_t kMaxWindowSize = std::uint64_t(1) << kZstdWindowLogMax;

struct TDecoderDeleter
{
    void operator()(ZSTD_DCtx* pContext) const { ZSTD_freeDCtx(pContext); }
};

struct TEncoderDeleter
{
    void operator()(ZSTD_CCtx* pContext) const { ZSTD_freeCCtx(pContext); }
};

std::uint32_t readLittleEndian32(const unsigned char* pBytes)
{
    return std::uint32_t(pBytes[0]) | std::uint32_t(pBytes[1]) << 8 |
           std::uint32_t(pBytes[2]) << 16 | std::uint32_t(pBytes[3]) << 24;
}

// The window a frame asks its decoder to keep (RFC 8878, 3.1.1.1.2). The library's one-shot
// decode does not hold a frame to the window limit, so it is read here; a frame whose content
// is its single segment needs no window beyond the content.
bool windowWithinLimit(const unsigned char* pFrame, std::size_t Length)
{
    constexpr unsigned kSingleSegmentFlag = 0x20;
    if (Length < 6 || readLittleEndian32(pFrame) != ZSTD_MAGICNUMBER) {
        return false;
    }
    if (pFrame[4] & kSingleSegmentFlag) {
        return true;
    }
    const unsigned descriptor = pFrame[5];
    const std::uint64_t base = std::uint64_t(1) << (10 + (descriptor >> 3));
    return base + base / 8 * (descriptor & 7) <= kMaxWindowSize;
}

// The frame the writer makes: a single Zstandard frame that states its content size, within
// the window limit, and nothing after it.
bool isWrittenFrame(const char* Input, std::size_t InputLength, std::size_t ContentSize)
{
    if (!windowWithinLimit(reinterpret_cast<const unsigned char*>(Input), InputLength) ||
        ZSTD_getFrameContentSize(Input, InputLength) != ContentSize) {
        return false;
    }
    // A truncated frame, a second frame or trailing bytes: the size covers exactly one frame.
    return ZSTD_findFrameCompressedSize(Input, InputLength) == InputLength;
}

void setOrThrow(ZSTD_CCtx* pContext, ZSTD_cParameter Parameter, int Value)
{
    const std::size_t result = ZSTD_CCtx_setParameter(pContext, Parameter, Value);
    if (ZSTD_isError(result)) {
        throw std::invalid_argument(std::string("Zstandard refuses a setting: ") +
                                    ZSTD_getErrorName(result));
    }
}

} // namespace

bool decodeZstd(const char* Input, std::size_t InputLength, char* Output, std::size_t& OutputLength)
{
    if (!isWrittenFrame(Input, InputLength, OutputLength)) {
        return false;
    }
    const std::unique_ptr<ZSTD_DCtx, TDecoderDeleter> context(ZSTD_createDCtx());
    if (!context || ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax,
                                                        kZstdWindowLogMax))) {
        return false;
    }
    // One call into the output buffer: the output is the window, so the decoder allocates no
    // window of its own; the limit also holds should the library ever decode in steps.
    const std::size_t produced =
        ZSTD_decompressDCtx(context.get(), Output, OutputLength, Input, InputLength);
    return !ZSTD_isError(produced) && produced == OutputLength;
}

bool decodeZstdPiecewise(const char* Input, std::size_t InputLength, std::uint64_t ContentSize,
                         const std::function<void(const char*, std::size_t)>& Sink)
{
    constexpr std::size_t kPiece = std::size_t(1) << 20;
    // The frame's content size is checked here; a single-segment frame asks for a window of
    // its whole content, which windowLogMax refuses beyond the limit.
    if (!windowWithinLimit(reinterpret_cast<const unsigned char*>(Input), InputLength) ||
        ZSTD_getFrameContentSize(Input, InputLength) != ContentSize ||
        ZSTD_findFrameCompressedSize(Input, InputLength) != InputLength) {
        return false;
    }
    const std::unique_ptr<ZSTD_DCtx, TDecoderDeleter> context(ZSTD_createDCtx());
    if (!context || ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax,
                                                        kZstdWindowLogMax))) {
        return false;
    }
    const std::unique_ptr<char[]> piece(new char[kPiece]);
    ZSTD_inBuffer in{Input, InputLength, 0};
    std::uint64_t produced = 0;
    for (;;) {
        ZSTD_outBuffer out{piece.get(), kPiece, 0};
        const std::size_t left = ZSTD_decompressStream(context.get(), &out, &in);
        if (ZSTD_isError(left)) {
            return false;
        }
        produced += out.pos;
        if (produced > ContentSize) {
            return false;
        }
        if (out.pos > 0) {
            Sink(piece.get(), out.pos);
        }
        if (left == 0) {
            return produced == ContentSize && in.pos == in.size;
        }
        // No progress with input left over: the frame is cut short.
        if (out.pos == 0 && in.pos == in.size) {
            return false;
        }
    }
}

QByteArray encodeZstd(const QByteArray& Data, int Level, bool bLongDistance)
{
    if (Level < 1 || Level > ZSTD_maxCLevel()) {
        throw std::invalid_argument("Compression level out of range");
    }
    const std::unique_ptr<ZSTD_CCtx, TEncoderDeleter> context(ZSTD_createCCtx());
    if (!context) {
        throw std::runtime_error("Could not start Zstandard compression");
    }
    setOrThrow(context.get(), ZSTD_c_compressionLevel, Level);
    setOrThrow(context.get(), ZSTD_c_contentSizeFlag, 1);
    if (bLongDistance) {
        setOrThrow(context.get(), ZSTD_c_enableLongDistanceMatching, 1);
        setOrThrow(context.get(), ZSTD_c_windowLog, kZstdWindowLogMax);
    }
    const auto size = static_cast<std::size_t>(Data.size());
    const std::size_t bound = ZSTD_compressBound(size);
    if (bound > std::size_t(std::numeric_limits<int>::max())) {
        throw std::length_error("Data too large for Zstandard compression");
    }
    QByteArray packed(static_cast<int>(bound), Qt::Uninitialized);
    const std::size_t produced =
        ZSTD_compress2(context.get(), packed.data(), bound, Data.constData(), size);
    if (ZSTD_isError(produced)) {
        throw std::runtime_error(std::string("Zstandard compression failed: ") +
                                 ZSTD_getErrorName(produced));
    }
    packed.resize(static_cast<int>(produced));
    return packed;
}

int zstdMaxLevel()
{
    return ZSTD_maxCLevel();
}

} // namespace shared
