// SCAFFOLD: replaced by the query object implementation.
#include "query.h"
#include "resultset.h"
namespace dv {
Query::Query(QString name, Connection *conn, QObject *parent) : QObject(parent), m_name(std::move(name)), m_conn(conn) {}
Query::~Query() = default;
void Query::setLines(const QStringList &lines) { close(); m_lines = lines; }
void Query::clearLines() { close(); m_lines.clear(); }
void Query::addLine(const QString &line) { close(); m_lines << line; }
QString Query::commandText() const { QString s; for (auto &l : m_lines) s += l + "\r\n"; return s; }
void Query::execute() { throw DbError("not implemented"); }
void Query::open() { throw DbError("not implemented"); }
void Query::close() { if (m_rows) { m_rows.reset(); emit closed(); } }
bool Query::eof() const { return true; }
void Query::next() {}
QString Query::fieldByName(const QString &) const { throw DbError("not implemented"); }
}
