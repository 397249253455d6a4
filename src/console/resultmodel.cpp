#include "resultmodel.h"

#include "client/query.h"
#include "client/resultset.h"

#include <QColor>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <climits>

namespace dv {

namespace {

bool isNullValue(const QVariant &v) { return !v.isValid() || v.isNull(); }

bool sameValue(const QVariant &a, const QVariant &b)
{
    if (isNullValue(a) || isNullValue(b))
        return isNullValue(a) && isNullValue(b);
    return a == b;
}

bool numericKind(ValueKind k)
{
    return k == ValueKind::Integer || k == ValueKind::Double || k == ValueKind::Decimal || k == ValueKind::Boolean;
}

QString timeText(const QTime &t)
{
    return t.toString(t.msec() ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss"));
}

} // namespace

ResultModel::ResultModel(Query *query, QObject *parent) : QAbstractTableModel(parent), m_query(query)
{
    if (m_query) {
        connect(m_query, &Query::opened, this, [this] { setResultSet(m_query->resultSet()); });
        connect(m_query, &Query::closed, this, [this] { setResultSet(nullptr); });
    }
}

ResultModel::~ResultModel() = default;

void ResultModel::setResultSet(std::shared_ptr<ResultSet> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    m_state = m_rows ? State::Browse : State::Inactive;
    m_editRow = -1;
    m_changes.clear();
    m_target.reset();
    m_targetError.clear();
    m_current = m_rows && m_rows->rowCount() > 0 ? 0 : -1;
    endResetModel();
    emit stateChanged();
}

ResultModel::State ResultModel::state() const { return m_state; }

int ResultModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_rows)
        return 0;
    const qint64 n = m_rows->rowCount() + (m_state == State::Insert ? 1 : 0);
    return int(qMin<qint64>(n, INT_MAX));
}

int ResultModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_rows)
        return 0;
    return m_rows->columnCount();
}

qint64 ResultModel::storageRow(int row) const
{
    if (m_state != State::Insert || row < m_editRow)
        return row;
    if (row == m_editRow)
        return -1;
    return row - 1;
}

QVariant ResultModel::storedValue(qint64 row, int col) const
{
    if (row < 0 || m_rows->isNull(row, col))
        return {};
    return m_rows->value(row, col);
}

QVariant ResultModel::cellValue(int row, int col) const
{
    if (row == m_editRow) {
        auto it = m_changes.constFind(col);
        if (it != m_changes.constEnd())
            return it.value();
    }
    return storedValue(storageRow(row), col);
}

QVector<QVariant> ResultModel::storedRow(qint64 row) const
{
    QVector<QVariant> out;
    out.reserve(m_rows->columnCount());
    for (int c = 0; c < m_rows->columnCount(); ++c)
        out << storedValue(row, c);
    return out;
}

QString ResultModel::displayText(const QVariant &v, ValueKind kind)
{
    if (isNullValue(v))
        return {};
    switch (kind) {
    case ValueKind::Integer:
        return QString::number(v.toLongLong());
    case ValueKind::Boolean:
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case ValueKind::Double:
        // The shortest text that reads back as the same double: what the
        // editor shows goes back unchanged.
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case ValueKind::Binary:
        return QStringLiteral("0x") + QString::fromLatin1(v.toByteArray().toHex().toUpper());
    case ValueKind::Date:
        return v.toDate().toString(Qt::ISODate);
    case ValueKind::Time:
        return timeText(v.toTime());
    case ValueKind::DateTime: {
        const QDateTime dt = v.toDateTime();
        return dt.date().toString(Qt::ISODate) + u' ' + timeText(dt.time());
    }
    case ValueKind::Decimal:
    case ValueKind::Text:
        break;
    }
    return v.toString();
}

