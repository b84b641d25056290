#pragma once

class QUrl;

namespace shared {

// Links from documents the servers send are handed to the desktop only when they address a web
// page: the desktop opens a local file, a program or a launcher entry just as readily, and a
// server must not be able to make one click start those.

// An http or https address with a host.
bool isWebLink(const QUrl& Url);
// Opens a web link in the desktop's browser; refuses and logs anything else. True when opened.
bool openWebLink(const QUrl& Url);

} // namespace shared
