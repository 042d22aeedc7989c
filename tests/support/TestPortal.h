#pragma once

#include <optional>

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QStandardPaths>

#include "httpserver/HttpServer.h"

// The tests' portal is the demo portal's HTTP server; the tests know it by these names.
namespace testsupport {

using TestPortal = httpserver::HttpServer;
using PortalResponse = httpserver::Response;
using PortalRequest = httpserver::Request;

// A TLS configuration for a portal on 127.0.0.1: a fresh self-signed certificate made by the
// openssl tool in `folder`. A client trusts it once it is among its CA certificates.
// Nothing when the tool is missing or fails.
inline std::optional<QSslConfiguration> selfSignedTls(const QString &folder) {
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    const QString keyFile = folder + QStringLiteral("/tls.key");
    const QString certFile = folder + QStringLiteral("/tls.crt");
    QProcess process;
    process.start(openssl,
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", keyFile, "-out", certFile});
    if (openssl.isEmpty() || !process.waitForFinished(30000) || process.exitCode() != 0)
        return std::nullopt;
    QFile key(keyFile);
    const auto certificates = QSslCertificate::fromPath(certFile);
    if (!key.open(QIODevice::ReadOnly) || certificates.isEmpty())
        return std::nullopt;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificates.first());
    configuration.setPrivateKey(QSslKey(&key, QSsl::Ec));
    return configuration;
}

} // namespace testsupport
