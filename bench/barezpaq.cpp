// libzpaq's own one-call decompress(); the library's error hook is the launcher's, which throws.
#include "barecalls.h"

#include <libzpaq.h>

#include <cstring>
#include <exception>

namespace barecalls {

namespace {

class TReader : public libzpaq::Reader
{
public:
    TReader(const char* data, std::size_t length) : m_pData(data), m_pEnd(data + length) {}
    int get() override { return m_pData < m_pEnd ? static_cast<unsigned char>(*m_pData++) : -1; }
    int read(char* buffer, int count) override
    {
        const int taken = static_cast<int>(
            std::min<std::size_t>(static_cast<std::size_t>(m_pEnd - m_pData), count));
        std::memcpy(buffer, m_pData, static_cast<std::size_t>(taken));
        m_pData += taken;
        return taken;
    }

private:
    const char* m_pData;
    const char* m_pEnd;
};

class TWriter : public libzpaq::Writer
{
public:
    explicit TWriter(char* output) : m_pOutput(output) {}
    void put(int c) override { *m_pOutput++ = static_cast<char>(c); }
    void write(const char* buffer, int count) override
    {
        std::memcpy(m_pOutput, buffer, static_cast<std::size_t>(count));
        m_pOutput += count;
    }

    char* m_pOutput;
};

} // namespace

bool zpaqDecode(const char* input, std::size_t inputLength, char* output, std::size_t capacity)
{
    TReader reader(input, inputLength);
    TWriter writer(output);
    try {
        libzpaq::decompress(&reader, &writer);
    } catch (const std::exception&) {
        return false;
    }
    return static_cast<std::size_t>(writer.m_pOutput - output) == capacity;
}

} // namespace barecalls
