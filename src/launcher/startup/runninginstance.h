#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;

namespace orvik::launcher {

// The running launcher's door for later starts. A player who starts the launcher again expects
// to see it, not nothing: the later start hands its command line over, the running launcher acts
// on it and answers, and the later start ends with that answer. The door is a local socket in
// the player's private folder (the single-instance guard's), and each side makes sure the other
// runs as the same user: another user can neither hand this launcher a command line nor answer
// for it.
class TRunningInstance : public QObject
{
    Q_OBJECT

public:
    // What the running launcher makes of a later start's command line: the answer's first word
    // is "done" or "refused", the rest says why.
    using THandler = std::function<QString(const QStringList& Arguments)>;

    // What became of a handed-over command line.
    struct THandOver
    {
        // The running launcher's answer; empty when none came.
        QString Answer;
        // Why none came.
        QString Problem;
    };

    TRunningInstance(const QString& Folder, THandler Handler, QObject* pParent = nullptr);

    // For the instance that holds the single-instance guard: a socket left by a killed
    // launcher is replaced. False, with a warning in the log, when it cannot listen.
    bool listen();

    // For a later start: hands Arguments to the launcher whose door is in Folder and returns its
    // answer, unless that did not come within TimeoutMs or came from another user.
    static THandOver handOver(const QString& Folder, const QStringList& Arguments, int TimeoutMs);

private:
    static QString doorPath(const QString& Folder);
    void onNewConnection();

    QString m_Folder;
    THandler m_Handler;
    QLocalServer* m_pServer = nullptr;
};

} // namespace orvik::launcher
