// The only source file that includes libzpaq.h: the header defines NDEBUG for whoever includes it.
#include "shared/container/zpaqcodec.h"

#include <libzpaq.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace libzpaq {
void kestrunZpaqlStep();
} // namespace libzpaq

namespace {

// libzpaq reports what it cannot go on with through this hook, which must not return.
class TZpaqError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Thrown by the output when the stream holds more than the declared size. A corrupt
// postprocessor tends to do just that, and what it wrote up to the limit is garbage that the
// segment's checksum would have caught.
struct TOutputOverflow
{
};

// ZPAQL instructions the running decode may still execute; unlimited outside a decode.
thread_local std::uint64_t t_nZpaqlStepsLeft = std::numeric_limits<std::uint64_t>::max();

// A stream's programs run once per byte. The strongest standard level needs under 200
// instructions per byte of input and output; a program that loops forever needs more.
constexpr std::uint64_t kZpaqlStepsPerByte = 2048;
constexpr std::uint64_t kZpaqlStepsBase = std::uint64_t(1) << 24;
// Model memory a stream may ask for, whatever it decodes to; the strongest standard levels stay
// well below.
constexpr double kMaxZpaqModelMemory = double(std::uint64_t(1) << 30);
// Below that, what a block may ask for grows with the output it is to produce: the strongest
// standard level takes about 85 MiB for a few bytes and about 25 bytes per byte of its block
// beyond. A swapped body of a few KiB whose model asks for most of a gibibyte is refused before
// its model is allocated.
constexpr double kZpaqModelMemoryBase = double(std::uint64_t(128) << 20);
constexpr double kZpaqModelMemoryPerByte = 32;

double modelMemoryLimitFor(std::size_t capacity)
{
    return std::min(kMaxZpaqModelMemory,
                    kZpaqModelMemoryBase + kZpaqModelMemoryPerByte * double(capacity));
}

class TStepBudget
{
public:
    explicit TStepBudget(std::uint64_t steps) { t_nZpaqlStepsLeft = steps; }
    TStepBudget(const TStepBudget&) = delete;
    TStepBudget& operator=(const TStepBudget&) = delete;
    ~TStepBudget() { t_nZpaqlStepsLeft = std::numeric_limits<std::uint64_t>::max(); }
};

class TMemoryReader : public libzpaq::Reader
{
public:
    TMemoryReader(const char* data, std::size_t length) : m_pData(data), m_nLeft(length) {}

    int get() override
    {
        if (m_nLeft == 0) {
            return -1;
        }
        --m_nLeft;
        return static_cast<unsigned char>(*m_pData++);
    }

    int read(char* buffer, int count) override
    {
        const auto taken =
            static_cast<int>(std::min<std::size_t>(m_nLeft, static_cast<std::size_t>(count)));
        std::memcpy(buffer, m_pData, static_cast<std::size_t>(taken));
        m_pData += taken;
        m_nLeft -= static_cast<std::size_t>(taken);
        return taken;
    }

private:
    const char* m_pData;
    std::size_t m_nLeft;
};

class TBoundedWriter : public libzpaq::Writer
{
public:
    TBoundedWriter(char* output, std::size_t capacity) : m_pOutput(output), m_nLeft(capacity) {}

    std::size_t left() const { return m_nLeft; }

    void put(int c) override
    {
        if (m_nLeft == 0) {
            throw TOutputOverflow();
        }
        *m_pOutput++ = static_cast<char>(c);
        --m_nLeft;
    }

    void write(const char* buffer, int count) override
    {
        const auto wanted = static_cast<std::size_t>(count);
        const std::size_t taken = std::min(m_nLeft, wanted);
        std::memcpy(m_pOutput, buffer, taken);
        m_pOutput += taken;
        m_nLeft -= taken;
        if (taken < wanted) {
            throw TOutputOverflow();
        }
    }

private:
    char* m_pOutput;
    std::size_t m_nLeft;
};

class TByteArrayWriter : public libzpaq::Writer
{
public:
    void put(int c) override { m_data.append(static_cast<char>(c)); }
    void write(const char* buffer, int count) override { m_data.append(buffer, count); }

    QByteArray m_data;
};

std::uint64_t stepBudgetFor(std::size_t inputLength, std::size_t capacity)
{
    const std::uint64_t bytes = std::uint64_t(inputLength) + capacity;
    const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
    if (bytes > (limit - kZpaqlStepsBase) / kZpaqlStepsPerByte) {
        return limit;
    }
    return kZpaqlStepsBase + bytes * kZpaqlStepsPerByte;
}

// Throws TZpaqError for a corrupt stream, TOutputOverflow for one that does not fit.
void decodeAllBlocks(libzpaq::Decompresser& decompresser, double MemoryLimit)
{
    bool foundBlock = false;
    double memory = 0;
    // Outlives the decompresser's use of it; result() starts it afresh for every segment.
    libzpaq::SHA1 sha1;
    decompresser.setSHA1(&sha1);
    while (decompresser.findBlock(&memory)) {
        foundBlock = true;
        // Known from the block's header alone: the model is allocated by the first decode.
        if (memory > MemoryLimit) {
            throw TZpaqError("model needs too much memory");
        }
        while (decompresser.findFilename()) {
            decompresser.readComment();
            decompresser.decompress();
            char stored[21];
            decompresser.readSegmentEnd(stored);
            const char* computed = sha1.result();
            if (stored[0] == 1 && std::memcmp(stored + 1, computed, 20) != 0) {
                throw TZpaqError("checksum mismatch");
            }
        }
    }
    // Corrupt data can hide the block tag without any error from the decoder.
    if (!foundBlock) {
        throw TZpaqError("no block found");
    }
}

} // namespace

void libzpaq::error(const char* msg)
{
    throw TZpaqError(msg);
}

// Called by the patched interpreter after every ZPAQL instruction.
void libzpaq::kestrunZpaqlStep()
{
    if (--t_nZpaqlStepsLeft == 0) {
        error("program runs too long");
    }
}

namespace shared {

bool decodeZpaq(const char* input, std::size_t inputLength, char* output, std::size_t& outputLength)
{
    TStepBudget budget(stepBudgetFor(inputLength, outputLength));
    TMemoryReader reader(input, inputLength);
    TBoundedWriter writer(output, outputLength);
    libzpaq::Decompresser decompresser;
    decompresser.setInput(&reader);
    decompresser.setOutput(&writer);
    try {
        decodeAllBlocks(decompresser, modelMemoryLimitFor(outputLength));
    } catch (const TOutputOverflow&) {
        return false;
    } catch (const TZpaqError&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    outputLength -= writer.left();
    return true;
}

QByteArray encodeZpaq(const QByteArray& data, int level)
{
    if (level < 1 || level > 5) {
        throw std::invalid_argument("ZPAQ level must be 1 to 5");
    }
    const std::string method = std::to_string(level);
    TMemoryReader reader(data.constData(), static_cast<std::size_t>(data.size()));
    TByteArrayWriter writer;
    try {
        libzpaq::compress(&reader, &writer, method.c_str(), nullptr, nullptr, true);
    } catch (const TZpaqError& error) {
        throw std::runtime_error(std::string("ZPAQ compression failed: ") + error.what());
    }
    return writer.m_data;
}

} // namespace shared
