#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace installbench {

struct TInstallOutcome
{
    bool Installed = false;
    bool Verified = false;
    qint64 Milliseconds = 0;
    double CpuSeconds = 0;
    double PeakMiB = 0;
    // What making every installed file and folder durable took after the download, as the
    // launcher does before it calls an installation complete.
    qint64 DurableMilliseconds = 0;
};

// The first argument that selects the child mode of the benchmark executable.
inline const QString kInstallChildArgument = QStringLiteral("--install-child");

// Child mode: a fresh install of the document at DocumentPath, whose relative URLs resolve
// against BaseUrl, into InstallDirectory through the launcher's installation, timed from the
// start of the planning to the end of the download phase, then the files made durable (timed on
// its own) and an untimed verification. Prints
// one result line and returns the exit code. Arguments: document, base URL, directory and,
// optionally, the [OPTIONS] lines of the launcher settings (empty: the launcher's defaults) and
// the folders of mirrors of the base, separated by spaces.
int runInstallChild(const QStringList& Arguments);

// Runs the child mode in a new process of this executable, so its peak memory is the install's.
TInstallOutcome installInChildProcess(const QString& DocumentPath, const QUrl& BaseUrl,
                                      const QString& InstallDirectory,
                                      const QString& Options = QString(),
                                      const QList<QUrl>& Mirrors = {});

} // namespace installbench
