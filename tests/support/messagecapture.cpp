#include "messagecapture.h"

#include <QMutex>
#include <QMutexLocker>

namespace testsupport {

namespace {

QMutex g_Lock;
QStringList g_Messages;
QtMessageHandler g_PreviousHandler = nullptr;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    {
        QMutexLocker lock(&g_Lock);
        g_Messages << message;
    }
    if (g_PreviousHandler)
        g_PreviousHandler(type, context, message);
}

} // namespace

TMessageCapture::TMessageCapture()
{
    {
        QMutexLocker lock(&g_Lock);
        g_Messages.clear();
    }
    g_PreviousHandler = qInstallMessageHandler(capture);
}

TMessageCapture::~TMessageCapture()
{
    qInstallMessageHandler(g_PreviousHandler);
}

QString TMessageCapture::line(const QString& text) const
{
    QMutexLocker lock(&g_Lock);
    for (const QString& message : qAsConst(g_Messages)) {
        if (message.contains(text))
            return message;
    }
    return {};
}

} // namespace testsupport
