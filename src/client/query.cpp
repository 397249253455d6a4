#include "query.h"

#include "resultset.h"
#include "core/sqltext.h"

namespace dv {

Query::Query(QString name, Connection *conn, QObject *parent)
    : QObject(parent), m_name(std::move(name)), m_conn(conn)
{
}

Query::~Query() = default;

void Query::setLines(const QStringList &lines)
{
    close();
    m_lines = lines;
}

void Query::clearLines()
{
    close();
    m_lines.clear();
}

void Query::addLine(const QString &line)
{
    close();
    m_lines << line;
}

QString Query::commandText() const
{
    QString s;
    for (const QString &l : m_lines)
        s += l + QStringLiteral("\r\n");
    return s;
}

// Parameter values stay set until setParameterValues() is called again, so a
// query that is re-run with the same markers needs no new values.
Statement Query::prepare() const
{
    if (!m_conn)
        throw DbError(m_name + QStringLiteral(": no connection"), QStringLiteral("08003"));
    const MarkerScan scan = scanParameterMarkers(commandText());
    Statement st;
    st.text = scan.text;
    st.markerCount = int(scan.names.size());
    st.params = m_params;
    st.timeoutSec = m_timeoutSec;
    return st;
}

void Query::execute()
{
    close();
    const Statement st = prepare();
    m_conn->execute(st);
}

void Query::open()
{
    close();
    const Statement st = prepare();
    RunResult r;
    try {
        r = m_conn->open(st);
    } catch (const DbError &e) {
        if (e.message() == QLatin1String(kNoResultSetText))
            throw DbError(m_name + QStringLiteral(": ") + e.message(), e.sqlState(), e.nativeError());
        throw;
    }
    if (!r.rows)
        throw DbError(m_name + QStringLiteral(": ") + QLatin1String(kNoResultSetText));
    m_rows = std::move(r.rows);
    m_row = 0;
    emit opened();
}

void Query::close()
{
    if (!m_rows)
        return;
    m_rows.reset();
    m_row = 0;
    emit closed();
}

bool Query::eof() const
{
    return !m_rows || m_row >= m_rows->rowCount();
}

void Query::next()
{
    if (!eof())
        ++m_row;
}

QString Query::fieldByName(const QString &column) const
{
    if (!m_rows)
        throw DbError(m_name + QStringLiteral(": Operation is not allowed when the object is closed"));
    const int col = m_rows->columnIndex(column);
    if (col < 0)
        throw DbError(m_name + QStringLiteral(": Item cannot be found in the collection corresponding to the requested name or ordinal. (")
                      + column + u')');
    if (eof())
        throw DbError(m_name + QStringLiteral(": Either BOF or EOF is True, or the current record has been deleted"));
    return m_rows->text(m_row, col);
}

} // namespace dv
