#include "fakecatalog.h"

#include "client/resultset.h"

namespace dvtest {

namespace {

dv::ColumnInfo column(const QString &name, dv::ValueKind kind)
{
    dv::ColumnInfo c;
    c.name = name;
    c.kind = kind;
    return c;
}

void addText(dv::ResultSet &rs, const QString &s) { rs.addText(reinterpret_cast<const char16_t *>(s.utf16()), s.size()); }

} // namespace

std::optional<dv::RunResult> answerCatalog(const dv::Statement &st, const FakeTable &table)
{
    using dv::ValueKind;
    const QString t = st.text;
    dv::RunResult r;
    if (t.contains(QLatin1String("sys.triggers"))) {
        auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{column("n", ValueKind::Integer)});
        rs->addInteger(table.hasTriggers ? 1 : 0);
        rs->endRow();
        r.rows = rs;
    } else if (t.contains(QLatin1String("sys.objects"))) {
        auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{
            column("db", ValueKind::Text), column("object_id", ValueKind::Integer), column("schema", ValueKind::Text),
            column("name", ValueKind::Text), column("type", ValueKind::Text)});
        const QString asked = st.params.value(0).toString();
        if (asked.compare(u'[' + table.name + u']', Qt::CaseInsensitive) == 0
            || asked.compare(u'[' + table.schema + QStringLiteral("].[") + table.name + u']', Qt::CaseInsensitive) == 0) {
            addText(*rs, table.database);
            rs->addInteger(42);
            addText(*rs, table.schema);
            addText(*rs, table.name);
            addText(*rs, table.type);
            rs->endRow();
        }
        r.rows = rs;
    } else if (t.startsWith(QLatin1String("SELECT c.name, c.is_identity"))) {
        auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{
            column("name", ValueKind::Text), column("is_identity", ValueKind::Boolean),
            column("is_computed", ValueKind::Boolean), column("type", ValueKind::Text),
            column("max_length", ValueKind::Integer), column("precision", ValueKind::Integer),
            column("scale", ValueKind::Integer)});
        for (const FakeTable::Column &c : table.columns) {
            addText(*rs, c.name);
            rs->addInteger(0);
            rs->addInteger(0);
            addText(*rs, c.type);
            rs->addInteger(c.maxLength);
            rs->addInteger(0);
            rs->addInteger(0);
            rs->endRow();
        }
        r.rows = rs;
    } else if (t.startsWith(QLatin1String("SELECT i.index_id"))) {
        auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{
            column("index_id", ValueKind::Integer), column("is_primary_key", ValueKind::Boolean),
            column("name", ValueKind::Text)});
        for (const QString &k : table.primaryKey) {
            rs->addInteger(1);
            rs->addInteger(1);
            addText(*rs, k);
            rs->endRow();
        }
        r.rows = rs;
    } else if (t.startsWith(QLatin1String("SELECT @@TRANCOUNT"))) {
        auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{column("n", ValueKind::Integer)});
        rs->addInteger(0);
        rs->endRow();
        r.rows = rs;
    } else {
        return std::nullopt;
    }
    return r;
}

bool isWriteBatch(const QString &text)
{
    return text.startsWith(QLatin1String("DECLARE @dv_n")) || text.contains(QLatin1String(" OUTPUT INSERTED."))
           || text.contains(QLatin1String(" OUTPUT DELETED."));
}

dv::RunResult writeAnswer(const dv::Statement &st, qint64 count)
{
    const bool counted = st.text.contains(QLatin1String("AS dv_n"));
    auto rs = std::make_shared<dv::ResultSet>(
        QVector<dv::ColumnInfo>{column(counted ? "dv_n" : "id", dv::ValueKind::Integer)});
    for (qint64 i = 0; i < (counted ? 1 : count); ++i) {
        rs->addInteger(counted ? count : i + 1);
        rs->endRow();
    }
    dv::RunResult r;
    r.rows = rs;
    r.results << rs;
    return r;
}

} // namespace dvtest