std::optional<QVariant> ResultModel::parseInput(const QString &text, ValueKind kind, QString *error)
{
    auto bad = [&](const char *what) -> std::optional<QVariant> {
        if (error)
            *error = QStringLiteral("“%1”不是有效的%2")
                         .arg(text.size() > 60 ? text.left(60) + QStringLiteral("…") : text, QString::fromUtf8(what));
        return std::nullopt;
    };
    if (kind == ValueKind::Text)
        return QVariant(text);
    const QString t = text.trimmed();
    if (t.isEmpty())
        return QVariant();
    bool ok = false;
    switch (kind) {
    case ValueKind::Integer: {
        const qlonglong v = t.toLongLong(&ok);
        return ok ? std::optional<QVariant>(QVariant(v)) : bad("整数");
    }
    case ValueKind::Boolean: {
        const QString l = t.toLower();
        if (l == QLatin1String("1") || l == QLatin1String("true"))
            return QVariant(true);
        if (l == QLatin1String("0") || l == QLatin1String("false"))
            return QVariant(false);
        return bad("位值(0 或 1)");
    }
    case ValueKind::Double: {
        const double v = t.toDouble(&ok);
        return ok ? std::optional<QVariant>(QVariant(v)) : bad("数值");
    }
    case ValueKind::Decimal: {
        static const QRegularExpression re(QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)$"));
        return re.match(t).hasMatch() ? std::optional<QVariant>(QVariant(t)) : bad("数值");
    }
    case ValueKind::Binary: {
        QString h = t;
        if (h.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            h = h.mid(2);
        static const QRegularExpression hex(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
        if (!hex.match(h).hasMatch())
            return bad("十六进制数据");
        return QVariant(QByteArray::fromHex(h.toLatin1()));
    }
    case ValueKind::Date: {
        const QDate d = QDate::fromString(t, Qt::ISODate);
        return d.isValid() ? std::optional<QVariant>(QVariant(d)) : bad("日期(yyyy-MM-dd)");
    }
    case ValueKind::Time: {
        for (const char *f : {"HH:mm:ss.zzz", "HH:mm:ss", "HH:mm"}) {
            const QTime tm = QTime::fromString(t, QString::fromLatin1(f));
            if (tm.isValid())
                return QVariant(tm);
        }
        return bad("时间(hh:mm:ss)");
    }
    case ValueKind::DateTime: {
        for (const char *f : {"yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm",
                              "yyyy-MM-ddTHH:mm:ss.zzz", "yyyy-MM-ddTHH:mm:ss"}) {
            const QDateTime dt = QDateTime::fromString(t, QString::fromLatin1(f));
            if (dt.isValid())
                return QVariant(dt);
        }
        const QDate d = QDate::fromString(t, Qt::ISODate);
        if (d.isValid())
            return QVariant(QDateTime(d, QTime(0, 0)));
        return bad("日期时间(yyyy-MM-dd hh:mm:ss)");
    }
    case ValueKind::Text:
        break;
    }
    return QVariant(text);
}

bool ResultModel::validCell(const QModelIndex &index) const
{
    return m_rows && index.isValid() && index.model() == this && index.row() < rowCount()
           && index.column() < columnCount();
}

QVariant ResultModel::data(const QModelIndex &index, int role) const
{
    if (!validCell(index))
        return {};
    const int col = index.column();
    const ValueKind kind = m_rows->columns()[col].kind;
    switch (role) {
    case Qt::DisplayRole: {
        const QVariant v = cellValue(index.row(), col);
        if (isNullValue(v))
            return QStringLiteral("(NULL)");
        QString s = displayText(v, kind);
        // One line, and not more than a screen's worth: the rest is in the
        // tooltip and the editor.
        qsizetype nl = -1;
        for (qsizetype i = 0, n = qMin<qsizetype>(s.size(), kDisplayChars + 1); i < n && nl < 0; ++i)
            if (s[i] == u'\n' || s[i] == u'\r')
                nl = i;
        if (nl >= 0 || s.size() > kDisplayChars)
            s = s.left(qMin<qsizetype>(nl >= 0 ? nl : s.size(), kDisplayChars)) + QStringLiteral("…");
        return s;
    }
    case Qt::EditRole:
        return displayText(cellValue(index.row(), col), kind);
    case Qt::ToolTipRole: {
        const QString s = displayText(cellValue(index.row(), col), kind);
        if (s.size() > kDisplayChars || s.contains(u'\n') || s.contains(u'\r'))
            return s;
        return {};
    }
    case Qt::ForegroundRole:
        if (isNullValue(cellValue(index.row(), col)))
            return QColor(Qt::gray);
        return {};
    case Qt::TextAlignmentRole:
        if (numericKind(kind))
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (!m_rows)
        return {};
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= m_rows->columnCount())
            return {};
        const ColumnInfo &c = m_rows->columns()[section];
        if (role == Qt::DisplayRole)
            return c.name;
        if (role == Qt::ToolTipRole)
            return c.typeName.isEmpty() ? c.name : c.name + QStringLiteral(" (") + c.typeName + u')';
        return {};
    }
    if (role != Qt::DisplayRole || section < 0 || section >= rowCount())
        return {};
    // The row indicator: the row being edited or inserted, else the current row.
    if (section == m_editRow)
        return m_state == State::Insert ? QStringLiteral("✱") : QStringLiteral("✎");
    if (section == m_current)
        return QStringLiteral("▶");
    return QString();
}

Qt::ItemFlags ResultModel::flags(const QModelIndex &index) const
{
    if (!validCell(index))
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

void ResultModel::setCurrentRow(int row)
{
    if (row == m_current)
        return;
    const int old = m_current;
    m_current = row;
    const int n = rowCount();
    if (old >= 0 && old < n)
        emit headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0 && row < n)
        emit headerDataChanged(Qt::Vertical, row, row);
}

bool ResultModel::fail(const QString &text)
{
    // A server message may quote a whole value (a conversion error on a long
    // text): the box shows its start and end, not megabytes.
    constexpr qsizetype kMaxMessage = 1200;
    const QString message = text.size() <= kMaxMessage
                                ? text
                                : text.left(kMaxMessage / 2) + QStringLiteral(" … ") + text.right(kMaxMessage / 4);
    m_lastError = message;
    ++m_failures;
    emit failed(message);
    return false;
}

bool ResultModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !validCell(index))
        return false;
    const int row = index.row(), col = index.column();
    const ValueKind kind = m_rows->columns()[col].kind;
    const QVariant current = cellValue(row, col);
    QVariant v = value;
    if (value.typeId() == QMetaType::QString) {
        // An editor opened on NULL shows nothing; leaving it empty keeps NULL.
        if (isNullValue(current) && value.toString().isEmpty())
            return true;
        QString err;
        const std::optional<QVariant> parsed = parseInput(value.toString(), kind, &err);
        if (!parsed)
            return fail(err);
        v = *parsed;
    }
    if (sameValue(v, current))
        return true;
    if (m_state == State::Browse) {
        if (!beginEdit(row))
            return false;
    } else if (row != m_editRow) {
        return fail(QStringLiteral("请先保存或取消正在修改的记录"));
    }
    m_changes.insert(col, v);
    emit dataChanged(index, index);
    emit stateChanged();
    return true;
}

