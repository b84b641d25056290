#include "memorypeak.h"

#include <QFile>
#include <QString>

namespace testsupport {

qint64 peakResidentKiB(qint64 ProcessId)
{
    QFile status(ProcessId == 0 ? QStringLiteral("/proc/self/status")
                                : QStringLiteral("/proc/%1/status").arg(ProcessId));
    if (ProcessId < 0 || !status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

bool resetPeakResident()
{
    // "5" resets the peak to the current resident size (Linux 4.0 and later).
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1 && clear.flush();
}

} // namespace testsupport
