#pragma once

// Files that tests write, and files that programs they started write.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <optional>

namespace orvane::test {

// Writes the file, making its folder first.
inline void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(content);
}

// Makes `path` a program that records the arguments it was started with,
// NUL-separated, to "<path>.args", all at once.
inline void writeRecorder(const QString& path)
{
    writeFile(path, "#!/bin/sh\nout=\"$0.args\"\n: > \"$out.tmp\"\n"
                    "for a in \"$@\"; do printf '%s\\0' \"$a\" >> \"$out.tmp\"; done\n"
                    "mv \"$out.tmp\" \"$out\"\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The arguments the recorder at `path` was started with; nothing if it
// never ran. Recorders are started detached, so the event loop never hears
// of them: the record is polled for.
inline std::optional<QStringList> recordedArguments(const QString& path)
{
    QFile record(path + QStringLiteral(".args"));
    const QDeadlineTimer deadline(20000);
    while (!record.exists()) {
        if (deadline.hasExpired())
            return std::nullopt;
        QThread::msleep(5);
    }
    if (!record.open(QIODevice::ReadOnly))
        return std::nullopt;
    QStringList arguments;
    for (const QByteArray& part : record.readAll().split('\0'))
        arguments << QString::fromUtf8(part);
    arguments.removeLast(); // after the last terminator
    return arguments;
}

} // namespace orvane::test