bool ResultModel::setNull(const QModelIndex &index) { return setData(index, QVariant(), Qt::EditRole); }

bool ResultModel::ensureTarget()
{
    if (m_target)
        return true;
    if (!m_targetError.isEmpty())
        return fail(m_targetError);
    const QVector<ColumnInfo> &cols = m_rows->columns();
    QStringList names;
    for (const ColumnInfo &c : cols)
        names << c.name;
    const SelectSource src = analyzeSelect(m_query ? m_query->commandText() : QString(), names);
    if (!src.ok) {
        // Only what the statement itself shows ties the rows to one table:
        // column metadata cannot tell which of several statements produced them.
        m_targetError = src.reason;
        return fail(m_targetError);
    }

    Connection *conn = m_query ? m_query->connection() : nullptr;
    if (!conn)
        return fail(QStringLiteral("没有连接"));
    const QString is = (src.database.isEmpty() ? QString() : quoteName(src.database) + u'.')
                       + QStringLiteral("INFORMATION_SCHEMA.");
    auto lookup = [&](const QString &text, const QVector<QVariant> &params) {
        Statement st;
        st.text = text;
        st.params = params;
        st.markerCount = int(params.size());
        st.timeoutSec = m_query->commandTimeout();
        return conn->open(st).rows;
    };
    try {
        // Which schema holds the table (dbo first when none was written).
        QVector<QVariant> p{src.table};
        QString where = QStringLiteral(" WHERE TABLE_NAME = ?");
        if (!src.schema.isEmpty()) {
            where += QStringLiteral(" AND TABLE_SCHEMA = ?");
            p << src.schema;
        }
        // Writes are judged by the row counts the server reports; with
        // NOCOUNT on (set by the operator's batch) it reports none, and a
        // write that touched no row would pass for a success.
        auto tables = lookup(QStringLiteral("SET NOCOUNT OFF\r\nSELECT TABLE_SCHEMA, TABLE_NAME FROM ") + is
                                 + QStringLiteral("TABLES") + where,
                             p);
        if (!tables || tables->rowCount() == 0) {
            m_targetError = QStringLiteral("找不到表 %1,结果只读").arg(src.table);
            return fail(m_targetError);
        }
        QString schema = tables->text(0, 0);
        for (qint64 r = 0; r < tables->rowCount(); ++r)
            if (tables->text(r, 0).compare(QLatin1String("dbo"), Qt::CaseInsensitive) == 0)
                schema = tables->text(r, 0);
        const QString table = tables->text(0, 1).isEmpty() ? src.table : tables->text(0, 1);
        const QVector<QVariant> tp{table, schema};
        const QString tw = QStringLiteral(" WHERE TABLE_NAME = ? AND TABLE_SCHEMA = ?");

        auto columns = lookup(QStringLiteral("SELECT COLUMN_NAME FROM ") + is + QStringLiteral("COLUMNS") + tw, tp);
        QStringList tableColumns;
        for (qint64 r = 0; columns && r < columns->rowCount(); ++r)
            tableColumns << columns->text(r, 0);
        WriteTarget t;
        t.table = qualifiedName(src.database, schema, table);
        t.info = cols;
        for (const QString &b : std::as_const(src.baseColumns)) {
            const auto it = std::find_if(tableColumns.cbegin(), tableColumns.cend(), [&](const QString &c) {
                return c.compare(b, Qt::CaseInsensitive) == 0;
            });
            if (it == tableColumns.cend()) {
                m_targetError = QString::fromUtf8("此结果来自连接、表达式或多个表,结果只读");
                return fail(m_targetError);
            }
            t.columns << *it;
        }
        for (int c = 0; c < cols.size(); ++c)
            if (cols[c].autoIncrement && t.identityColumn < 0)
                t.identityColumn = c;

        // The primary key, else a unique key, whose columns are all shown.
        auto cons = lookup(QStringLiteral("SELECT CONSTRAINT_NAME, CONSTRAINT_TYPE FROM ") + is
                               + QStringLiteral("TABLE_CONSTRAINTS") + tw,
                           tp);
        auto usage = lookup(QStringLiteral("SELECT CONSTRAINT_NAME, COLUMN_NAME, ORDINAL_POSITION FROM ") + is
                                + QStringLiteral("KEY_COLUMN_USAGE") + tw,
                            tp);
        auto keyOf = [&](const QString &constraint, QVector<int> *out) {
            QMap<int, int> byPos;
            for (qint64 r = 0; usage && r < usage->rowCount(); ++r) {
                if (usage->text(r, 0).compare(constraint, Qt::CaseInsensitive) != 0)
                    continue;
                const QString name = usage->text(r, 1);
                int c = -1;
                for (int i = 0; i < t.columns.size() && c < 0; ++i)
                    if (t.columns[i].compare(name, Qt::CaseInsensitive) == 0)
                        c = i;
                if (c < 0)
                    return false;
                byPos.insert(usage->text(r, 2).toInt(), c);
            }
            *out = byPos.values();
            return !out->isEmpty();
        };
        for (const char *kind : {"PRIMARY KEY", "UNIQUE"}) {
            for (qint64 r = 0; cons && r < cons->rowCount() && t.keyColumns.isEmpty(); ++r) {
                if (cons->text(r, 1).compare(QLatin1String(kind), Qt::CaseInsensitive) != 0)
                    continue;
                QVector<int> key;
                if (keyOf(cons->text(r, 0), &key))
                    t.keyColumns = key;
            }
        }
        if (t.keyColumns.isEmpty()) {
            bool anyComparable = false;
            for (const ColumnInfo &c : cols)
                anyComparable = anyComparable || comparableColumn(c);
            if (!anyComparable) {
                m_targetError = QStringLiteral("此结果没有可以确定行的列,结果只读");
                return fail(m_targetError);
            }
        }
        m_target = t;
        return true;
    } catch (const DbError &e) {
        return fail(e.message());
    } catch (const std::exception &e) {
        return fail(QString::fromUtf8(e.what()));
    }
}

