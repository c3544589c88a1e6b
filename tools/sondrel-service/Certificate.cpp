#include "Certificate.h"

#include "Files.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <sys/file.h>
#include <unistd.h>

namespace standin {
namespace {

constexpr long kValidDays = 3650;

struct BioDeleter {
    void operator()(BIO* b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioDeleter>;

std::string bioText(BIO* bio) {
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    return len > 0 ? std::string(data, static_cast<std::size_t>(len)) : std::string();
}

// Holds an exclusive flock on DIR/.lock for its lifetime.
class DirLock {
public:
    explicit DirLock(const std::string& dir) {
        fd = ::open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX);
        }
    }
    ~DirLock() {
        if (fd >= 0) {
            ::flock(fd, LOCK_UN);
            ::close(fd);
        }
    }
    DirLock(const DirLock&) = delete;
    DirLock& operator=(const DirLock&) = delete;

private:
    int fd = -1;
};

bool addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext == nullptr) {
        return false;
    }
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

bool generate(TlsIdentity& id, std::string& error) {
    id.key.reset(EVP_EC_gen("P-256"));
    if (!id.key) {
        error = "cannot generate an EC key";
        return false;
    }
    id.certificate.reset(X509_new());
    X509* cert = id.certificate.get();
    X509_set_version(cert, 2);

    // A random positive 64-bit serial, so browsers never see two certificates with the
    // same issuer and serial.
    unsigned char serialBytes[8];
    RAND_bytes(serialBytes, sizeof serialBytes);
    serialBytes[0] &= 0x7F;
    BIGNUM* serial = BN_bin2bn(serialBytes, sizeof serialBytes, nullptr);
    BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert));
    BN_free(serial);

    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), kValidDays * 24 * 3600);
    X509_set_pubkey(cert, id.key.get());

    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Sondrel stand-in service"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);

    // Self-signed, so it is its own trust anchor: CA:TRUE lets strict verifiers accept
    // it as a root; serverAuth and the SANs make it valid for the listeners.
    const bool extensionsOk =
        addExtension(cert, NID_basic_constraints, "critical,CA:TRUE") &&
        addExtension(cert, NID_key_usage, "critical,digitalSignature,keyCertSign") &&
        addExtension(cert, NID_ext_key_usage, "serverAuth") &&
        addExtension(cert, NID_subject_key_identifier, "hash") &&
        addExtension(cert, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    if (!extensionsOk) {
        error = "cannot add the certificate extensions";
        return false;
    }
    if (X509_sign(cert, id.key.get(), EVP_sha256()) == 0) {
        error = "cannot sign the certificate";
        return false;
    }
    return true;
}

bool usable(const TlsIdentity& id) {
    if (!id.certificate || !id.key ||
        X509_check_private_key(id.certificate.get(), id.key.get()) != 1) {
        return false;
    }
    time_t soon = time(nullptr) + 24 * 3600;
    return X509_cmp_time(X509_get0_notAfter(id.certificate.get()), &soon) > 0 &&
           X509_check_ip_asc(id.certificate.get(), "127.0.0.1", 0) == 1;
}

TlsIdentity load(const std::string& certPath, const std::string& keyPath) {
    TlsIdentity id;
    const auto certText = readWholeFile(certPath);
    const auto keyText = readWholeFile(keyPath);
    if (!certText || !keyText) {
        return id;
    }
    BioPtr certBio(BIO_new_mem_buf(certText->data(), static_cast<int>(certText->size())));
    BioPtr keyBio(BIO_new_mem_buf(keyText->data(), static_cast<int>(keyText->size())));
    id.certificate.reset(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    id.key.reset(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    return id;
}

} // namespace

TlsIdentity loadOrCreateIdentity(const std::string& dir, std::string& error) {
    if (!makeDirs(dir)) {
        error = "cannot create the certificate folder " + dir;
        return {};
    }
    const std::string certPath = absolutePath(dir + "/cert.pem");
    const std::string keyPath = absolutePath(dir + "/key.pem");

    DirLock lock(dir);
    TlsIdentity id = load(certPath, keyPath);
    if (usable(id)) {
        id.certificatePath = certPath;
        return id;
    }

    id = {};
    if (!generate(id, error)) {
        return {};
    }
    BioPtr certBio(BIO_new(BIO_s_mem()));
    BioPtr keyBio(BIO_new(BIO_s_mem()));
    if (PEM_write_bio_X509(certBio.get(), id.certificate.get()) != 1 ||
        PEM_write_bio_PrivateKey(keyBio.get(), id.key.get(), nullptr, nullptr, 0, nullptr,
                                 nullptr) != 1) {
        error = "cannot encode the certificate";
        return {};
    }
    // The key first: a certificate on disk always has its key beside it.
    error = writeFileAtomically(keyPath, bioText(keyBio.get()), 0600);
    if (error.empty()) {
        error = writeFileAtomically(certPath, bioText(certBio.get()), 0644);
    }
    if (!error.empty()) {
        return {};
    }
    id.certificatePath = certPath;
    return id;
}

} // namespace standin
