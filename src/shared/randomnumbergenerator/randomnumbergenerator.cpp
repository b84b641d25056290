#include "shared/randomnumbergenerator/randomnumbergenerator.h"

namespace shared {

TRandomNumberGenerator::TRandomNumberGenerator()
{
    std::random_device device("default");
    m_Engine.seed(device());
}

std::shared_ptr<TRandomNumberGenerator> TRandomNumberGenerator::instance()
{
    static const auto generator = std::make_shared<TRandomNumberGenerator>();
    return generator;
}

quint64 TRandomNumberGenerator::getRandomIndex(quint64 Min, quint64 Max)
{
    return getRandom(Min, Max);
}

quint64 TRandomNumberGenerator::getRandom(quint64 Min, quint64 Max)
{
    Q_ASSERT_X(Min <= Max, "TRandomNumberGenerator::getRandom", "Min <= Max");
    if (Min > Max)
        return Min;
    return std::uniform_int_distribution<quint64>(Min, Max)(m_Engine);
}

qint64 TRandomNumberGenerator::getRandomSigned(qint64 Min, qint64 Max)
{
    Q_ASSERT_X(Min <= Max, "TRandomNumberGenerator::getRandomSigned", "Min <= Max");
    if (Min > Max)
        return Min;
    return std::uniform_int_distribution<qint64>(Min, Max)(m_Engine);
}

} // namespace shared
