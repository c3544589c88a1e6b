#pragma once
// The service's TLS identity: a self-signed certificate for 127.0.0.1 and localhost
// (in the subject and in the subjectAltName), with its EC P-256 key. Made on the first
// start in a folder and reused by every later start, so a player that was told once
// to trust the certificate keeps trusting the service.

#include <memory>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <string>

namespace standin {

struct X509Deleter {
    void operator()(X509* x) const { X509_free(x); }
};
struct KeyDeleter {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};

struct TlsIdentity {
    std::unique_ptr<X509, X509Deleter> certificate;
    std::unique_ptr<EVP_PKEY, KeyDeleter> key;
    std::string certificatePath; // absolute path of the PEM certificate
};

// Loads "cert.pem" and "key.pem" from `dir`, or (when they are missing, unreadable,
// do not belong together or expire within a day) generates new ones there. A lock
// file keeps two services starting at once from writing different pairs.
// On failure returns an identity without certificate and sets `error`.
TlsIdentity loadOrCreateIdentity(const std::string& dir, std::string& error);

} // namespace standin
