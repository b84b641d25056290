#pragma once

#include "testhttproute.h"

#include <QByteArray>

namespace testsupport {

// A gzip stream of InflatedBytes zero bytes, about a thousandth of that long: 3 GiB fit in 3 MB,
// 10 GiB in 10 MB. Built from one compressed mebibyte repeated, so neither the zeros nor the
// time to compress them are ever spent.
QByteArray gzipBomb(qint64 InflatedBytes);

// Data compressed as a server that gzips honestly sends it.
QByteArray gzip(const QByteArray& Data);

// Answers with GzipBody, marked "Content-Encoding: gzip" whatever the request asked for.
TTestHttpRoute gzipRoute(const QByteArray& GzipBody);

} // namespace testsupport
