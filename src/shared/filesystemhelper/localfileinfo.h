#pragma once

#include <QString>
#include <QtGlobal>

namespace shared {

// One regular file found in a directory listing.
class TLocalFileInfo
{
public:
    TLocalFileInfo() = default;
    TLocalFileInfo(QString absoluteFilePath, qint64 size)
        : m_AbsoluteFilePath(std::move(absoluteFilePath)), m_Size(size)
    {}
    virtual ~TLocalFileInfo() = default;

    QString m_AbsoluteFilePath;
    qint64 m_Size = 0;
};

} // namespace shared