bool ResultModel::beginEdit(int row)
{
    if (m_state == State::Inactive || row < 0 || row >= rowCount())
        return false;
    if (m_state != State::Browse)
        return row == m_editRow ? true : fail(QStringLiteral("请先保存或取消正在修改的记录"));
    if (!ensureTarget())
        return false;
    m_state = State::Edit;
    m_editRow = row;
    emit headerDataChanged(Qt::Vertical, row, row);
    emit stateChanged();
    return true;
}

bool ResultModel::insertRow(int row)
{
    if (m_state == State::Inactive)
        return false;
    if (m_state != State::Browse)
        return fail(QStringLiteral("请先保存或取消正在修改的记录"));
    if (!ensureTarget())
        return false;
    row = qBound(0, row, rowCount());
    beginInsertRows({}, row, row);
    m_state = State::Insert;
    m_editRow = row;
    m_changes.clear();
    endInsertRows();
    emit stateChanged();
    return true;
}

void ResultModel::finishEdit()
{
    const int row = m_editRow;
    m_state = m_rows ? State::Browse : State::Inactive;
    m_editRow = -1;
    m_changes.clear();
    if (row >= 0 && row < rowCount()) {
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
        emit headerDataChanged(Qt::Vertical, row, row);
    }
    emit stateChanged();
}

