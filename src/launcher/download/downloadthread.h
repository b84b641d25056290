#pragma once

#include "launcher/download/downloadrun.h"

#include <QDir>

#include <functional>
#include <memory>

namespace shared {
class TMirrorSet;
} // namespace shared

namespace orvik::launcher {

class TInstallationPolicy;
class TPackageFileDownloader;

// A package's downloader, with its pool and their connections, on a thread of its own. For a
// package of many small files they handle tens of thousands of replies and step outcomes a
// minute; on the window's thread, the window waited behind them. Everything is asked of the
// downloader through queued calls, and its signals arrive queued wherever they are connected.
class TDownloadThread
{
public:
    using TMakeDownloader = std::function<std::unique_ptr<TPackageFileDownloader>()>;

    // Makes the downloader on the new thread, so its network managers and timers belong there;
    // returns once it is made. Throws what Make throws.
    explicit TDownloadThread(TMakeDownloader Make);
    // Ends the thread's event loop, then destroys the downloader on that thread (it waits for
    // its steps on the thread pool) and waits for that.
    ~TDownloadThread();
    TDownloadThread(const TDownloadThread&) = delete;
    TDownloadThread& operator=(const TDownloadThread&) = delete;

    // For connecting to its signals only: it lives on the other thread.
    const TPackageFileDownloader& downloader() const { return *m_pDownloader; }

    // Runs Work on the downloader's thread, after what was asked before it.
    void post(std::function<void(TPackageFileDownloader&)> Work);

    void startDownload(const QDir& InstallationDirectory,
                       std::shared_ptr<const TInstallationPolicy> pPolicy, TDownloadRun Run);
    void stop();
    void setMaxDownloadRate(qint64 BytesPerSecond);
    void setMirrors(std::shared_ptr<::shared::TMirrorSet> pMirrors);

private:
    class TThread;
    std::unique_ptr<TThread> m_pThread;
    TPackageFileDownloader* m_pDownloader = nullptr;
};

} // namespace orvik::launcher
