#pragma once

#include <QByteArray>
#include <QString>

namespace shared {

// A file's content, read on demand. Never modified after construction, so threads may share it.
class TReadOnlyMemoryBlob
{
public:
    // Throws the uniform I/O error when the file does not exist.
    explicit TReadOnlyMemoryBlob(const QString& path);
    virtual ~TReadOnlyMemoryBlob() = default;

    // Reads the file anew on every call: blobs stay small in memory while they wait in queues.
    virtual QByteArray getData() const;

    const QString& path() const { return m_Path; }

protected:
    QString m_Path;
    QByteArray m_Data;
};

} // namespace shared
