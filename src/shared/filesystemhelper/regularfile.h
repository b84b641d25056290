#pragma once

#include <QFile>
#include <QString>

#include <atomic>

namespace shared {

// Whether Path itself is a regular file. A link in its last name is not followed and counts as no
// regular file, as do a folder, a FIFO, a socket and a device: reading one of those may wait for
// good (a FIFO nobody writes to) or never end (a device).
bool isRegularFile(const QString& Path);

// Opens File, by the name it was given, for reading only when that names a regular file (a link on
// the way is followed), without waiting on the way: anything else is refused as a file that cannot
// be read, and is not even opened when it stood there before the call. The open file has no name
// of its own any more (QFile forgets it): callers name it themselves.
bool openRegularFileForReading(QFile& File);

// A file read by a long scan: once Stop is set every read fails, so that a file of many gigabytes
// does not hold a program that is ending.
class TStoppableFile : public QFile
{
public:
    TStoppableFile(const QString& Path, const std::atomic<bool>& Stop) : QFile(Path), m_Stop(Stop)
    {}

protected:
    qint64 readData(char* Data, qint64 MaxSize) override;

private:
    const std::atomic<bool>& m_Stop;
};

} // namespace shared
