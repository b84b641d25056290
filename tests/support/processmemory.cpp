#include "processmemory.h"

#include <QFile>
#include <QList>

namespace testsupport {

qint64 highWaterMarkKiB(qint64 processId)
{
    QFile status(processId > 0 ? QString("/proc/%1/status").arg(processId)
                               : QString("/proc/self/status"));
    if (processId < 0 || !status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

} // namespace testsupport
