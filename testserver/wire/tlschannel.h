// The socket of one connection, clear or inside TLS. The TLS handshake of a
// TDS 7.x login travels inside PRELOGIN packets, so the handshake is driven
// with byte strings the caller unwraps and wraps; after it, the channel
// encrypts and decrypts on the socket itself until told to stop (a login-only
// session goes back to clear after the LOGIN7 message).
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

struct ssl_st;
struct ssl_ctx_st;

namespace ts::tds {

// The server's certificate and key, shared by every connection.
class TlsContext {
public:
    ~TlsContext();
    TlsContext(const TlsContext &) = delete;
    TlsContext &operator=(const TlsContext &) = delete;

    // From PEM files (certificate chain and private key); null with `error`
    // set when they cannot be read or do not belong together.
    static std::unique_ptr<TlsContext> fromFiles(const std::string &certFile, const std::string &keyFile,
                                                 std::string *error);
    // A self-signed certificate made in memory, as SQL Server makes one at
    // start when none is configured.
    static std::unique_ptr<TlsContext> selfSigned(const std::string &commonName, std::string *error);

    ssl_ctx_st *get() const { return m_ctx; }

private:
    explicit TlsContext(ssl_ctx_st *ctx) : m_ctx(ctx) {}
    ssl_ctx_st *m_ctx;
};

class Channel {
public:
    explicit Channel(int fd) : m_fd(fd) {}
    ~Channel();
    Channel(const Channel &) = delete;
    Channel &operator=(const Channel &) = delete;

    // Reads exactly n bytes (decrypted while encryption is on); false when
    // the peer closed the socket, it failed, or a TLS record was bad.
    bool recvAll(char *p, size_t n);
    // Writes all n bytes (encrypted while encryption is on). Safe to call
    // from one thread while another reads.
    bool sendAll(const char *p, size_t n);

    enum class Handshake { More, Done, Failed };
    // Starts the server side of a TLS handshake.
    bool startTls(const TlsContext &ctx);
    // Feeds the client's handshake bytes; `out` gets the bytes to send back
    // (possibly none). Done once the handshake has completed.
    Handshake handshake(const std::string &in, std::string *out, std::string *error);
    // Switches the socket's traffic into TLS (after the handshake) or back
    // to clear (after a login-only LOGIN7).
    void setEncrypted(bool on);

private:
    long readSome(char *p, size_t n);
    bool flushLocked();
    bool sendRaw(const char *p, size_t n);

    int m_fd;
    ssl_st *m_ssl = nullptr;
    bool m_encrypted = false;
    std::mutex m_mu; // guards m_ssl and the order of bytes written to the socket
};

// Frees what OpenSSL keeps for the calling thread (its random generators and
// error queue). A connection thread calls it as its last step, so that the
// process, which may exit as soon as the connection is gone, does not exit
// while the thread is still tearing that state down.
void releaseThreadTls();

} // namespace ts::tds
