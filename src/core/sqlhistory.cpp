#include "sqlhistory.h"

namespace dv {

void SqlHistory::ran(const QString &text)
{
    if (m_entries.isEmpty() || m_entries.constLast() != text)
        m_entries << text;
    m_shown = m_entries;
    m_shown << text;
    m_place = m_entries.size();
}

std::optional<QString> SqlHistory::older(const QString &shown)
{
    if (m_place == 0)
        return std::nullopt;
    m_shown[m_place] = shown;
    qsizetype to = m_place - 1;
    while (to > 0 && m_shown[to] == shown)
        --to;
    m_place = to;
    return m_shown[to];
}

std::optional<QString> SqlHistory::newer(const QString &shown)
{
    if (m_place >= m_entries.size())
        return std::nullopt;
    m_shown[m_place] = shown;
    qsizetype to = m_place + 1;
    while (to < m_entries.size() && m_shown[to] == shown)
        ++to;
    m_place = to;
    return m_shown[to];
}

} // namespace dv
