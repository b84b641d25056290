#include "launcher/download/downloadthread.h"

#include "launcher/download/packagefiledownloader.h"

#include <QMetaObject>
#include <QThread>

#include <exception>
#include <future>
#include <utility>

namespace orvik::launcher {

class TDownloadThread::TThread : public QThread
{
public:
    explicit TThread(TMakeDownloader Make) : m_Make(std::move(Make))
    {
        setObjectName(QStringLiteral("Downloads"));
    }

    TPackageFileDownloader* startAndWait()
    {
        std::future<TPackageFileDownloader*> made = m_Made.get_future();
        start();
        try {
            return made.get();
        } catch (...) {
            // A running thread must not be destroyed: it is about to end.
            wait();
            throw;
        }
    }

protected:
    void run() override
    {
        std::unique_ptr<TPackageFileDownloader> downloader;
        try {
            downloader = m_Make();
        } catch (...) {
            m_Made.set_exception(std::current_exception());
            return;
        }
        m_Made.set_value(downloader.get());
        // Returns at once when the owner quit before the loop started.
        exec();
        downloader.reset();
    }

private:
    TMakeDownloader m_Make;
    std::promise<TPackageFileDownloader*> m_Made;
};

TDownloadThread::TDownloadThread(TMakeDownloader Make)
    : m_pThread(std::make_unique<TThread>(std::move(Make)))
{
    m_pDownloader = m_pThread->startAndWait();
}

TDownloadThread::~TDownloadThread()
{
    // Calls still queued for the downloader are dropped with it.
    m_pThread->quit();
    m_pThread->wait();
}

void TDownloadThread::post(std::function<void(TPackageFileDownloader&)> Work)
{
    QMetaObject::invokeMethod(
        m_pDownloader,
        [pDownloader = m_pDownloader, Work = std::move(Work)] { Work(*pDownloader); },
        Qt::QueuedConnection);
}

void TDownloadThread::startDownload(const QDir& InstallationDirectory,
                                    std::shared_ptr<const TInstallationPolicy> pPolicy,
                                    TDownloadRun Run)
{
    // Held by a shared pointer: a queued call is copied, and a large run is not.
    auto run = std::make_shared<TDownloadRun>(std::move(Run));
    post([InstallationDirectory, pPolicy = std::move(pPolicy),
          run](TPackageFileDownloader& Downloader) {
        Downloader.startDownload(InstallationDirectory, pPolicy, std::move(*run));
    });
}

void TDownloadThread::stop()
{
    post([](TPackageFileDownloader& Downloader) { Downloader.stop(); });
}

void TDownloadThread::setMaxDownloadRate(qint64 BytesPerSecond)
{
    post([BytesPerSecond](TPackageFileDownloader& Downloader) {
        Downloader.setMaxDownloadRate(BytesPerSecond);
    });
}

void TDownloadThread::setMirrors(std::shared_ptr<::shared::TMirrorSet> pMirrors)
{
    post([pMirrors = std::move(pMirrors)](TPackageFileDownloader& Downloader) {
        Downloader.setMirrors(pMirrors);
    });
}

} // namespace orvik::launcher
