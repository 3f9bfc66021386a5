#include "tls_config.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

namespace orvane::relay {

namespace {

// Key files are bounded like everything else read from outside.
constexpr qint64 largestPemFile = 1 << 20;

std::optional<QByteArray> readSmallFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray data = file.read(largestPemFile + 1);
    if (data.size() > largestPemFile) {
        *error = QStringLiteral("%1 is too large for a PEM file").arg(path);
        return std::nullopt;
    }
    return data;
}

QSslKey readKey(const QByteArray& pem)
{
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        QSslKey key(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            return key;
    }
    return {};
}

} // namespace

std::optional<QSslConfiguration> loadTlsConfiguration(const QString& certFile,
                                                      const QString& keyFile, QString* error)
{
    if (!QSslSocket::supportsSsl()) {
        *error = QStringLiteral("TLS is not available (no Qt TLS backend)");
        return std::nullopt;
    }
    const std::optional<QByteArray> certPem = readSmallFile(certFile, error);
    const std::optional<QByteArray> keyPem = certPem ? readSmallFile(keyFile, error) : std::nullopt;
    if (!keyPem)
        return std::nullopt;
    // The first certificate is the relay's own, the others its chain.
    const QList<QSslCertificate> chain = QSslCertificate::fromData(*certPem, QSsl::Pem);
    if (chain.isEmpty()) {
        *error = QStringLiteral("%1 holds no PEM certificate").arg(certFile);
        return std::nullopt;
    }
    const QSslKey key = readKey(*keyPem);
    if (key.isNull()) {
        *error = QStringLiteral("%1 holds no unencrypted PEM private key").arg(keyFile);
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    return configuration;
}

} // namespace orvane::relay
