#pragma once

#include "protocol/types.h"

#include <QString>

#include <optional>

namespace orvane {

// Makes a phone-supplied file name safe to create in one folder: "/" and ":"
// become "-"; NUL, control and bidirectional-override characters go; "." and
// ".." become `fallback`, as does an empty name; more than 255 bytes are cut
// at a character boundary, keeping the extension.
QString cleanReceivedFileName(const QString& name, const QString& fallback);

// "report.pdf", then "report 2.pdf", "report 3.pdf" and so on.
QString numberedFileName(const QString& name, int number);

// Creates a file that did not exist in `folder` (made if missing) and writes
// `contents` to it. Never overwrites and never follows a link; on any failure
// nothing is left behind. Returns the name used.
std::optional<QString> writeNewFile(const QString& folder, const QString& cleanName,
                                    ByteView contents);

// Whether `size` more bytes in `folder` (or the nearest folder above it that
// exists) leave at least `floor` bytes free on its disk; by default the
// smaller of 1 GiB and 5% of the disk. A full disk breaks far more than
// one received file.
bool leavesFreeSpace(const QString& folder, std::int64_t size, std::optional<std::int64_t> floor);

} // namespace orvane
