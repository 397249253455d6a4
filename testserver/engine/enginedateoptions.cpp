// SET DATEFIRST, SET LANGUAGE and SET DATEFORMAT: the session's week start,
// the language of month and day names, and the order of a date's numbers.
#include "engine/enginesession.h"

#include <algorithm>

namespace ts {

namespace {

struct Language {
    const char *name;
    const char *alias;
    int dateFirst;
    const char *dateFormat;
};

// The languages this server knows, with the week start and date order each sets.
const Language kLanguages[] = {
    {"us_english", "English", 7, "mdy"},
    {"简体中文", "Simplified Chinese", 7, "ymd"},
};

} // namespace

SessionImpl::Flow SessionImpl::runSetDateOption(const Stmt &s, Run &r)
{
    try {
        std::string value = s.text;
        if (!value.empty() && value[0] == '@') {
            bool found = false;
            const Value v = variable(lower(value), &found);
            if (!found) throw makeError(137, 15, "Must declare the scalar variable \"" + value + "\".", true);
            value = valueText(v);
        }
        if (s.name == "DATEFIRST") {
            const int n = std::atoi(value.c_str());
            if (n < 1 || n > 7 || value.find_first_not_of("0123456789") != std::string::npos)
                throw makeError(2742, 16, "SET DATEFIRST " + value + " is out of range.", false);
            m_dateFirst = n;
        } else if (s.name == "DATEFORMAT") {
            static const char *const orders[] = {"mdy", "dmy", "ymd", "ydm", "myd", "dym"};
            const std::string l = lower(value);
            if (std::find(std::begin(orders), std::end(orders), l) == std::end(orders))
                throw makeError(1005, 15, "'" + value + "' is not a recognized SET DATEFORMAT option.", false);
            m_dateFormat = l;
        } else {
            const auto *lang = std::find_if(std::begin(kLanguages), std::end(kLanguages), [&](const Language &l) {
                return iequals(value, l.name) || iequals(value, l.alias);
            });
            if (lang == std::end(kLanguages))
                throw makeError(2732, 16, "Error setting language '" + value + "'.", false);
            m_language = lang->name;
            m_dateFirst = lang->dateFirst;
            m_dateFormat = lang->dateFormat;
            message(r, 5703, 10, std::string("Changed language setting to ") + lang->name + ".", s.line);
        }
        m_rowcount = 0;
        done(r, false, false, 0);
        return Flow::Next;
    } catch (const SqlError &e) {
        report(r, e, s.line);
        done(r, true, false, 0);
        return e.abortBatch ? Flow::Abort : Flow::Next;
    }
}

} // namespace ts
