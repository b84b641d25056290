#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace testsupport {

// Keeps every Qt message from any thread while it lives, still passing each one on, for tests
// that check what reaches the log. One at a time.
class TMessageCapture
{
public:
    TMessageCapture();
    ~TMessageCapture();
    TMessageCapture(const TMessageCapture&) = delete;
    TMessageCapture& operator=(const TMessageCapture&) = delete;

    // The first message that contains the text; empty when none does.
    QString line(const QString& text) const;
    bool contains(const QString& text) const { return !line(text).isEmpty(); }
};

} // namespace testsupport
