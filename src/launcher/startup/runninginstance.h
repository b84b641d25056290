#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;

namespace orvik::launcher {

// The running launcher's door for later starts. A player who starts the launcher again expects
// to see it, not nothing: the later start hands its command line over, the running launcher acts
// on it and answers, and the later start ends with that answer. The door is a local socket of
// this user's, named after the single-instance key.
class TRunningInstance : public QObject
{
    Q_OBJECT

public:
    // What the running launcher makes of a later start's command line: the answer's first word
    // is "done" or "refused", the rest says why.
    using THandler = std::function<QString(const QStringList& Arguments)>;

    TRunningInstance(const QString& Key, THandler Handler, QObject* pParent = nullptr);

    // For the instance that holds the single-instance guard: a socket left by a killed
    // launcher is replaced. False, with a warning, when it cannot listen.
    bool listen();

    // For a later start: hands Arguments to the running launcher and returns its answer, or an
    // empty text when none came within TimeoutMs (an older launcher has no door).
    static QString handOver(const QString& Key, const QStringList& Arguments, int TimeoutMs);

private:
    static QString socketName(const QString& Key);
    void onNewConnection();

    QString m_Key;
    THandler m_Handler;
    QLocalServer* m_pServer = nullptr;
};

} // namespace orvik::launcher
