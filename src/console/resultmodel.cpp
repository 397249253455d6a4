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
    m_readDatabase = m_rows && m_query && m_query->connection() ? m_query->connection()->currentDatabase() : QString();
    m_current = m_rows && m_rows->rowCount() > 0 ? 0 : -1;
    // What the statement alone tells is known before the operator types.
    if (m_rows) {
        const SelectSource src = analyzeResult();
        if (!src.ok)
            m_targetError = src.reason;
    }
    // A result comes in the server's order (refresh() sorts it again).
    m_order.clear();
    m_sortColumn = -1;
    m_sortOrder = Qt::AscendingOrder;
    m_textOrder.reset();
    m_clrTypeNames.reset();
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
    qint64 held = row;
    if (m_state == State::Insert && row >= m_editRow) {
        if (row == m_editRow)
            return -1;
        held = row - 1;
    }
    return m_order.empty() ? held : m_order[size_t(held)];
}

QString ResultModel::cellText(int row, int col) const
{
    if (!m_rows || row < 0 || row >= rowCount() || col < 0 || col >= columnCount())
        return {};
    return displayText(cellValue(row, col), m_rows->columns()[col].kind);
}

QStringView ResultModel::cellTextView(int row, int col, QString &buffer) const
{
    if (!m_rows || row < 0 || row >= rowCount() || col < 0 || col >= columnCount()) {
        buffer.resize(0);
        return {};
    }
    if (row == m_editRow && m_changes.contains(col)) {
        buffer = displayText(m_changes.value(col), m_rows->columns()[col].kind);
        return buffer;
    }
    const qint64 held = storageRow(row);
    if (held < 0) { // the new row, where nothing was typed
        buffer.resize(0);
        return {};
    }
    return m_rows->textInto(held, col, buffer);
}

const TextOrder &ResultModel::textOrder()
{
    if (m_textOrder)
        return *m_textOrder;
    // The client cannot read a result column's collation through the
    // driver; the server's collation is what columns take unless declared
    // otherwise. Without an answer text sorts case-insensitively, as under
    // SQL Server's default collations, and the look-up is tried again next time.
    static const TextOrder fallback = textOrderForCollation(QString());
    if (!m_query || !m_query->connection() || !m_query->connection()->isConnected())
        return fallback;
    try {
        Statement st;
        st.text = QStringLiteral("SELECT CONVERT(nvarchar(128), SERVERPROPERTY('Collation'))");
        const RunResult r = runOnConnection(st);
        if (!r.rows || r.rows->rowCount() < 1 || r.rows->columnCount() < 1)
            return fallback;
        m_textOrder = textOrderForCollation(r.rows->text(0, 0));
    } catch (const std::exception &) {
        return fallback;
    }
    return *m_textOrder;
}

void ResultModel::applySort()
{
    m_order.clear();
    if (m_sortColumn < 0 || !m_rows || m_sortColumn >= m_rows->columnCount())
        return;
    const bool text = m_rows->columns()[m_sortColumn].kind == ValueKind::Text;
    m_order = sortedRowOrder(*m_rows, m_sortColumn, m_sortOrder, text ? textOrder() : TextOrder());
}

