#pragma once
// Where the service lives. Every value comes from, in this order: the command line,
// the environment, the information file the stand-in service writes when it starts,
// and last the stand-in's fixed defaults on 127.0.0.1.
//
//   command line        environment                file key
//   --api-origin        SONDREL_API_ORIGIN         "api_origin"       HTTPS origin of the API host
//   --api-http-origin   SONDREL_API_HTTP_ORIGIN    "api_http_origin"  plain HTTP origin of the API
//   host
//   --login-origin      SONDREL_LOGIN_ORIGIN       "login_origin"     HTTPS origin of the login
//   host
//   --main-origin       SONDREL_MAIN_ORIGIN        "main_origin"      plain HTTP origin of the main
//   host
//   --client-id         SONDREL_CLIENT_ID          "client_id"        the application's client id
//   --ca-cert           SONDREL_CA_CERT            "certificate"      extra trusted certificate
//   (PEM)
//   --service-info      SONDREL_SERVICE_INFO       -                  the information file itself
//
// Origins carry no trailing slash ("https://127.0.0.1:47443").

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

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

    // The API base address: the HTTPS origin followed by "/method".
    QString apiBase() const { return apiOrigin + QStringLiteral("/method"); }
};

// The default place of the stand-in's information file:
// $XDG_RUNTIME_DIR/sondrel-service.json (or the temp folder when there is none).
QString defaultServiceInfoPath();

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
