// Integrated (Kerberos) logins: the security token a client sends in LOGIN7,
// and in SSPI messages after it, is accepted with GSSAPI against a keytab
// holding the service's keys (SQL Server's MSSQLSvc/host:port principals).
// Both raw Kerberos tokens (FreeTDS) and SPNEGO tokens (Windows clients) are
// understood.
#pragma once

#include <memory>
#include <string>

namespace ts::tds {

// The login name SQL Server shows for a domain principal: "user@REALM" ->
// "REALM\user". A name without a realm comes back unchanged.
std::string windowsLoginName(const std::string &principal);

// True when `keytab` can be read and holds at least one key; otherwise false
// with the reason in `error`.
bool checkKeytab(const std::string &keytab, std::string *error);

// One security context being accepted for one connection.
class IntegratedLogin {
public:
    explicit IntegratedLogin(std::string keytab);
    ~IntegratedLogin();
    IntegratedLogin(const IntegratedLogin &) = delete;
    IntegratedLogin &operator=(const IntegratedLogin &) = delete;

    enum class Step { Continue, Done, Failed };
    // Feeds one token from the client. `reply` receives the token to send
    // back (possibly empty: then nothing is sent). Continue: the client must
    // answer with another token; Done: the client is authenticated.
    Step step(const std::string &token, std::string *reply);
    // After Done: the client's principal, e.g. "alice@EXAMPLE.COM".
    const std::string &principal() const { return m_principal; }
    // After Failed: GSSAPI's reason, for the server's own log.
    const std::string &error() const { return m_error; }

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    std::string m_keytab;
    std::string m_principal;
    std::string m_error;
};

} // namespace ts::tds
