#pragma once

#include "shared/filesystemhelper/filesize.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <map>
#include <memory>

namespace orvik::launcher {

class TInstallationManager;
class TLineWriter;
class TPackageInstallation;

// The launcher's progress for scripts and headless installs (--progress-json): one JSON object
// per line. Progress lines of a package come at most every 250 ms within a phase; the last
// numbers of a phase are always printed before the next phase or the end. Only reads what the
// installations report; the writing happens off the event loop.
class TProgressJsonPrinter : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kProgressIntervalMs = 250;
    using TClock = std::function<qint64()>; // milliseconds, never going back

    // Lines go to Output; Clock is for tests, by default a monotonic clock.
    explicit TProgressJsonPrinter(std::unique_ptr<TLineWriter> Output, TClock Clock = {});
    ~TProgressJsonPrinter() override;

    void printConfigurationLoaded(bool Local, int Packages);
    void printClientStarted(const QString& Path, const QStringList& Arguments);
    void printExit(int Status);
    // Follows every installation this manager starts from now on.
    void watch(TInstallationManager* pManager);

    // What the installations report, by package; public so that tests can drive them. Progress
    // counts only between onInstallationStarted (or beginPackage) and onFinished.
    void beginPackage(const QString& Package) { m_Progress[Package] = TPackageProgress(); }
    void onPlanned(const QString& Package, TFileSize BytesToDownload, TFileSize BytesToWrite);
    void onProgress(const QString& Package, const QString& Phase, TFileSize Done, TFileSize Total);
    // A body, or with an empty Package a document, failed on one of the places that serve it
    // and is asked elsewhere.
    void onFailedOnBase(const QString& Package, const QUrl& Url, const QString& BaseRoot,
                        const QString& Reason, bool SetAside);
    // An empty ErrorReason is a success. Detail, when known, says what failed, as the window does.
    void onFinished(const QString& Package, const QString& ErrorReason,
                    const QString& Detail = QString());

private:
    struct TPackageProgress
    {
        QString Phase;
        TFileSize Done = 0;
        TFileSize Total = 0;
        bool bUnprinted = false;
        qint64 LastLineMs = -1;
        // Where the rate is measured from: the last line, or the start of the phase.
        qint64 RateFromMs = 0;
        TFileSize RateFromDone = 0;
    };

    void onInstallationStarted(TPackageInstallation* pInstallation);
    void printProgress(const QString& Package, TPackageProgress& Progress, qint64 NowMs);
    void print(const QJsonObject& Object);

    std::unique_ptr<TLineWriter> m_pOutput;
    TClock m_Clock;
    std::map<QString, TPackageProgress> m_Progress;
};

} // namespace orvik::launcher
