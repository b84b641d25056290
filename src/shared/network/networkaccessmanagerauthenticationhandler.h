#pragma once

#include <QMap>
#include <QObject>
#include <QString>

namespace shared {

// Placeholder for answering authentication challenges. Nothing answers them today, so no
// credentials are ever supplied and a challenged request fails with Qt's error.
class TNetworkAccessManagerAuthenticationHandler : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

private:
    QMap<QString, QString> m_Credentials;
};

} // namespace shared
