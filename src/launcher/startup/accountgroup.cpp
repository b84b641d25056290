#include "launcher/startup/accountgroup.h"

#include "launcher/filesystem/launcherfilesystemhelper.h"

#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <optional>

namespace orvik::launcher {

namespace {

const QString kKey = QStringLiteral("Key");

// No value when there is no file to read: that counts as a file without a key.
std::optional<QJsonObject> readAccountGroupObject(TLauncherFilesystemHelper& filesystemHelper)
{
    if (!filesystemHelper.accountGroupFileExists())
        return std::nullopt;

    QFile file(filesystemHelper.accountGroupFilePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning() << "Failed to open file:" << file.errorString();
        return std::nullopt;
    }

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning() << "JSON parse error:" << error.errorString();
        return QJsonObject();
    }
    if (!document.isObject()) {
        qWarning() << "JSON file does not contain a valid JSON object.";
        return QJsonObject();
    }
    return document.object();
}

} // namespace

QString readAccountGroup(TLauncherFilesystemHelper& filesystemHelper)
{
    const std::optional<QJsonObject> read = readAccountGroupObject(filesystemHelper);
    const QJsonObject object = read.value_or(QJsonObject());
    if (read && object.isEmpty()) {
        qWarning() << "AccountGroupSetting Error: Empty";
        return {};
    }
    const auto key = object.constFind(kKey);
    if (key == object.constEnd()) {
        qWarning() << "AccountGroupSetting Error: KeyNotExists";
        return {};
    }
    if (!key->isString()) {
        qWarning() << "AccountGroupSetting Error: KeyNoString";
        return {};
    }
    return key->toString();
}

} // namespace orvik::launcher
