#pragma once

#include <QByteArray>
#include <QStringList>

// What a start of the demo client looked like, as one JSON line: its working directory, its
// library path and its arguments.
QByteArray describeStart(const QString& workingDirectory, const QString& libraryPath,
                         const QStringList& arguments);

// Appends the line to "democlient-runs.log" beside the executable; false when that fails.
bool recordStart(const QString& executableDirectory, const QByteArray& line);
