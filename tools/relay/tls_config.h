#pragma once

// The TLS settings of wss:// from a PEM certificate chain and its key.
#include <QSslConfiguration>
#include <QString>

#include <optional>

namespace orvane::relay {

// The configuration, or nothing with `error` set to one line for the user.
std::optional<QSslConfiguration> loadTlsConfiguration(const QString& certFile,
                                                      const QString& keyFile, QString* error);

} // namespace orvane::relay
