// Decodes the same data through the launcher's strict decode and through one bare call of each
// codec's library, and prints how much slower the launcher's path is (target: at most 1.1).
//
//     container_bench [MiB, default 256]
#include "barecalls.h"
#include "sampledata.h"

#include "shared/container/containercodec.h"
#include "shared/container/containerdecoder.h"
#include "shared/container/containerheader.h"
#include "shared/container/containerwriter.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

using shared::EContainerCodec;

namespace {

using TBareCall = bool (*)(const char*, std::size_t, char*, std::size_t);

bool storedCopy(const char* input, std::size_t inputLength, char* output, std::size_t capacity)
{
    if (inputLength > capacity) {
        return false;
    }
    std::memcpy(output, input, inputLength);
    return true;
}

struct TCase
{
    EContainerCodec m_eCodec;
    const char* m_pName;
    int m_nLevel;
    TBareCall m_pBareCall;
};

const TCase kCases[] = {
    {EContainerCodec::Stored, "stored", shared::kContainerDefaultLevel, storedCopy},
    {EContainerCodec::Deflate, "DEFLATE", 6, barecalls::inflate},
    {EContainerCodec::Lzip, "lzip", 1, barecalls::lzipDecode},
    {EContainerCodec::Lzma, "LZMA", 1, barecalls::lzmaAloneDecode},
    {EContainerCodec::Zpaq, "ZPAQ", 1, barecalls::zpaqDecode},
};

constexpr int kRounds = 3;

} // namespace

int main(int argc, char** argv)
{
    const int mebibytes = argc > 1 ? std::atoi(argv[1]) : 256;
    if (mebibytes <= 0 || mebibytes > 1024) {
        std::fprintf(stderr, "usage: %s [MiB, 1 to 1024]\n", argv[0]);
        return 2;
    }
    const QByteArray data = containertest::sampleData(mebibytes * 1024 * 1024, 5);
    std::printf("%-8s %10s %12s %12s %7s\n", "codec", "packed MiB", "bare ms", "strict ms",
                "ratio");
    bool allWithinTarget = true;
    for (const TCase& test : kCases) {
        const QByteArray packed = shared::makeContainer(data, test.m_eCodec, test.m_nLevel);
        shared::TContainerHeader header;
        shared::readContainerHeader(packed, header);
        const char* payload = packed.constData() + header.m_nPayloadOffset;
        const std::size_t payloadLength = header.m_nPackedSize;

        qint64 bestBare = -1;
        qint64 bestStrict = -1;
        // Alternating rounds keep a change in machine load from favouring one side.
        for (int round = 0; round < kRounds; ++round) {
            QElapsedTimer timer;
            timer.start();
            const std::unique_ptr<char[]> output(new char[data.size()]);
            const bool bareOk = test.m_pBareCall(payload, payloadLength, output.get(),
                                                 static_cast<std::size_t>(data.size()));
            const qint64 bare = timer.elapsed();
            if (!bareOk || std::memcmp(output.get(), data.constData(), data.size()) != 0) {
                std::fprintf(stderr, "%s: the bare call did not decode\n", test.m_pName);
                return 1;
            }

            timer.restart();
            const QByteArray decoded = shared::decodeContainerStrict(packed);
            const qint64 strict = timer.elapsed();
            if (decoded != data) {
                std::fprintf(stderr, "%s: the strict decode did not decode\n", test.m_pName);
                return 1;
            }
            bestBare = bestBare < 0 ? bare : std::min(bestBare, bare);
            bestStrict = bestStrict < 0 ? strict : std::min(bestStrict, strict);
        }
        const double ratio = double(bestStrict) / double(std::max<qint64>(bestBare, 1));
        allWithinTarget = allWithinTarget && ratio <= 1.1;
        std::printf("%-8s %10.1f %12lld %12lld %7.2f\n", test.m_pName, packed.size() / 1048576.0,
                    static_cast<long long>(bestBare), static_cast<long long>(bestStrict), ratio);
        std::fflush(stdout);
    }
    std::printf(allWithinTarget ? "all within 1.1\n" : "some above 1.1\n");
    return 0;
}
