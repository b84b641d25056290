#pragma once

#include <QObject>

class QSocketNotifier;

namespace shared {

// Turns SIGTERM, SIGINT and SIGHUP into a queued Qt signal, so the program can leave its event
// loop and release what it holds (the single-instance lock, open files) instead of dying.
// One instance per process.
class TTerminationSignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit TTerminationSignalWatcher(QObject* pParent = nullptr);
    ~TTerminationSignalWatcher() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void onSignalPipeReadable();

    QSocketNotifier* m_pNotifier = nullptr;
};

} // namespace shared
