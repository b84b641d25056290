// Writes the fuzzer's seed corpus: valid containers of every codec, made by the writer.
#include "fuzzlimits.h"
#include "sampledata.h"

#include "shared/container/containercodec.h"
#include "shared/container/containerwriter.h"

#include <QDir>
#include <QFile>

#include <cstdio>

using shared::EContainerCodec;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s corpus-directory\n", argv[0]);
        return 2;
    }
    const QDir corpus(QString::fromLocal8Bit(argv[1]));
    if (!corpus.mkpath(".")) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const EContainerCodec codecs[] = {EContainerCodec::Stored,    EContainerCodec::Deflate,
                                      EContainerCodec::Lzip,      EContainerCodec::Lzma,
                                      EContainerCodec::LzmaAlias, EContainerCodec::Zpaq,
                                      EContainerCodec::Zstd};
    const int sizes[] = {1, 700, int(containerfuzz::kMaxDeclaredSize) / 2};
    int written = 0;
    for (const EContainerCodec codec : codecs) {
        const int levels[] = {shared::kContainerDefaultLevel,
                              codec == EContainerCodec::Zpaq ? 3 : 9};
        for (const int size : sizes) {
            for (const int level : levels) {
                const QByteArray data = containertest::sampleData(size, unsigned(size + level));
                QFile file(corpus.filePath(
                    QString("codec%1-size%2-level%3").arg(int(codec)).arg(size).arg(level)));
                const QByteArray container = shared::makeContainer(data, codec, level);
                if (!file.open(QIODevice::WriteOnly) || file.write(container) != container.size()) {
                    std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
                    return 1;
                }
                ++written;
            }
        }
    }
    std::printf("%d seed containers in %s\n", written, argv[1]);
    return 0;
}
