#pragma once

#include <QByteArray>
#include <QString>

namespace orvane {

// The computer's name as people know it: the pretty host name, else the
// host name, else "Mac".
QString hostComputerName();

// PRETTY_HOSTNAME from the contents of /etc/machine-info (an environment-style
// file that hostnamectl writes with shell quoting), or empty when not set.
QString prettyHostnameFromMachineInfo(const QByteArray& contents);

} // namespace orvane
