#include "service/ServiceTrust.h"

#include "platform/ServiceConfig.h"

#include <mutex>

namespace sondrel {

void trustServiceCertificateOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        const QString certificate = serviceConfig().caCertificate;
        if (!certificate.isEmpty()) {
            trustExtraCertificate(certificate);
        }
    });
}

} // namespace sondrel
