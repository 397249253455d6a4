// The query object: an ordered list of SQL lines bound to a connection, run
// as one batch. `q` (catalogue and maintenance) and `AdoQExec` (console) are
// two of these.
#pragma once

#include "dbclient.h"

#include <QObject>
#include <QStringList>

#include <memory>

namespace dv {

class ResultSet;

class Query : public QObject {
    Q_OBJECT
public:
    // `name` prefixes the "does not return a result set" failure ("q: ...").
    Query(QString name, Connection *conn, QObject *parent = nullptr);
    ~Query() override;

    const QString &name() const { return m_name; }
    Connection *connection() const { return m_conn; }

    // SQL lines. Every change closes the query first.
    const QStringList &lines() const { return m_lines; }
    void setLines(const QStringList &lines);
    void clearLines();
    void addLine(const QString &line);
    // The lines, each followed by CR LF.
    QString commandText() const;

    // Seconds; 30 unless changed. 0 waits for ever.
    int commandTimeout() const { return m_timeoutSec; }
    void setCommandTimeout(int seconds) { m_timeoutSec = seconds; }

    // Both rewrite parameter markers and send the command text as one batch.
    // Throw DbError on failure; the query stays closed then.
    void execute();
    void open();
    // Discards the result set; closing a closed query does nothing.
    void close();

    bool isOpen() const { return bool(m_rows); }
    // Walking the open result: current row, end flag, next.
    bool eof() const;
    void next();
    qint64 currentRow() const { return m_row; }
    // Field of the current row by column name, as text. Throws DbError when
    // the query is closed, at the end, or the column does not exist.
    QString fieldByName(const QString &column) const;

    // The open result set (null when closed), shared with the console's model.
    std::shared_ptr<ResultSet> resultSet() const { return m_rows; }

    // Values for the markers of the next run (the console never sets any).
    void setParameterValues(const QVector<QVariant> &values) { m_params = values; }

signals:
    void opened();  // a result set is now held
    void closed();  // the result set was discarded

private:
    Statement prepare() const;

    QString m_name;
    Connection *m_conn;
    QStringList m_lines;
    int m_timeoutSec = 30;
    QVector<QVariant> m_params;
    std::shared_ptr<ResultSet> m_rows;
    qint64 m_row = 0;
};

} // namespace dv
