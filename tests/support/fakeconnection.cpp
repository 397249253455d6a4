#include "fakeconnection.h"

namespace dvtest {

void FakeConnection::open(const dv::ConnectParams &p)
{
    opens << p;
    if (failOpen)
        throw dv::DbError(QStringLiteral("Login failed for user '%1'.").arg(p.user), QStringLiteral("28000"), 18456);
    m_connected = true;
    m_linkLost = false;
}

dv::RunResult FakeConnection::execute(const dv::Statement &st) { return answer(st, false); }
dv::RunResult FakeConnection::open(const dv::Statement &st) { return answer(st, true); }

dv::RunResult FakeConnection::answer(const dv::Statement &st, bool open)
{
    calls << Call{open, st};
    if (!m_connected)
        throw dv::DbError(QStringLiteral("Connection is closed"), QStringLiteral("08003"));
    if (m_linkLost)
        throw dv::DbError(QStringLiteral("Communication link failure"), QStringLiteral("08S01"));
    if (handler)
        return handler(st, open);
    dv::RunResult r;
    if (open) {
        if (!st.text.contains(QStringLiteral("sysdatabases")))
            throw dv::DbError(QString::fromLatin1(dv::kNoResultSetText));
        r.rows = textResult(QStringLiteral("name"), databases);
    }
    return r;
}

std::shared_ptr<dv::ResultSet> FakeConnection::textResult(const QString &column, const QStringList &values)
{
    dv::ColumnInfo c;
    c.name = column;
    c.kind = dv::ValueKind::Text;
    auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{c});
    for (const QString &v : values) {
        rs->addText(reinterpret_cast<const char16_t *>(v.utf16()), v.size());
        rs->endRow();
    }
    return rs;
}

QStringList FakeConnection::texts() const
{
    QStringList out;
    for (const Call &c : calls)
        out << c.statement.text;
    return out;
}

} // namespace dvtest
