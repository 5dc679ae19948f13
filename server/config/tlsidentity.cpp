#include "tlsidentity.h"

#include "passwordfile.h"
#include "session/keyfingerprint.h"

#include <QFile>
#include <QSslConfiguration>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tlsidentity {

namespace {

constexpr qint64 MaxFileBytes = 256 * 1024;
constexpr long ValidDays = 3650;

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;

Bio memoryBio(const QByteArray& bytes)
{
    return Bio(BIO_new_mem_buf(bytes.constData(), int(bytes.size())));
}

QByteArray bioBytes(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, qsizetype(size));
}

// Writes the bytes to a new file of that mode; an existing file is left alone.
bool writeNew(const QString& path, const QByteArray& bytes, mode_t mode, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) {
        *error = QStringLiteral("%1 cannot be made: %2.").arg(path, qt_error_string(errno));
        return false;
    }
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = QStringLiteral("%1 cannot be written: %2.").arg(path, qt_error_string(errno));
            ::close(fd);
            ::unlink(QFile::encodeName(path).constData());
            return false;
        }
        written += n;
    }
    (void)::fchmod(fd, mode); // whatever the umask took away, and no more
    return ::close(fd) == 0;
}

bool addExtension(X509* cert, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        return false;
    const bool added = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

} // namespace

bool load(const QString& certPath, const QString& keyPath, Identity* identity, QString* error)
{
    QFile certFile(certPath);
    if (!certFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("the certificate file %1 cannot be opened: %2.")
                     .arg(certPath, certFile.errorString());
        return false;
    }
    const QByteArray certBytes = certFile.read(MaxFileBytes + 1);
    if (certBytes.size() > MaxFileBytes) {
        *error = QStringLiteral("the certificate file %1 is larger than %2 bytes.")
                     .arg(certPath)
                     .arg(MaxFileBytes);
        return false;
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(certBytes, QSsl::Pem);
    if (certificates.isEmpty() || certificates.first().isNull()) {
        *error = QStringLiteral("the certificate file %1 holds no PEM certificate.").arg(certPath);
        return false;
    }
    QString problem;
    const QByteArray keyBytes =
        passwordfile::readPrivate(keyPath, QStringLiteral("key file"), MaxFileBytes, &problem);
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    const Bio keyBio = memoryBio(keyBytes);
    // No passphrase: an encrypted key fails here rather than ask on a terminal.
    const Key key(PEM_read_bio_PrivateKey(
        keyBio.get(), nullptr, [](char*, int, int, void*) { return 0; }, nullptr));
    if (!key) {
        *error = QStringLiteral("the key file %1 holds no private key (PEM, not encrypted).")
                     .arg(keyPath);
        return false;
    }
    const Bio certBio = memoryBio(certBytes);
    const Cert cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    if (!cert || X509_check_private_key(cert.get(), key.get()) != 1) {
        *error = QStringLiteral("the key in %1 is not the key of the certificate in %2.")
                     .arg(keyPath, certPath);
        return false;
    }
    const QSsl::KeyAlgorithm algorithm =
        EVP_PKEY_base_id(key.get()) == EVP_PKEY_EC ? QSsl::Ec : QSsl::Rsa;
    const QSslKey sslKey(keyBytes, algorithm, QSsl::Pem, QSsl::PrivateKey);
    if (sslKey.isNull()) {
        *error = QStringLiteral("the key file %1 holds a key of a kind the server cannot use "
                                "(EC or RSA only).")
                     .arg(keyPath);
        return false;
    }
    identity->certificate = certificates.first();
    identity->chain = certificates.mid(1);
    identity->key = sslKey;
    return true;
}

bool create(const QString& certPath, const QString& keyPath, const QString& hostName,
            QString* error)
{
    const auto fail = [error](const QString& what) {
        *error = QStringLiteral("the certificate cannot be made: %1.").arg(what);
        return false;
    };
    if (QFile::exists(certPath) || QFile::exists(keyPath)) {
        *error = QStringLiteral("%1 exists already; remove it first to make a new one.")
                     .arg(QFile::exists(certPath) ? certPath : keyPath);
        return false;
    }
    const Key key(EVP_EC_gen("P-256"));
    const Cert cert(X509_new());
    if (!key || !cert)
        return fail(QStringLiteral("no key"));
    X509_set_version(cert.get(), 2);
    // A random serial, as browsers and libraries expect of distinct certificates.
    unsigned char serial[16];
    QFile random(QStringLiteral("/dev/urandom"));
    if (!random.open(QIODevice::ReadOnly) ||
        random.read(reinterpret_cast<char*>(serial), sizeof serial) != sizeof serial)
        return fail(QStringLiteral("no random numbers"));
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), ValidDays * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    const QByteArray commonName = hostName.toUtf8().left(64);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.constData()), -1,
                               -1, 0);
    X509_set_issuer_name(cert.get(), name);
    QByteArray altNames = "DNS:localhost,IP:127.0.0.1,IP:::1";
    if (!hostName.isEmpty() && hostName != QLatin1String("localhost"))
        altNames = "DNS:" + hostName.toUtf8() + ',' + altNames;
    if (!addExtension(cert.get(), NID_subject_alt_name, altNames.constData()) ||
        !addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !addExtension(cert.get(), NID_key_usage, "critical,digitalSignature") ||
        !addExtension(cert.get(), NID_ext_key_usage, "serverAuth"))
        return fail(QStringLiteral("the host name \"%1\" does not fit in it").arg(hostName));
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0)
        return fail(QStringLiteral("it could not be signed"));

    const Bio keyOut(BIO_new(BIO_s_mem()));
    const Bio certOut(BIO_new(BIO_s_mem()));
    if (!PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) ||
        !PEM_write_bio_X509(certOut.get(), cert.get()))
        return fail(QStringLiteral("it could not be written out"));
    if (!writeNew(keyPath, bioBytes(keyOut.get()), 0600, error))
        return false;
    if (!writeNew(certPath, bioBytes(certOut.get()), 0644, error)) {
        ::unlink(QFile::encodeName(keyPath).constData());
        return false;
    }
    return true;
}

QString fingerprint(const QSslCertificate& certificate)
{
    return keyfingerprint::display(keyfingerprint::pin(certificate.publicKey().toDer()));
}

} // namespace tlsidentity
