#include "wire/gssauth.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>

namespace ts::tds {

namespace {

// GSSAPI's text for a major/minor status pair, all messages joined.
std::string statusText(OM_uint32 major, OM_uint32 minor)
{
    std::string out;
    auto collect = [&](OM_uint32 code, int type) {
        OM_uint32 ctx = 0;
        do {
            OM_uint32 min = 0;
            gss_buffer_desc msg = GSS_C_EMPTY_BUFFER;
            if (gss_display_status(&min, code, type, GSS_C_NO_OID, &ctx, &msg) != GSS_S_COMPLETE)
                break;
            if (!out.empty())
                out += ": ";
            out.append(static_cast<const char *>(msg.value), msg.length);
            gss_release_buffer(&min, &msg);
        } while (ctx != 0);
    };
    collect(major, GSS_C_GSS_CODE);
    if (minor != 0)
        collect(minor, GSS_C_MECH_CODE);
    return out;
}

std::string keytabName(const std::string &path)
{
    // A bare path names a file keytab; "FILE:..." and other typed names pass.
    if (!path.empty() && path.front() != '/' && path.find(':') != std::string::npos)
        return path;
    return "FILE:" + path;
}

// Acceptor credentials for every key in the keytab and every mechanism
// (Kerberos and SPNEGO), read afresh for each login so that keys added to
// the file while the server runs count at once.
OM_uint32 acquire(const std::string &keytab, gss_cred_id_t *cred, OM_uint32 *minor)
{
    const std::string name = keytabName(keytab);
    gss_key_value_element_desc element{"keytab", name.c_str()};
    const gss_key_value_set_desc store{1, &element};
    return gss_acquire_cred_from(minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, GSS_C_NO_OID_SET, GSS_C_ACCEPT, &store, cred,
                                 nullptr, nullptr);
}

} // namespace

std::string windowsLoginName(const std::string &principal)
{
    // The realm follows the last '@' that is not escaped with '\'.
    for (size_t at = principal.rfind('@'); at != std::string::npos && at > 0; at = principal.rfind('@', at - 1)) {
        size_t backslashes = 0;
        for (size_t k = at; k > 0 && principal[k - 1] == '\\'; --k)
            ++backslashes;
        if (backslashes % 2 == 0) {
            if (at + 1 == principal.size())
                return principal.substr(0, at);
            return principal.substr(at + 1) + '\\' + principal.substr(0, at);
        }
    }
    return principal;
}

bool checkKeytab(const std::string &keytab, std::string *error)
{
    if (keytab.empty()) {
        if (error)
            *error = "no keytab given";
        return false;
    }
    OM_uint32 minor = 0;
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    const OM_uint32 major = acquire(keytab, &cred, &minor);
    if (GSS_ERROR(major)) {
        if (error)
            *error = "keytab " + keytab + ": " + statusText(major, minor);
        return false;
    }
    gss_release_cred(&minor, &cred);
    return true;
}

struct IntegratedLogin::Impl {
    gss_ctx_id_t ctx = GSS_C_NO_CONTEXT;
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;

    ~Impl()
    {
        OM_uint32 minor = 0;
        if (ctx != GSS_C_NO_CONTEXT)
            gss_delete_sec_context(&minor, &ctx, GSS_C_NO_BUFFER);
        if (cred != GSS_C_NO_CREDENTIAL)
            gss_release_cred(&minor, &cred);
    }
};

IntegratedLogin::IntegratedLogin(std::string keytab) : d(std::make_unique<Impl>()), m_keytab(std::move(keytab)) {}

IntegratedLogin::~IntegratedLogin() = default;

IntegratedLogin::Step IntegratedLogin::step(const std::string &token, std::string *reply)
{
    reply->clear();
    OM_uint32 minor = 0;
    if (token.empty()) {
        m_error = "the client sent no security token";
        return Step::Failed;
    }
    if (d->cred == GSS_C_NO_CREDENTIAL) {
        const OM_uint32 major = acquire(m_keytab, &d->cred, &minor);
        if (GSS_ERROR(major)) {
            m_error = "keytab " + m_keytab + ": " + statusText(major, minor);
            return Step::Failed;
        }
    }
    gss_buffer_desc in{token.size(), const_cast<char *>(token.data())};
    gss_buffer_desc out = GSS_C_EMPTY_BUFFER;
    gss_name_t source = GSS_C_NO_NAME;
    const OM_uint32 major = gss_accept_sec_context(&minor, &d->ctx, d->cred, &in, GSS_C_NO_CHANNEL_BINDINGS, &source,
                                                   nullptr, &out, nullptr, nullptr, nullptr);
    OM_uint32 ignored = 0;
    if (out.length > 0)
        reply->assign(static_cast<const char *>(out.value), out.length);
    gss_release_buffer(&ignored, &out);
    if (GSS_ERROR(major)) {
        m_error = statusText(major, minor);
        gss_release_name(&ignored, &source);
        return Step::Failed;
    }
    if (major & GSS_S_CONTINUE_NEEDED) {
        gss_release_name(&ignored, &source);
        return Step::Continue;
    }
    gss_buffer_desc shown = GSS_C_EMPTY_BUFFER;
    const OM_uint32 nameMajor = gss_display_name(&minor, source, &shown, nullptr);
    if (GSS_ERROR(nameMajor)) {
        m_error = "client name: " + statusText(nameMajor, minor);
        gss_release_name(&ignored, &source);
        return Step::Failed;
    }
    m_principal.assign(static_cast<const char *>(shown.value), shown.length);
    gss_release_buffer(&ignored, &shown);
    gss_release_name(&ignored, &source);
    return Step::Done;
}

} // namespace ts::tds
