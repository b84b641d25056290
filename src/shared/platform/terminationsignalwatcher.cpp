#include "shared/platform/terminationsignalwatcher.h"

#include <QSocketNotifier>

#include <array>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace shared {

namespace {

// Written by the signal handler, read on the main thread: the only async-signal-safe hand-over.
int g_SignalSockets[2] = {-1, -1};
constexpr std::array<int, 3> kWatchedSignals{SIGTERM, SIGINT, SIGHUP};

void onUnixSignal(int signalNumber)
{
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_SignalSockets[0], &byte, 1);
}

} // namespace

TTerminationSignalWatcher::TTerminationSignalWatcher(QObject* pParent) : QObject(pParent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_SignalSockets) != 0)
        return;
    m_pNotifier = new QSocketNotifier(g_SignalSockets[1], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this,
            &TTerminationSignalWatcher::onSignalPipeReadable);

    struct sigaction action = {};
    action.sa_handler = onUnixSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kWatchedSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

TTerminationSignalWatcher::~TTerminationSignalWatcher()
{
    if (!m_pNotifier)
        return;
    for (const int signalNumber : kWatchedSignals)
        ::signal(signalNumber, SIG_DFL);
    delete m_pNotifier;
    ::close(g_SignalSockets[0]);
    ::close(g_SignalSockets[1]);
    g_SignalSockets[0] = g_SignalSockets[1] = -1;
}

void TTerminationSignalWatcher::onSignalPipeReadable()
{
    unsigned char byte = 0;
    if (::read(g_SignalSockets[1], &byte, 1) == 1)
        emit terminationRequested(byte);
}

} // namespace shared
