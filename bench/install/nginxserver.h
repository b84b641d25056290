#pragma once

#include <QProcess>
#include <QString>

namespace installbench {

// nginx in the foreground with one worker, serving one directory on a free loopback port; its
// configuration, pid file and logs live in a directory of the caller's.
class TNginxServer
{
public:
    TNginxServer() = default;
    TNginxServer(const TNginxServer&) = delete;
    TNginxServer& operator=(const TNginxServer&) = delete;
    ~TNginxServer() { stop(); }

    // False, with the reason on standard error, when nginx does not answer.
    bool start(const QString& Root, const QString& WorkDirectory);
    void stop();
    quint16 port() const { return m_Port; }

private:
    QProcess m_Process;
    quint16 m_Port = 0;
};

} // namespace installbench