void ResultModel::cancel()
{
    if (m_state == State::Edit) {
        finishEdit();
    } else if (m_state == State::Insert) {
        const int row = m_editRow;
        beginRemoveRows({}, row, row);
        m_state = State::Browse;
        m_editRow = -1;
        m_changes.clear();
        endRemoveRows();
        emit stateChanged();
    }
}

bool ResultModel::post()
{
    if (m_state == State::Edit)
        return m_changes.isEmpty() ? (finishEdit(), true) : postUpdate();
    if (m_state == State::Insert) {
        // A new row the operator left untouched is dropped, not inserted.
        if (m_changes.isEmpty()) {
            cancel();
            return true;
        }
        return postInsert();
    }
    return true;
}

namespace {

// Refuses a write without a key unless exactly one row matches.
void checkSingleRow(Connection *conn, const WriteTarget &t, const QVector<QVariant> &original, int timeout)
{
    if (!t.keyColumns.isEmpty())
        return;
    Statement st = buildCount(t, original);
    st.timeoutSec = timeout;
    const RunResult r = conn->open(st);
    const qint64 n = r.rows && r.rows->rowCount() > 0 ? r.rows->value(0, 0).toLongLong() : 0;
    if (n == 0)
        throw DbError(QStringLiteral("0 rows: 服务器上已找不到这一行(可能已被修改或删除),未写入"));
    if (n > 1)
        throw DbError(QStringLiteral("more than 1 row: 服务器上有 %1 行与这一行完全相同,无法确定要修改哪一行,未写入").arg(n));
}

void checkAffected(qint64 affected)
{
    if (affected == 0)
        throw DbError(QStringLiteral("0 rows: 服务器上已找不到这一行(可能已被修改或删除),未写入"));
    if (affected > 1)
        throw DbError(QStringLiteral("more than 1 row: 服务器上有 %1 行与这一行相同,修改已撤销").arg(affected));
}

// Runs the update or delete `st` of the row whose values were `original`;
// throws unless exactly one row of the table was changed.
void writeOneRow(Connection *conn, const WriteTarget &t, const QVector<QVariant> &original, Statement st,
                 int timeout)
{
    checkSingleRow(conn, t, original, timeout);
    if (t.keyColumns.isEmpty())
        st = guardSingleRow(st);
    st.timeoutSec = timeout;
    checkAffected(conn->execute(st).rowsAffected);
}

} // namespace

