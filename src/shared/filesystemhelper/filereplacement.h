#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

namespace shared {

// Every file this program replaces is written completely under a temporary name beside it and
// then renamed over it, so that a crash at any moment leaves the old content or the new one. The
// temporary names follow one rule, "<name>.tmp-" and six random characters, so that whoever finds
// one later knows it for the remains of an interrupted write.
//
// All functions throw the uniform I/O error with the system's reason.

extern const QString kInterruptedWriteMarker;

// Whether a file name ends in the marker and six random characters, as the temporary files of
// this program do.
bool hasTemporarySuffix(const QString& FileName, const QString& Marker);

enum class EDurability {
    // On the disk before it takes its name: what nothing checks again after a crash.
    Synced,
    // Left to the system's cache: files that are checked again anyway and come by the thousand,
    // each of which would otherwise wait for the disk.
    Cached
};

struct TReplacementOptions
{
    EDurability Durability = EDurability::Synced;
    // The permissions the file gets whatever the umask says; without, those a plain write gives.
    // A private file is private from its first byte on.
    std::optional<QFileDevice::Permissions> Permissions;
};

// Replaces the file at Path with Bytes. A link at Path is replaced, never written through.
void replaceFileAtomically(const QString& Path, const QByteArray& Bytes,
                           const TReplacementOptions& Options = {});

// Replaces Path by a copy of Source, durably, a piece at a time: a large file is never held in
// memory to be copied.
void copyFileAtomically(const QString& Source, const QString& Path);

// A new, empty file beside Path under the temporary-name rule, for a writer that fills it itself
// and then calls putReplacementInPlace. It is created afresh, so a link planted at its name is
// never followed.
QString createReplacementFile(const QString& Path, QFileDevice::Permissions Permissions);

// Renames the complete TemporaryPath over Path and makes the rename durable.
void putReplacementInPlace(const QString& TemporaryPath, const QString& Path);

// Makes the entries of a folder durable. A folder that cannot be synced (some network file
// systems) still holds complete files, so that is not an error.
void syncDirectory(const QString& Directory);

// Removes the temporary files that interrupted replacements of Path left beside it.
void removeInterruptedWritesOf(const QString& Path);

} // namespace shared
