// TLS through OpenSSL with memory BIOs: the channel moves the bytes between
// the socket and OpenSSL itself, so the same SSL object serves the handshake
// wrapped in PRELOGIN packets and the bare TLS records that follow, and one
// lock keeps the reader thread and the writing thread from interleaving.
#include "wire/tlschannel.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <sys/socket.h>

#include <cerrno>
#include <ctime>

namespace ts::tds {

namespace {

std::string lastSslError(const char *what)
{
    std::string s = what;
    const unsigned long e = ERR_get_error();
    if (e != 0) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        s += ": ";
        s += buf;
    }
    ERR_clear_error();
    return s;
}

// TLS 1.2 only: SQL Server speaks TLS 1.3 only in TDS 8.0's strict mode, and
// a 1.3 server would send session tickets after the client considers the
// PRELOGIN-wrapped handshake finished.
SSL_CTX *newServerContext(std::string *error)
{
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) {
        *error = lastSslError("SSL_CTX_new");
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    return ctx;
}

struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
struct KeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};

// An EC P-256 key and a certificate for it signed by itself, valid for a year
// from an hour ago. EC because it is made in a millisecond: every test starts
// a server.
bool makeSelfSigned(const std::string &cn, std::unique_ptr<X509, X509Free> &cert,
                    std::unique_ptr<EVP_PKEY, KeyFree> &key)
{
    key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    cert.reset(X509_new());
    if (!key || !cert)
        return false;
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), long(std::time(nullptr)));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 24 * 3600);
    X509_NAME *name = X509_get_subject_name(cert.get());
    const auto *text = reinterpret_cast<const unsigned char *>(cn.c_str());
    return X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, text, -1, -1, 0) == 1
        && X509_set_issuer_name(cert.get(), name) == 1 && X509_set_pubkey(cert.get(), key.get()) == 1
        && X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
}

} // namespace

TlsContext::~TlsContext()
{
    SSL_CTX_free(m_ctx);
}

std::unique_ptr<TlsContext> TlsContext::fromFiles(const std::string &certFile, const std::string &keyFile,
                                                  std::string *error)
{
    SSL_CTX *ctx = newServerContext(error);
    if (!ctx)
        return nullptr;
    std::unique_ptr<TlsContext> c(new TlsContext(ctx));
    if (SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1) {
        *error = lastSslError(("cannot read certificate " + certFile).c_str());
        return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        *error = lastSslError(("cannot use the private key " + keyFile).c_str());
        return nullptr;
    }
    if (SSL_CTX_check_private_key(ctx) != 1) {
        *error = lastSslError("the private key does not match the certificate");
        return nullptr;
    }
    return c;
}

std::unique_ptr<TlsContext> TlsContext::selfSigned(const std::string &commonName, std::string *error)
{
    SSL_CTX *ctx = newServerContext(error);
    if (!ctx)
        return nullptr;
    std::unique_ptr<TlsContext> c(new TlsContext(ctx));
    std::unique_ptr<X509, X509Free> cert;
    std::unique_ptr<EVP_PKEY, KeyFree> key;
    if (!makeSelfSigned(commonName, cert, key) || SSL_CTX_use_certificate(ctx, cert.get()) != 1
        || SSL_CTX_use_PrivateKey(ctx, key.get()) != 1) {
        *error = lastSslError("cannot make a self-signed certificate");
        return nullptr;
    }
    return c;
}

Channel::~Channel()
{
    SSL_free(m_ssl);
}

bool Channel::startTls(const TlsContext &ctx)
{
    m_ssl = SSL_new(ctx.get());
    if (!m_ssl)
        return false;
    SSL_set_bio(m_ssl, BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
    SSL_set_accept_state(m_ssl);
    return true;
}

// Moves what OpenSSL produced (handshake flights, records) into `out`.
static void drain(SSL *ssl, std::string *out)
{
    BIO *w = SSL_get_wbio(ssl);
    char buf[16384];
    int k;
    while ((k = BIO_read(w, buf, sizeof buf)) > 0)
        out->append(buf, size_t(k));
}

Channel::Handshake Channel::handshake(const std::string &in, std::string *out, std::string *error)
{
    std::lock_guard lock(m_mu);
    if (!in.empty() && BIO_write(SSL_get_rbio(m_ssl), in.data(), int(in.size())) != int(in.size())) {
        *error = "cannot buffer the handshake";
        return Handshake::Failed;
    }
    const int r = SSL_do_handshake(m_ssl);
    drain(m_ssl, out);
    if (r == 1)
        return Handshake::Done;
    if (SSL_get_error(m_ssl, r) == SSL_ERROR_WANT_READ)
        return Handshake::More;
    *error = lastSslError("TLS handshake failed");
    return Handshake::Failed;
}

void Channel::setEncrypted(bool on)
{
    std::lock_guard lock(m_mu);
    m_encrypted = on && m_ssl;
}

bool Channel::sendRaw(const char *p, size_t n)
{
    while (n > 0) {
        const ssize_t k = ::send(m_fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

bool Channel::flushLocked()
{
    std::string out;
    drain(m_ssl, &out);
    return sendRaw(out.data(), out.size());
}

// Up to n decrypted bytes; 0 at the end of the stream, -1 on failure.
long Channel::readSome(char *p, size_t n)
{
    for (;;) {
        {
            std::lock_guard lock(m_mu);
            const int k = SSL_read(m_ssl, p, int(n > 16384 ? 16384 : n));
            const int err = k > 0 ? SSL_ERROR_NONE : SSL_get_error(m_ssl, k);
            if (!flushLocked())
                return -1;
            if (k > 0)
                return k;
            if (err == SSL_ERROR_ZERO_RETURN)
                return 0;
            if (err != SSL_ERROR_WANT_READ) {
                ERR_clear_error();
                return -1;
            }
        }
        char buf[16384];
        const ssize_t got = ::recv(m_fd, buf, sizeof buf, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got;
        std::lock_guard lock(m_mu);
        BIO_write(SSL_get_rbio(m_ssl), buf, int(got));
    }
}

bool Channel::recvAll(char *p, size_t n)
{
    while (n > 0) {
        long k;
        if (m_encrypted) {
            k = readSome(p, n);
        } else {
            k = ::recv(m_fd, p, n, 0);
            if (k < 0 && errno == EINTR)
                continue;
        }
        if (k <= 0)
            return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

bool Channel::sendAll(const char *p, size_t n)
{
    std::lock_guard lock(m_mu);
    if (!m_encrypted)
        return sendRaw(p, n);
    while (n > 0) {
        const int chunk = int(n > 16384 ? 16384 : n);
        if (SSL_write(m_ssl, p, chunk) != chunk) {
            ERR_clear_error();
            return false;
        }
        if (!flushLocked())
            return false;
        p += chunk;
        n -= size_t(chunk);
    }
    return true;
}

void releaseThreadTls()
{
    OPENSSL_thread_stop();
}

} // namespace ts::tds
