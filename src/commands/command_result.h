#pragma once

#include <QCoreApplication>
#include <QString>

namespace orvane {

// What every command answers: a success flag and one short sentence that the
// phone shows as it is.
struct CommandResult {
    bool success = false;
    QString message;
    bool operator==(const CommandResult&) const = default;

    static CommandResult ok(QString message) { return {true, std::move(message)}; }
    static CommandResult failure(QString message) { return {false, std::move(message)}; }
};

// A phone-visible sentence, looked up in the translation table with the
// English sentence as its key. Placeholders are %1, %2, ... arguments.
inline QString tr(const char* sentence)
{
    return QCoreApplication::translate("Orvane", sentence);
}

} // namespace orvane
