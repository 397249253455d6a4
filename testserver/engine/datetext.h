// Reading dates from text the way a session's SET DATEFORMAT and CONVERT's
// styles decide: numbers in day/month/year order, English month names.
#pragma once

#include <string>

namespace ts {

// The order ("mdy", "dmy", "ymd", "ydm", "myd", "dym") in which the batch
// running on this thread reads numeric dates; "mdy" when no session set one.
// A session points it at its own setting while it runs a batch, so that SET
// DATEFORMAT and SET LANGUAGE take effect at once.
const std::string &currentDateOrder();
class DateOrderScope {
public:
    explicit DateOrderScope(const std::string *order);
    ~DateOrderScope();
    DateOrderScope(const DateOrderScope &) = delete;
    DateOrderScope &operator=(const DateOrderScope &) = delete;

private:
    const std::string *m_saved;
};

// The date at s[p...] in the forms beyond yyyy-mm-dd and yyyymmdd: three
// numbers joined by '/', '-' or '.' in `order` (a four-digit first number is
// the year, the other two then in the order's month/day order), and a month
// by its English name or abbreviation ("Dec 25 2026", "25 December, 2026").
// A two-digit year is 1950..2049. Advances p past the date on success.
bool readLooseDate(const std::string &s, size_t &p, const std::string &order, int &y, int &m, int &d);

// The order CONVERT's style reads a date in (1: mdy, 3: dmy ...); "" for a
// style that leaves it to the session.
std::string styleDateOrder(int style);

} // namespace ts
