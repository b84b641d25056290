#pragma once

#include "systemsurvey/systemsurvey.h"

#include <QJsonDocument>
#include <QStringList>

#include <functional>

namespace systemsurvey {

// Turns a survey into the document the survey service reads, with an anonymous client identifier
// that stays the same for this machine as long as its network interfaces do.
class TSystemSurveyToJsonConverter
{
public:
    // The hardware addresses of every network interface in Qt's order, loopback included.
    using THardwareAddresses = std::function<QStringList()>;

    TSystemSurveyToJsonConverter();
    explicit TSystemSurveyToJsonConverter(THardwareAddresses HardwareAddresses);
    virtual ~TSystemSurveyToJsonConverter();

    virtual QJsonDocument convert(const TSystemSurvey& Survey) const;

    // Made once per process from the addresses of the first converter that asks, then kept:
    // interfaces that come and go during a run do not split one machine into two.
    QString clientIdentifier() const;

    static QStringList hardwareAddressesOfThisMachine();

private:
    THardwareAddresses m_HardwareAddresses;
};

} // namespace systemsurvey