bool ResultModel::sortBy(int column, Qt::SortOrder order)
{
    if (m_state == State::Inactive)
        return false;
    if (m_state != State::Browse)
        return fail(QStringLiteral("请先保存或取消正在修改的记录"));
    if (column >= columnCount())
        return false;
    if (column >= 0) {
        const QString why = unsortableReason(describedColumn(column));
        if (!why.isEmpty())
            return fail(why);
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Indexes the views hold (the current cell) follow their rows.
    // Indexes the views hold (the current cell) and the row indicator
    // follow their rows.
    const QModelIndexList held = persistentIndexList();
    std::vector<qint64> heldRows;
    heldRows.reserve(size_t(held.size()));
    for (const QModelIndex &i : held)
        heldRows.push_back(storageRow(i.row()));
    const qint64 currentHeld = m_current >= 0 && m_current < rowCount() ? storageRow(m_current) : -1;
    m_sortColumn = column < 0 ? -1 : column;
    m_sortOrder = order;
    applySort();
    if (!held.isEmpty() || currentHeld >= 0) {
        std::vector<int> gridRow(size_t(m_rows->rowCount()));
        for (size_t g = 0; g < gridRow.size(); ++g)
            gridRow[m_order.empty() ? g : size_t(m_order[g])] = int(g);
        QModelIndexList moved;
        moved.reserve(held.size());
        for (qsizetype k = 0; k < held.size(); ++k)
            moved << index(gridRow[size_t(heldRows[size_t(k)])], held[k].column());
        changePersistentIndexList(held, moved);
        if (currentHeld >= 0)
            m_current = gridRow[size_t(currentHeld)];
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    return true;
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
    if (const QString why = untypableReason(m_rows->columns()[col]); !why.isEmpty())
        return fail(why);
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
    if (m_state == State::Browse && !ensureTarget())
        return false;
    if (m_target && col < m_target->generated.size() && m_target->generated[col])
        return fail(QStringLiteral("列 %1 的值由服务器生成(标识列、计算列或 rowversion),不能修改")
                        .arg(m_rows->columns()[col].name));
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
    const SelectSource src = analyzeResult();
    if (!src.ok)
        return refuseWrites(src.reason);
    if (!m_query || !m_query->connection())
        return fail(QStringLiteral("没有连接"));
    // A name without a database is resolved in the connection's current
    // database, which a maintenance batch ("use master") may have changed
    // since the rows were read: resolving it there would write elsewhere.
    if (src.database.isEmpty() && !m_readDatabase.isEmpty()) {
        const QString now = m_query->connection()->currentDatabase();
        if (now.compare(m_readDatabase, Qt::CaseInsensitive) != 0)
            return fail(QStringLiteral("这些行读自数据库 %1,连接现在位于数据库 %2,无法确定写入哪个表;"
                                       "请重新执行查询后再修改")
                            .arg(m_readDatabase, now.isEmpty() ? QStringLiteral("(未知)") : now));
    }
    TableCatalog cat;
    try {
        if (!lookupCatalog(src, &cat))
            return refuseWrites(QStringLiteral("服务器上找不到 %1(按当前登录的默认架构解析),结果只读")
                                    .arg(qualifiedName(src.database, src.schema, src.table)));
    } catch (const DbError &e) {
        // Not remembered: the look-up may work once the connection is back.
        return fail(e.message());
    } catch (const std::exception &e) {
        return fail(QString::fromUtf8(e.what()));
    }
    QString why;
    m_target = makeWriteTarget(src, cat, cols, &why);
    if (!m_target)
        return refuseWrites(why);
    return true;
}

ColumnInfo ResultModel::describedColumn(int column)
{
    constexpr int kSqlSsUdt = -151;
    ColumnInfo c = m_rows->columns()[column];
    if (c.sqlType != kSqlSsUdt || !c.typeName.isEmpty())
        return c;
    if (!m_clrTypeNames)
        m_clrTypeNames = readTableTypeNames();
    c.typeName = m_clrTypeNames->value(column);
    return c;
}

QMap<int, QString> ResultModel::readTableTypeNames() const
{
    QMap<int, QString> names;
    const SelectSource src = analyzeResult();
    if (!src.ok || !m_query || !m_query->connection() || !m_query->connection()->isConnected())
        return names;
    TableCatalog cat;
    try {
        if (!lookupCatalog(src, &cat))
            return names;
    } catch (const std::exception &) {
        return names; // unknown: the column is treated as of an unknown CLR type
    }
    for (int c = 0; c < src.baseColumns.size(); ++c)
        for (const TableColumn &tc : std::as_const(cat.columns))
            if (tc.name.compare(src.baseColumns[c], Qt::CaseInsensitive) == 0)
                names.insert(c, tc.type);
    return names;
}

SelectSource ResultModel::analyzeResult() const
{
    QStringList names;
    for (const ColumnInfo &c : m_rows->columns())
        names << c.name;
    return analyzeSelect(m_query ? m_query->commandText() : QString(), names);
}

bool ResultModel::refuseWrites(const QString &reason)
{
    m_targetError = reason;
    emit stateChanged();
    return fail(reason);
}

RunResult ResultModel::runOnConnection(Statement st, bool allResults) const
{
    st.timeoutSec = m_query->commandTimeout();
    st.allResults = allResults;
    return m_query->connection()->open(st);
}

bool ResultModel::lookupCatalog(const SelectSource &src, TableCatalog *cat) const
{
    const RunResult obj = runOnConnection(buildObjectLookup(src));
    if (!obj.rows || obj.rows->rowCount() == 0 || obj.rows->isNull(0, 1))
        return false;
    cat->database = src.database.isEmpty() ? obj.rows->text(0, 0) : src.database;
    cat->objectId = obj.rows->value(0, 1).toLongLong();
    cat->schema = obj.rows->text(0, 2);
    cat->name = obj.rows->text(0, 3);
    cat->type = obj.rows->text(0, 4).trimmed();
    if (cat->type != QLatin1String("U"))
        return true; // a view or other object: refused by its type

    const RunResult cols = runOnConnection(buildColumnLookup(cat->database, cat->objectId));
    for (qint64 r = 0; cols.rows && r < cols.rows->rowCount(); ++r) {
        TableColumn c;
        c.name = cols.rows->text(r, 0);
        c.identity = cols.rows->value(r, 1).toBool();
        c.computed = cols.rows->value(r, 2).toBool();
        c.type = cols.rows->text(r, 3);
        c.maxLength = cols.rows->value(r, 4).toInt();
        c.precision = cols.rows->value(r, 5).toInt();
        c.scale = cols.rows->value(r, 6).toInt();
        cat->columns << c;
    }
    const RunResult keys = runOnConnection(buildKeyLookup(cat->database, cat->objectId));
    qint64 lastIndex = -1;
    for (qint64 r = 0; keys.rows && r < keys.rows->rowCount(); ++r) {
        const qint64 index = keys.rows->value(r, 0).toLongLong();
        if (index != lastIndex || cat->uniqueKeys.isEmpty())
            cat->uniqueKeys.push_back({});
        lastIndex = index;
        cat->uniqueKeys.last() << keys.rows->text(r, 2);
    }
    const RunResult trig = runOnConnection(buildTriggerLookup(cat->database, cat->objectId));
    cat->hasTriggers = trig.rows && trig.rows->rowCount() > 0 && trig.rows->value(0, 0).toLongLong() > 0;
    return true;
}

WriteOutcome ResultModel::runWrite(const Statement &st) const
{
    const bool guarded = writeNeedsGuard(*m_target);
    int trancount = 0;
    if (guarded) {
        Statement tc;
        tc.text = QStringLiteral("SELECT @@TRANCOUNT");
        const RunResult r = runOnConnection(tc);
        trancount = r.rows && r.rows->rowCount() > 0 ? r.rows->value(0, 0).toInt() : 0;
    }
    try {
        const RunResult r = runOnConnection(st, true);
        return readWriteOutcome(r.results, m_rows->columnCount());
    } catch (const DbError &) {
        // An error that stopped the batch half-way leaves the write's own
        // transaction level open: end it, keeping the operator's.
        if (guarded && m_query->connection()->isConnected()) {
            try {
                Statement clean = buildWriteCleanup(trancount);
                clean.timeoutSec = m_query->commandTimeout();
                m_query->connection()->execute(clean);
            } catch (const DbError &) {
            }
        }
        throw;
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

const char *const kChangedElsewhere =
    "这一行在读取之后已被其他用户修改或删除,未写入。您输入的值仍保留;按“刷新”可显示服务器上这一行现在的值。";

// Refuses an outcome that did not touch exactly one row.
void checkOneRow(const WriteOutcome &o, bool deleting)
{
    if (o.count == 0)
        throw DbError(deleting ? QStringLiteral("这一行在读取之后已被其他用户修改或删除,未删除。按“刷新”可显示服务器上的数据。")
                               : QString::fromUtf8(kChangedElsewhere));
    if (o.count > 1)
        throw DbError(QStringLiteral("服务器上有 %1 行与这一行完全相同,无法确定是哪一行,修改已撤销").arg(o.count));
    if (o.count < 0)
        throw DbError(QStringLiteral("服务器没有报告写入的行数,无法确认写入"));
}

} // namespace

bool ResultModel::postUpdate()
{
    if (!ensureTarget())
        return false;
    const qint64 srow = storageRow(m_editRow);
    const QVector<QVariant> original = storedRow(srow);
    WriteOutcome o;
    try {
        o = runWrite(buildUpdate(*m_target, original, m_changes));
        checkOneRow(o, false);
    } catch (const DbError &e) {
        return fail(e.message());
    } catch (const std::exception &e) {
        return fail(QString::fromUtf8(e.what()));
    }
    QVector<QVariant> updated = original;
    for (auto it = m_changes.constBegin(); it != m_changes.constEnd(); ++it)
        updated[it.key()] = it.value();
    if (o.row)
        updated = *o.row;
    m_rows->setRow(srow, updated);
    finishEdit();
    if (o.rowMissing)
        emit notice(QStringLiteral("修改已写入,但按键读回时表中找不到这一行(可能被触发器改变);按“刷新”查看服务器上的数据"));
    return true;
}

bool ResultModel::postInsert()
{
    if (!ensureTarget())
        return false;
    const WriteTarget &t = *m_target;
    WriteOutcome o;
    try {
        o = runWrite(buildInsert(t, m_changes));
        if (o.count == 0)
            throw DbError(QStringLiteral("服务器没有插入这一行(可能被触发器放弃),未写入"));
        checkOneRow(o, false);
    } catch (const DbError &e) {
        return fail(e.message());
    } catch (const std::exception &e) {
        return fail(QString::fromUtf8(e.what()));
    }
    if (o.rowMissing) {
        // The server counted the insert, but the table does not hold the row
        // (an INSTEAD OF trigger dropped or rewrote it): no phantom row.
        cancel();
        emit notice(QStringLiteral("服务器报告已插入,但表中找不到这一行(可能被触发器放弃或改写),结果中不显示它"));
        return true;
    }
    QVector<QVariant> values(m_rows->columnCount());
    for (auto it = m_changes.constBegin(); it != m_changes.constEnd(); ++it)
        if (!(it.key() < t.generated.size() && t.generated[it.key()]))
            values[it.key()] = it.value();
    if (o.row)
        values = *o.row;
    if (m_order.empty()) {
        m_rows->insertRow(m_editRow, values);
    } else {
        // Sorted: the row joins the held rows at their end (where the
        // server's order shows it) and the sorted view where it was typed.
        const qint64 at = m_rows->rowCount();
        m_rows->insertRow(at, values);
        m_order.insert(m_order.begin() + m_editRow, at);
    }
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
        checkOneRow(runWrite(buildDelete(*m_target, storedRow(srow))), true);
    } catch (const DbError &e) {
        return fail(e.message());
    } catch (const std::exception &e) {
        return fail(QString::fromUtf8(e.what()));
    }
    beginRemoveRows({}, row, row);
    m_rows->removeRow(srow);
    if (!m_order.empty()) {
        m_order.erase(m_order.begin() + row);
        for (qint64 &held : m_order)
            if (held > srow)
                --held;
    }
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
    if (m_state == State::Edit)
        return refreshEditedRow();
    if (m_state != State::Browse)
        return fail(QStringLiteral("请先保存或取消正在修改的记录"));
    // Running a batch with an insert or update again would repeat it.
    if (batchChangesData(m_query->commandText()))
        return fail(QStringLiteral("此语句会修改数据,刷新会再次执行它;请用“执行”重新运行"));
    const int sortColumn = m_sortColumn;
    const Qt::SortOrder sortOrder = m_sortOrder;
    const QVector<ColumnInfo> columns = m_rows->columns();
    try {
        m_query->open();
    } catch (const DbError &e) {
        return fail(e.message());
    } catch (const std::exception &e) {
        return fail(QString::fromUtf8(e.what()));
    }
    // The same statement read again: sorted as the operator had it, unless
    // its columns changed meanwhile.
    bool sameColumns = sortColumn >= 0 && m_rows && m_rows->columnCount() == columns.size();
    for (int c = 0; sameColumns && c < columns.size(); ++c)
        sameColumns = m_rows->columns()[c].name == columns[c].name && m_rows->columns()[c].kind == columns[c].kind;
    if (sameColumns)
        sortBy(sortColumn, sortOrder);
    return true;
}

bool ResultModel::refreshEditedRow()
{
    // The row being edited is read again by its key: the operator sees what
    // the server holds now and keeps the typed values, which are posted
    // against the row as read now.
    if (!ensureTarget())
        return false;
    if (m_target->keyColumns.isEmpty())
        return fail(QStringLiteral("此表没有键,无法单独重读这一行。您输入的值仍保留;取消修改后再刷新可读取服务器上的全部数据"));
    const qint64 srow = storageRow(m_editRow);
    RunResult r;
    try {
        r = runOnConnection(buildRowReread(*m_target, storedRow(srow)));
    } catch (const DbError &e) {
        return fail(e.message());
    } catch (const std::exception &e) {
        return fail(QString::fromUtf8(e.what()));
    }
    if (!r.rows || r.rows->rowCount() != 1 || r.rows->columnCount() != m_rows->columnCount())
        return fail(QStringLiteral("这一行已被其他用户删除。您输入的值仍显示在表格中,可复制后按“取消”"));
    QVector<QVariant> row;
    for (int c = 0; c < r.rows->columnCount(); ++c)
        row << (r.rows->isNull(0, c) ? QVariant() : r.rows->value(0, c));
    m_rows->setRow(srow, row);
    emit dataChanged(index(m_editRow, 0), index(m_editRow, columnCount() - 1));
    return true;
}

} // namespace dv