bool ResultModel::postUpdate()
{
    if (!ensureTarget())
        return false;
    const qint64 srow = storageRow(m_editRow);
    const QVector<QVariant> original = storedRow(srow);
    try {
        writeOneRow(m_query->connection(), *m_target, original, buildUpdate(*m_target, original, m_changes),
                    m_query->commandTimeout());
    } catch (const DbError &e) {
        return fail(e.message());
    } catch (const std::exception &e) {
        return fail(QString::fromUtf8(e.what()));
    }
    QVector<QVariant> updated = original;
    for (auto it = m_changes.constBegin(); it != m_changes.constEnd(); ++it)
        updated[it.key()] = it.value();
    m_rows->setRow(srow, updated);
    finishEdit();
    return true;
}

bool ResultModel::postInsert()
{
    if (!ensureTarget())
        return false;
    const WriteTarget &t = *m_target;
    QVector<QVariant> values(m_rows->columnCount());
    for (auto it = m_changes.constBegin(); it != m_changes.constEnd(); ++it)
        if (it.key() != t.identityColumn)
            values[it.key()] = it.value();
    Connection *conn = m_query->connection();
    try {
        Statement st = buildInsert(t, m_changes);
        st.timeoutSec = m_query->commandTimeout();
        if (t.identityColumn >= 0) {
            const RunResult r = conn->open(st);
            if (r.rows && r.rows->rowCount() > 0 && !r.rows->isNull(0, 0))
                values[t.identityColumn] = QVariant(r.rows->value(0, 0).toLongLong());
        } else {
            conn->execute(st);
        }
    } catch (const DbError &e) {
        return fail(e.message());
    } catch (const std::exception &e) {
        return fail(QString::fromUtf8(e.what()));
    }
    // Read the new row back by its key so that server defaults show.
    if (!t.keyColumns.isEmpty()) {
        QVector<QVariant> key;
        bool known = true;
        for (int c : t.keyColumns) {
            key << values[c];
            known = known && !isNullValue(values[c]);
        }
        if (known) {
            try {
                Statement st = buildReread(t, key);
                st.timeoutSec = m_query->commandTimeout();
                const RunResult r = conn->open(st);
                if (r.rows && r.rows->rowCount() == 1 && r.rows->columnCount() == values.size())
                    for (int c = 0; c < values.size(); ++c)
                        values[c] = r.rows->isNull(0, c) ? QVariant() : r.rows->value(0, c);
            } catch (const std::exception &) {
                // The row is in; it shows as entered until the next refresh.
            }
        }
    }
    m_rows->insertRow(m_editRow, values);
    finishEdit();
    return true;
}

bool ResultModel::deleteRow(int row)
{
    if (m_state == State::Inactive || row < 0 || row >= rowCount())
        return false;
    if (m_state == State::Insert && row == m_editRow) {
        cancel();
        return true;
    }
    if (m_state != State::Browse) {
        if (row != m_editRow)
            return fail(QStringLiteral("请先保存或取消正在修改的记录"));
        cancel(); // deleting the row being edited drops its edits
    }
    if (!ensureTarget())
        return false;
    const qint64 srow = storageRow(row);
    try {
        const QVector<QVariant> original = storedRow(srow);
        writeOneRow(m_query->connection(), *m_target, original, buildDelete(*m_target, original),
                    m_query->commandTimeout());
    } catch (const DbError &e) {
        return fail(e.message());
    } catch (const std::exception &e) {
        return fail(QString::fromUtf8(e.what()));
    }
    beginRemoveRows({}, row, row);
    m_rows->removeRow(srow);
    if (m_current >= rowCount())
        m_current = rowCount() - 1;
    endRemoveRows();
    emit stateChanged();
    return true;
}

bool ResultModel::refresh()
{
    if (m_state == State::Inactive || !m_query)
        return false;
    if (m_state != State::Browse)
        return fail(QStringLiteral("请先保存或取消正在修改的记录"));
    // Running a batch with an insert or update again would repeat it.
    if (batchChangesData(m_query->commandText()))
        return fail(QStringLiteral("此语句会修改数据,刷新会再次执行它;请用“执行”重新运行"));
    try {
        m_query->open();
    } catch (const DbError &e) {
        return fail(e.message());
    } catch (const std::exception &e) {
        return fail(QString::fromUtf8(e.what()));
    }
    return true;
}

} // namespace dv
