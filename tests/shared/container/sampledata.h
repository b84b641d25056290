#pragma once

#include <QByteArray>

#include <cstdint>

namespace containertest {

// Deterministic stand-in for package data: runs of text, of structured binary records and of
// incompressible bytes, so every codec sees literals, matches and data it cannot shrink.
inline QByteArray sampleData(int size, std::uint64_t seed = 1)
{
    static const char* const words[] = {
        "terrain",  "texture",   "shader", "vertex",  "quest",    "kestrun", "armour", "sword",
        "dialogue", "region",    "north",  "harbour", "merchant", "spell",   "0.75",   "true",
        "{\"id\":", "\"name\":", "},",     "\n",      "  ",       "level",   "=",      "scale"};
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    QByteArray data;
    data.reserve(size);
    while (data.size() < size) {
        const std::uint64_t kind = next() % 10;
        const int run = 256 + static_cast<int>(next() % 4096);
        if (kind < 4) {
            for (int written = 0; written < run; ++written) {
                data.append(words[next() % (sizeof words / sizeof *words)]);
                data.append(' ');
            }
        } else if (kind < 8) {
            std::uint32_t value = static_cast<std::uint32_t>(next());
            for (int i = 0; i < run; ++i) {
                value += 1 + static_cast<std::uint32_t>(next() % 3);
                data.append(reinterpret_cast<const char*>(&value), sizeof value);
            }
        } else {
            for (int i = 0; i < run; ++i) {
                data.append(static_cast<char>(next()));
            }
        }
    }
    data.truncate(size);
    return data;
}

} // namespace containertest
