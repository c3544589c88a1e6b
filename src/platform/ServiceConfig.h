#pragma once
// Where the service lives. Every value comes from, in this order: the command line,
// the environment, the information file the stand-in service writes when it starts,
// and last the stand-in's fixed defaults on 127.0.0.1.
//
//   command line        environment                file key
//   --api-origin        SONDREL_API_ORIGIN       "api_origin"       HTTPS origin of the API host
//   --api-http-origin   SONDREL_API_HTTP_ORIGIN  "api_http_origin"  plain HTTP origin of the API
//                                                                   host (never carries a token)
//   --login-origin      SONDREL_LOGIN_ORIGIN     "login_origin"     HTTPS origin of the login host
//   --main-origin       SONDREL_MAIN_ORIGIN      "main_origin"      HTTPS origin of the main host
//   --client-id         SONDREL_CLIENT_ID        "client_id"        the application's client id
//   --ca-cert           SONDREL_CA_CERT          "certificate"      extra trusted certificate (PEM)
//   --service-info      SONDREL_SERVICE_INFO     -                  the information file itself
//
// Origins carry no trailing slash ("https://127.0.0.1:47443").
//
// The information file names the server and the certificate to trust, so whoever can
// write it can receive the access token. It is read only from the user's private
// runtime folder ($XDG_RUNTIME_DIR) or from a path given explicitly, never from the
// shared temp folder, and a file owned by another user or writable by others is refused
// with a log line.

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace sondrel {

inline constexpr int kStandInHttpsPort = 47443;
inline constexpr int kStandInHttpPort = 47080;

struct ServiceConfig {
    QString apiOrigin;
    QString apiHttpOrigin;
    QString loginOrigin;
    QString mainOrigin;
    QString clientId;
    QString caCertificate;
    // Why the information file could not be used (a short text for the window; empty
    // when it was read, or when no file was asked for and none is there).
    QString infoFileProblem;

    // The API base address: the HTTPS origin followed by "/method".
    QString apiBase() const { return apiOrigin + QStringLiteral("/method"); }
};

// The default place of the stand-in's information file:
// $XDG_RUNTIME_DIR/sondrel-service.json; empty when that folder is not set.
QString defaultServiceInfoPath();

// Whether an access token may be sent to `url`: over HTTPS anywhere, over plain HTTP
// only to this machine (127.0.0.0/8, ::1 or "localhost"), never over anything else.
bool mayCarryAccessToken(const QUrl& url);

// Builds the configuration from `arguments` (a program's argument list; unknown
// arguments are ignored) and the process environment.
ServiceConfig loadServiceConfig(const QStringList& arguments);

// The process-wide configuration (set once at start-up, read from any thread).
ServiceConfig serviceConfig();
void setServiceConfig(const ServiceConfig& config);

// Adds the PEM certificate(s) in `pemPath` to the roots every TLS connection of the
// process trusts, on top of the system's. Verification stays on. Returns false (and
// logs) when the file holds no certificate.
bool trustExtraCertificate(const QString& pemPath);

// The certificates trusted so far through trustExtraCertificate(). The web engine does
// not use Qt's trust store, so the sign-in view accepts a server certificate only when
// it is one of these.
QList<QSslCertificate> extraTrustedCertificates();

} // namespace sondrel
