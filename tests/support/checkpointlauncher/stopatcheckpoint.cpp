// The checkpoints of a test launcher: at the one named by KESTRUN_TEST_STOP_AT the whole process
// stops (SIGSTOP), so that a test can look at the launcher's directory and kill it right there.
#include "launcher/selfupdate/selfupdatecheckpoint.h"

#include "launcher/logging/logging.h"

#include <QByteArray>
#include <QtGlobal>

#include <csignal>

namespace orvik::launcher {

void passSelfUpdateCheckpoint(const char* Name)
{
    if (qgetenv("KESTRUN_TEST_STOP_AT") != Name)
        return;
    // The log is written by its own thread: a test reading it at the stop must find every line.
    flushLog();
    ::raise(SIGSTOP);
}

} // namespace orvik::launcher
