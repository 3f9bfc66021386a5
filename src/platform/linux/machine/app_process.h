#pragma once

#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane {

// Whether a process identifier may receive a signal from us: never the
// process groups that 0 and negative numbers stand for, nor init, nor
// ourselves.
bool isSignallablePid(std::int32_t pid);

// The process's start time in clock ticks after boot, which tells a process
// apart from a later one that reused its identifier; nothing when it does not
// exist or has already ended (a zombie).
std::optional<std::uint64_t> processStartTime(std::int32_t pid);

// Parses the contents of /proc/<pid>/stat into the start time; nothing for a
// zombie or malformed contents.
std::optional<std::uint64_t> parseStartTime(const QByteArray& stat);

// Parses the contents of /proc/<pid>/stat into the parent's identifier;
// nothing for malformed contents.
std::optional<std::int32_t> parseParentPid(const QByteArray& stat);

// The processes this one runs under, parent first, up to but without init:
// the shell, the terminal, the session. Ending one of them would end us.
std::vector<std::int32_t> ownAncestors();

// File names the process goes by: its executable, then its argv[0].
QStringList processExecutableNames(std::int32_t pid);

} // namespace orvane
