// The checkpoints of a test launcher: at the one named by KESTRUN_TEST_STOP_AT the whole process
// stops (SIGSTOP), so that a test can look at the launcher's directory and kill it right there.
#include "launcher/selfupdate/selfupdatecheckpoint.h"

#include <QByteArray>
#include <QtGlobal>

#include <csignal>

namespace orvik::launcher {

void passSelfUpdateCheckpoint(const char* Name)
{
    if (qgetenv("KESTRUN_TEST_STOP_AT") == Name)
        ::raise(SIGSTOP);
}

} // namespace orvik::launcher
