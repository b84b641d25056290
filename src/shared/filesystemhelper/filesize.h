#pragma once

#include <QtGlobal>

// A count of bytes: sizes, offsets and progress values.
using TFileSize = quint64;
