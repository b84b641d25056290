#pragma once

#include <QtGlobal>

#include <memory>
#include <random>

namespace shared {

// Uniform random numbers for things that need variety, not secrecy (cache-busting parameters).
// Used from the GUI thread only.
class TRandomNumberGenerator
{
public:
    TRandomNumberGenerator();
    virtual ~TRandomNumberGenerator() = default;

    // The process-wide generator, created on first use.
    static std::shared_ptr<TRandomNumberGenerator> instance();

    virtual quint64 getRandomIndex(quint64 Min, quint64 Max);
    // Uniform in [Min, Max], both included. Min must not exceed Max.
    virtual quint64 getRandom(quint64 Min, quint64 Max);
    virtual qint64 getRandomSigned(qint64 Min, qint64 Max);

private:
    std::minstd_rand0 m_Engine;
};

} // namespace shared
