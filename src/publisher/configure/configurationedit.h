#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace orvik::publisher {

// Where the documents of one build lie, absolute or relative to the configuration document.
struct TBuildEntry
{
    QString OperatingSystem; // windows, macos, linux
    QString Architecture;    // i386, x86_64
    QString Url;
    QString AssetsUrl; // empty: the build has no assets document
};

// A package object to create or update; values left unset keep what the document has.
struct TPackageEdit
{
    bool bLauncher = false; // the launcher's own package instead of a game package
    QString Name;           // identifies the game package to update
    std::optional<QString> DirectoryName;
    std::optional<QString> LogoLinkTarget;
    std::optional<bool> InstallAutomatically;
    // Replace the build of the same operating system and architecture, or are added.
    std::vector<TBuildEntry> Builds;
};

struct TConfigurationEdit
{
    std::optional<TPackageEdit> Package;
    std::optional<QString> HintsUrl;
    std::optional<QString> FunnelUrl;
    std::optional<QString> HardwareSurveyUrl;
    std::optional<bool> PreventDefaultAutostart;
    std::optional<bool> ShowPackageNames;
    // Replaces the list of mirrors; an empty list removes it.
    std::optional<QStringList> Mirrors;
};

} // namespace orvik::publisher
