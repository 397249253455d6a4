#include "engine/functions.h"

#include "engine/enginefunctions.h"

#include <cstdlib>

namespace ts::fn {

std::string text(sqlite3_value *v)
{
    const unsigned char *p = sqlite3_value_text(v);
    return p ? std::string(reinterpret_cast<const char *>(p), static_cast<size_t>(sqlite3_value_bytes(v))) : std::string();
}

std::string blob(sqlite3_value *v)
{
    const void *p = sqlite3_value_blob(v);
    return p ? std::string(static_cast<const char *>(p), size_t(sqlite3_value_bytes(v))) : std::string();
}

std::string clrError(const std::string &type, const std::string &exception, const std::string &message,
                     const std::string &clrClass, const std::string &method)
{
    return "A .NET Framework error occurred during execution of user-defined routine or aggregate \"" + type
        + "\": \n" + exception + ": " + message + "\n" + exception + ": \n   at Microsoft.SqlServer.Types." + clrClass
        + "." + method + "\n.";
}

void raise(sqlite3_context *ctx, int number, int severity, const std::string &message)
{
    const std::string e = encodeError(number, severity, message);
    sqlite3_result_error(ctx, e.c_str(), static_cast<int>(e.size()));
}

void resultText(sqlite3_context *ctx, const std::string &s)
{
    sqlite3_result_text(ctx, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

bool toDec(sqlite3_value *v, num::Dec &out)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        out.units = static_cast<long>(sqlite3_value_int64(v));
        out.scale = 0;
        return true;
    case SQLITE_FLOAT:
        out = num::fromDouble(sqlite3_value_double(v));
        return true;
    case SQLITE_TEXT:
        return num::parse(text(v), out);
    default:
        return false;
    }
}

bool toDouble(sqlite3_value *v, double &out)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        out = sqlite3_value_double(v);
        return true;
    case SQLITE_TEXT: {
        const std::string s = text(v);
        char *end = nullptr;
        out = std::strtod(s.c_str(), &end);
        while (end && *end == ' ') ++end;
        return end && end != s.c_str() && *end == '\0';
    }
    default:
        return false;
    }
}

} // namespace ts::fn
