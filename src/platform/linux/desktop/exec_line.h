#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace orvane {

// What the field codes of an Exec line expand to.
struct ExecFields {
    QString icon;      // %i gives "--icon" and this, when set
    QString name;      // %c
    QString entryPath; // %k
};

// Splits an Exec line (already value-unescaped) into a program and its
// arguments, the way a desktop launcher does, without a shell: double quotes
// group, and inside them a backslash escapes " ` $ and itself. File and URL
// codes (%f %F %u %U) are dropped because we open no files, and so are the
// deprecated ones. Nothing when the line is empty, names an empty program,
// has an unterminated quote or an unknown field code.
std::optional<QStringList> parseExecLine(const QString& exec, const ExecFields& fields);

// The file name of the program an argument vector runs, looking through a
// leading "env NAME=value ..." wrapper.
QString execProgramName(const QStringList& argv);

} // namespace orvane
