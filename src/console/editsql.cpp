#include "editsql.h"

#include <QDateTime>
#include <QSet>

#include <algorithm>
#include <functional>

namespace dv {

namespace {

struct Token {
    enum Kind { Word, Quoted, String, Number, Punct, Variable } kind;
    QString text; // words as written; quoted identifiers without their quotes
    bool is(const char *kw) const
    {
        return kind == Word && text.compare(QLatin1String(kw), Qt::CaseInsensitive) == 0;
    }
    bool punct(QChar c) const { return kind == Punct && text.size() == 1 && text[0] == c; }
};

bool wordStart(QChar c) { return c.isLetter() || c == u'_' || c == u'#'; }
bool wordChar(QChar c) { return c.isLetterOrNumber() || c == u'_' || c == u'#' || c == u'$' || c == u'@'; }

// The text of the quoted run opening at `i`, with a doubled closing quote
// read as one; `i` ends just past the closing quote (or at the end).
QString readQuoted(const QString &s, qsizetype &i, QChar close)
{
    const qsizetype n = s.size();
    QString v;
    ++i;
    while (i < n) {
        if (s[i] == close) {
            if (i + 1 < n && s[i + 1] == close) {
                v += close;
                i += 2;
                continue;
            }
            ++i;
            break;
        }
        v += s[i++];
    }
    return v;
}

// T-SQL tokens with comments and blanks dropped. An unclosed quote or
// comment runs to the end of the text.
QVector<Token> tokenize(const QString &s)
{
    QVector<Token> out;
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = s[i];
        if (c.isSpace()) {
            ++i;
        } else if (c == u'-' && i + 1 < n && s[i + 1] == u'-') {
            while (i < n && s[i] != u'\n')
                ++i;
        } else if (c == u'/' && i + 1 < n && s[i + 1] == u'*') {
            int depth = 0; // T-SQL block comments nest
            while (i < n) {
                if (s[i] == u'/' && i + 1 < n && s[i + 1] == u'*') {
                    ++depth;
                    i += 2;
                } else if (s[i] == u'*' && i + 1 < n && s[i + 1] == u'/') {
                    i += 2;
                    if (--depth == 0)
                        break;
                } else {
                    ++i;
                }
            }
        } else if (c == u'\'' || ((c == u'N' || c == u'n') && i + 1 < n && s[i + 1] == u'\'')) {
            if (c != u'\'')
                ++i;
            out.push_back({Token::String, readQuoted(s, i, u'\'')});
        } else if (c == u'[' || c == u'"') {
            out.push_back({Token::Quoted, readQuoted(s, i, c == u'[' ? u']' : u'"')});
        } else if (c == u'@') {
            qsizetype j = i + 1;
            while (j < n && wordChar(s[j]))
                ++j;
            out.push_back({Token::Variable, s.mid(i, j - i)});
            i = j;
        } else if (wordStart(c)) {
            qsizetype j = i + 1;
            while (j < n && wordChar(s[j]))
                ++j;
            out.push_back({Token::Word, s.mid(i, j - i)});
            i = j;
        } else if (c.isDigit()) {
            qsizetype j = i + 1;
            while (j < n && (s[j].isLetterOrNumber() || s[j] == u'.'))
                ++j;
            out.push_back({Token::Number, s.mid(i, j - i)});
            i = j;
        } else {
            out.push_back({Token::Punct, QString(c)});
            ++i;
        }
    }
    return out;
}

// The index after the ")" that closes the first "(" from i on (size + 1 when none does).
qsizetype pastParenthesis(const QVector<Token> &tk, qsizetype i)
{
    const qsizetype n = tk.size();
    int d = 0;
    for (; i < n; ++i) {
        if (tk[i].punct(u'('))
            ++d;
        else if (tk[i].punct(u')') && --d == 0)
            break;
    }
    return i + 1;
}

bool isIdent(const Token &t) { return t.kind == Token::Word || t.kind == Token::Quoted; }

// Words that begin a new statement when met at the top level of a batch.
bool startsStatement(const Token &t)
{
    static const char *const kws[] = {"select", "insert", "update", "delete", "exec", "execute",
                                      "declare", "set", "print", "if", "begin", "use", "create",
                                      "drop", "alter", "go", "commit", "rollback", "while",
                                      "truncate", "merge", "with", "raiserror", "waitfor", "return",
                                      "save", "else", "end", "goto", "throw", "break", "continue"};
    for (const char *k : kws)
        if (t.is(k))
            return true;
    return false;
}

// Words that may not follow a table name in an updatable single-table read.
bool reservedAfterTable(const Token &t)
{
    static const char *const kws[] = {"where", "order", "option", "join", "inner", "left", "right",
                                      "full", "cross", "outer", "group", "having", "union",
                                      "intersect", "except", "for", "pivot", "unpivot", "on",
                                      "tablesample", "into", "compute"};
    for (const char *k : kws)
        if (t.is(k))
            return true;
    return startsStatement(t);
}

const char *const kJoinReason = "此结果来自连接、表达式或多个表,结果只读";
const char *const kControlFlowReason = "语句含有流程控制(IF、WHILE、BEGIN…END 等),无法确定结果来自哪一条语句,结果只读";
const char *const kSeveralReason = "批处理中有多条语句可能返回结果,无法确定显示的是哪一个,结果只读";
const char *const kProcedureReason = "批处理调用了存储过程,无法确定结果来自哪里,结果只读";
const char *const kCteReason = "结果来自公用表表达式(WITH),结果只读";
const char *const kUseReason = "批处理在查询之后切换了数据库,结果只读";

SelectSource refuse(const char *reason)
{
    SelectSource s;
    s.reason = QString::fromUtf8(reason);
    return s;
}

bool isControlFlow(const QVector<Token> &tk, qsizetype i)
{
    const Token &t = tk[i];
    if (t.is("if") || t.is("while") || t.is("else") || t.is("goto") || t.is("return") || t.is("try")
        || t.is("catch") || t.is("break") || t.is("continue"))
        return true;
    if (t.is("begin")) {
        // BEGIN TRAN / BEGIN DISTRIBUTED TRAN open a transaction, not a block.
        const bool tran = i + 1 < tk.size()
                          && (tk[i + 1].is("tran") || tk[i + 1].is("transaction") || tk[i + 1].is("distributed"));
        return !tran;
    }
    // A label ("name:") is a GOTO target.
    return t.kind == Token::Word && i + 1 < tk.size() && tk[i + 1].punct(u':')
           && (i == 0 || !tk[i - 1].punct(u':'));
}

// Whether the SELECT at `i` returns rows: "SELECT @x = ..." assigns
// variables and "SELECT ... INTO t" creates a table.
bool selectReturnsRows(const QVector<Token> &tk, qsizetype i)
{
    const qsizetype n = tk.size();
    qsizetype j = i + 1;
    if (j < n && tk[j].kind == Token::Variable && j + 1 < n && tk[j + 1].punct(u'='))
        return false;
    bool into = false;
    int d = 0;
    for (; j < n; ++j) {
        if (tk[j].punct(u'('))
            ++d;
        else if (tk[j].punct(u')'))
            --d;
        else if (d == 0 && (tk[j].is("from") || tk[j].punct(u';') || (tk[j].kind == Token::Word
                                                                        && startsStatement(tk[j]))))
            break;
        else if (d == 0 && tk[j].is("into"))
            into = true;
    }
    return !into;
}

// "WITH name AS (" or "WITH name (cols) AS (" at `i`: a common table expression.
bool opensCommonTableExpression(const QVector<Token> &tk, qsizetype i)
{
    const qsizetype n = tk.size();
    if (!tk[i].is("with") || i + 1 >= n || !isIdent(tk[i + 1]) || tk[i + 1].is("ties"))
        return false;
    const qsizetype j = i + 2 < n && tk[i + 2].punct(u'(') ? pastParenthesis(tk, i + 2) : i + 2;
    return j < n && tk[j].is("as");
}

// Rows of another kind than a SELECT's: OUTPUT clauses, cursors, DBCC,
// RESTORE HEADERONLY ...
bool returnsOtherRows(const Token &t)
{
    return t.is("output") || t.is("fetch") || t.is("dbcc") || t.is("restore") || t.is("readtext");
}

// A walk over the top level of a batch (outside parentheses and CASE
// expressions) that looks for its one row-returning SELECT. A SELECT that
// feeds an INSERT, assigns variables or writes INTO a table returns no rows;
// everything that may return rows besides the chosen SELECT makes the choice
// uncertain.
class RowSelectScan {
public:
    explicit RowSelectScan(const QVector<Token> &tk) : m_tk(tk) {}

    // The index of the SELECT, or -1 with `reason` set.
    qsizetype locate(const char **reason)
    {
        for (qsizetype i = 0; i < m_tk.size(); ++i) {
            if (insideExpression(m_tk[i]))
                continue;
            if (const char *r = refusal(i)) {
                *reason = r;
                return -1;
            }
        }
        if (m_found < 0)
            *reason = "无法确定结果来自哪个表,结果只读";
        return m_found;
    }

private:
    // Follows parentheses and CASE ... END (an expression, not control flow);
    // true for a token inside them.
    bool insideExpression(const Token &t)
    {
        if (t.punct(u'(')) {
            ++m_depth;
            return true;
        }
        if (t.punct(u')')) {
            m_depth = qMax(0, m_depth - 1);
            return true;
        }
        if (m_depth > 0)
            return true;
        if (t.is("case")) {
            ++m_caseDepth;
            return true;
        }
        if (m_caseDepth > 0) {
            if (t.is("end"))
                --m_caseDepth;
            return true;
        }
        return false;
    }

    // Takes in the top-level token at `i`; the reason the batch is refused,
    // or null.
    const char *refusal(qsizetype i)
    {
        const Token &t = m_tk[i];
        if (isControlFlow(m_tk, i))
            return kControlFlowReason;
        if (t.is("exec") || t.is("execute") || (i == 0 && t.kind == Token::Word && !startsStatement(t))) {
            if (!m_inInsert)
                return kProcedureReason;
            m_inInsert = false; // INSERT ... EXEC sends its rows to the table
            return nullptr;
        }
        if (returnsOtherRows(t))
            return kSeveralReason;
        if (opensCommonTableExpression(m_tk, i))
            return kCteReason;
        if (t.is("use") && m_found >= 0)
            return kUseReason;
        return followStatement(i);
    }

    // Keeps track of INSERT statements and of the SELECTs that return rows.
    const char *followStatement(qsizetype i)
    {
        const Token &t = m_tk[i];
        if (t.punct(u';')) {
            m_inInsert = false;
        } else if (t.is("insert")) {
            m_inInsert = true;
            m_valuesSeen = false;
        } else if (t.is("values") || t.is("default")) {
            m_valuesSeen = true;
        } else if (t.is("select")) {
            return noteSelect(i);
        } else if (m_inInsert && m_valuesSeen && startsStatement(t)) {
            m_inInsert = false;
        }
        return nullptr;
    }

    const char *noteSelect(qsizetype i)
    {
        const bool continues = i > 0 && (m_tk[i - 1].is("union") || m_tk[i - 1].is("all")
                                         || m_tk[i - 1].is("except") || m_tk[i - 1].is("intersect"));
        if (continues)
            return nullptr; // part of the statement before; refused when parsed
        if (m_inInsert && !m_valuesSeen) {
            m_inInsert = false; // INSERT ... SELECT returns no rows
            return nullptr;
        }
        m_inInsert = false;
        if (!selectReturnsRows(m_tk, i))
            return nullptr;
        if (m_found >= 0)
            return kSeveralReason;
        m_found = i;
        return nullptr;
    }

    const QVector<Token> &m_tk;
    qsizetype m_found = -1;
    int m_depth = 0, m_caseDepth = 0;
    bool m_inInsert = false, m_valuesSeen = false;
};

// Where the one row-returning statement of the batch starts: the index of
// its SELECT, or -1 with `reason` set.
qsizetype locateRowSelect(const QVector<Token> &tk, const char **reason)
{
    return RowSelectScan(tk).locate(reason);
}

// One item of a select list.
struct SelectItem {
    bool star = false;
    QString qualifier; // "t" of "t.*"
    QString base, name;
    QStringList chain; // the qualifiers before the column
};

// The select list from `i` up to FROM, split at top-level commas; `i` ends on FROM.
std::optional<QVector<QVector<Token>>> selectList(const QVector<Token> &tk, qsizetype &i)
{
    const qsizetype n = tk.size();
    QVector<QVector<Token>> items(1);
    int depth = 0;
    for (; i < n; ++i) {
        const Token &t = tk[i];
        if (depth == 0 && t.is("from"))
            return items;
        if (depth == 0 && (t.punct(u';') || t.is("into") || t.is("union")))
            return std::nullopt;
        if (t.punct(u'('))
            ++depth;
        else if (t.punct(u')'))
            --depth;
        if (depth == 0 && t.punct(u',')) {
            items.push_back({});
            continue;
        }
        items.last().push_back(t);
    }
    return std::nullopt;
}

// "col", "q.col", "col AS x", "x = col", "*", "q.*"; nullopt for anything else.
std::optional<SelectItem> parseItem(const QVector<Token> &it)
{
    SelectItem m;
    const qsizetype k = it.size();
    if (k == 1 && it[0].punct(u'*')) {
        m.star = true;
        return m;
    }
    if (k == 3 && isIdent(it[0]) && it[1].punct(u'.') && it[2].punct(u'*')) {
        m.star = true;
        m.qualifier = it[0].text;
        return m;
    }
    qsizetype p = 0;
    QString aliasName;
    if (k >= 3 && isIdent(it[0]) && it[1].punct(u'=')) {
        aliasName = it[0].text;
        p = 2;
    }
    QStringList chain;
    if (p < k && isIdent(it[p]) && !(it[p].kind == Token::Word && (it[p].is("null") || it[p].is("case"))))
        chain << it[p++].text;
    else
        return std::nullopt;
    while (p + 1 < k && it[p].punct(u'.') && isIdent(it[p + 1])) {
        chain << it[p + 1].text;
        p += 2;
    }
    if (aliasName.isEmpty()) {
        if (p < k && it[p].is("as"))
            ++p;
        if (p < k && (isIdent(it[p]) || it[p].kind == Token::String))
            aliasName = it[p++].text;
    }
    if (p != k || chain.size() > 4)
        return std::nullopt;
    m.base = chain.takeLast();
    m.chain = chain;
    m.name = aliasName.isEmpty() ? m.base : aliasName;
    return m;
}

// "FROM [db.][schema.]table [[AS] alias] [WITH (hints)]" from `i` (just past
// FROM), then nothing but WHERE / ORDER BY / OPTION up to the statement's end.
bool parseFrom(const QVector<Token> &tk, qsizetype i, QStringList *parts, QString *alias)
{
    const qsizetype n = tk.size();
    if (i >= n || !isIdent(tk[i]))
        return false;
    *parts << tk[i++].text;
    while (i < n && tk[i].punct(u'.')) {
        ++i;
        if (i < n && isIdent(tk[i]))
            *parts << tk[i++].text;
        else if (i < n && tk[i].punct(u'.'))
            *parts << QString(); // db..table
        else
            return false;
    }
    if (parts->size() > 3 || parts->last().isEmpty())
        return false;
    if (i < n && tk[i].is("as"))
        ++i;
    if (i < n && isIdent(tk[i]) && !(tk[i].kind == Token::Word && reservedAfterTable(tk[i])))
        *alias = tk[i++].text;
    if (i < n && tk[i].is("with") && i + 1 < n && tk[i + 1].punct(u'('))
        i = pastParenthesis(tk, i);
    if (i < n && !tk[i].punct(u';') && !tk[i].is("where") && !tk[i].is("order") && !tk[i].is("option")
        && !(tk[i].kind == Token::Word && startsStatement(tk[i])))
        return false;
    if (i < n && (tk[i].is("where") || tk[i].is("order") || tk[i].is("option"))) {
        int depth = 0;
        for (++i; i < n; ++i) {
            const Token &t = tk[i];
            if (t.punct(u'('))
                ++depth;
            else if (t.punct(u')'))
                --depth;
            else if (depth == 0) {
                if (t.punct(u';'))
                    break;
                if (t.is("union") || t.is("intersect") || t.is("except") || t.is("group") || t.is("having")
                    || t.is("for") || t.is("compute") || t.is("into"))
                    return false;
                if (t.kind == Token::Word && startsStatement(t) && !t.is("set"))
                    break;
            }
        }
    }
    return true;
}

// The base column of every result column; refuses a star beside columns of
// the same name, qualifiers of other tables and columns shown twice.
bool mapColumns(const QVector<SelectItem> &items, const QStringList &resultColumns,
                const std::function<bool(const QString &)> &qualifierOk, QStringList *base, QString *reason)
{
    int stars = 0;
    for (const SelectItem &m : items) {
        if ((m.star && !m.qualifier.isEmpty() && !qualifierOk(m.qualifier))
            || (!m.star && !m.chain.isEmpty() && !qualifierOk(m.chain.last()))) {
            *reason = QString::fromUtf8(kJoinReason);
            return false;
        }
        stars += m.star ? 1 : 0;
    }
    const int explicitCount = int(items.size()) - stars;
    const QString mismatch = QStringLiteral("结果列与语句不符,结果只读");
    if (stars > 1 || (stars == 0 && explicitCount != resultColumns.size())
        || (stars == 1 && explicitCount > resultColumns.size())) {
        *reason = mismatch;
        return false;
    }
    int col = 0;
    const int starWidth = int(resultColumns.size()) - explicitCount;
    for (const SelectItem &m : items) {
        if (m.star) {
            for (int s = 0; s < starWidth; ++s, ++col)
                *base << resultColumns[col];
        } else {
            if (resultColumns[col].compare(m.name, Qt::CaseInsensitive) != 0) {
                *reason = mismatch;
                return false;
            }
            *base << m.base;
            ++col;
        }
    }
    QSet<QString> seen;
    for (const QString &b : std::as_const(*base)) {
        if (seen.contains(b.toLower())) {
            *reason = QStringLiteral("结果中同一列出现了两次,结果只读");
            return false;
        }
        seen.insert(b.toLower());
    }
    return true;
}

} // namespace

QString quoteName(const QString &name)
{
    QString q = name;
    q.replace(QStringLiteral("]"), QStringLiteral("]]"));
    return u'[' + q + u']';
}

QString qualifiedName(const QString &database, const QString &schema, const QString &table)
{
    QString out;
    if (!database.isEmpty())
        out = quoteName(database) + u'.' + (schema.isEmpty() ? QString() : quoteName(schema)) + u'.';
    else if (!schema.isEmpty())
        out = quoteName(schema) + u'.';
    return out + quoteName(table);
}

SelectSource analyzeSelect(const QString &sql, const QStringList &resultColumns)
{
    const QVector<Token> tk = tokenize(sql);
    const qsizetype n = tk.size();
    const char *why = nullptr;
    const qsizetype sel = locateRowSelect(tk, &why);
    if (sel < 0)
        return refuse(why);

    qsizetype i = sel + 1;
    if (i < n && tk[i].is("all"))
        ++i;
    if (i < n && tk[i].is("distinct"))
        return refuse(kJoinReason);
    if (i < n && tk[i].is("top")) {
        ++i;
        i = i < n && tk[i].punct(u'(') ? pastParenthesis(tk, i) : i + 1;
        if (i < n && tk[i].is("percent"))
            ++i;
        if (i + 1 < n && tk[i].is("with") && tk[i + 1].is("ties"))
            i += 2;
    }
    const auto list = selectList(tk, i);
    if (!list)
        return refuse(i >= n ? "结果不是从表中读取的,结果只读" : kJoinReason);
    QStringList parts;
    QString alias;
    if (!parseFrom(tk, i + 1, &parts, &alias))
        return refuse(i + 1 < n && tk[i + 1].kind == Token::Variable ? "结果来自表变量,结果只读" : kJoinReason);

    SelectSource src;
    src.table = parts.last();
    if (parts.size() >= 2)
        src.schema = parts[parts.size() - 2];
    if (parts.size() == 3)
        src.database = parts[0];

    QVector<SelectItem> items;
    for (const QVector<Token> &it : *list) {
        const auto m = parseItem(it);
        if (!m)
            return refuse(kJoinReason);
        items << *m;
    }
    // A qualifier in the select list must name this table (or its alias).
    auto qualifierOk = [&](const QString &q) {
        return q.compare(alias.isEmpty() ? src.table : alias, Qt::CaseInsensitive) == 0;
    };
    if (!mapColumns(items, resultColumns, qualifierOk, &src.baseColumns, &src.reason))
        return src;
    src.ok = true;
    return src;
}

bool batchChangesData(const QString &sql)
{
    static const char *const kws[] = {"insert", "update", "delete", "merge", "exec", "execute",
                                      "create", "drop", "alter", "truncate", "into", "backup",
                                      "restore", "dbcc", "grant", "revoke", "deny", "bulk",
                                      "dump", "load", "writetext", "updatetext", "kill", "shutdown",
                                      "reconfigure", "sp_executesql"};
    const QVector<Token> tk = tokenize(sql);
    for (const Token &t : tk)
        for (const char *k : kws)
            if (t.is(k))
                return true;
    // A bare procedure name as the first word runs that procedure.
    return !tk.isEmpty() && tk[0].kind == Token::Word && !startsStatement(tk[0]) && !tk[0].is("declare");
}

bool comparableColumn(const ColumnInfo &c)
{
    const QString t = c.typeName.toLower();
    return t != QLatin1String("text") && t != QLatin1String("ntext") && t != QLatin1String("image")
           && t != QLatin1String("xml");
}

QString editorText(const QString &original, const QString &raw)
{
    QStringList breaks;
    for (qsizetype i = 0; i < original.size(); ++i) {
        const QChar c = original[i];
        if (c == u'\r' && i + 1 < original.size() && original[i + 1] == u'\n') {
            breaks << QStringLiteral("\r\n");
            ++i;
        } else if (c == u'\r' || c == u'\n' || c == QChar::ParagraphSeparator) {
            breaks << QString(c);
        }
    }
    const qsizetype count = raw.count(QChar::ParagraphSeparator);
    QString kind = QStringLiteral("\r\n");
    if (!breaks.isEmpty() && breaks.count(breaks.first()) == breaks.size())
        kind = breaks.first();
    QString out;
    out.reserve(raw.size() + count);
    qsizetype k = 0;
    for (const QChar c : raw) {
        if (c != QChar::ParagraphSeparator)
            out += c;
        else
            out += count == breaks.size() ? breaks[k++] : kind;
    }
    return out;
}

QVariant parameterValue(const QVariant &v, ValueKind kind)
{
    if (!v.isValid() || v.isNull())
        return {};
    switch (kind) {
    case ValueKind::Integer:
        return v.toLongLong();
    case ValueKind::Boolean:
        return v.toBool();
    case ValueKind::Double:
        return v.toDouble();
    case ValueKind::Decimal:
    case ValueKind::Text:
        return v.toString();
    case ValueKind::Binary:
        return v.toByteArray();
    case ValueKind::Date:
        return v.toDate();
    case ValueKind::Time:
        return v.toTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    case ValueKind::DateTime:
        return v.toDateTime();
    }
    return v;
}

// ---- catalogue ----

namespace {

// "[db]." before a catalogue view when the statement named a database.
QString catalogPrefix(const QString &database)
{
    return database.isEmpty() ? QString() : quoteName(database) + u'.';
}

Statement withParams(const QString &text, const QVector<QVariant> &params)
{
    Statement st;
    st.text = text;
    st.params = params;
    st.markerCount = int(params.size());
    return st;
}

} // namespace

Statement buildObjectLookup(const SelectSource &src)
{
    const QString cat = catalogPrefix(src.database);
    // The name as written: OBJECT_ID resolves it the way the server resolved
    // the SELECT (the login's default schema first, then dbo).
    return withParams(QStringLiteral("SELECT DB_NAME(), o.object_id, s.name, o.name, o.type FROM ") + cat
                          + QStringLiteral("sys.objects o JOIN ") + cat
                          + QStringLiteral("sys.schemas s ON s.schema_id = o.schema_id WHERE o.object_id = OBJECT_ID(?)"),
                      {qualifiedName(src.database, src.schema, src.table)});
}

// The type named is the system type: an alias type's base type. The CLR
// types (hierarchyid, geography, geometry, user CLR types) share the system
// type 240, which names no type: those are named by their own type.
Statement buildColumnLookup(const QString &database, qint64 objectId)
{
    const QString cat = catalogPrefix(database);
    return withParams(QStringLiteral("SELECT c.name, c.is_identity, c.is_computed, COALESCE(t.name, u.name), "
                                     "c.max_length, c.precision, c.scale FROM ")
                          + cat + QStringLiteral("sys.columns c LEFT JOIN ") + cat
                          + QStringLiteral("sys.types t ON t.user_type_id = c.system_type_id LEFT JOIN ") + cat
                          + QStringLiteral("sys.types u ON u.user_type_id = c.user_type_id WHERE c.object_id = ? "
                                           "ORDER BY c.column_id"),
                      {objectId});
}

Statement buildKeyLookup(const QString &database, qint64 objectId)
{
    const QString cat = catalogPrefix(database);
    return withParams(QStringLiteral("SELECT i.index_id, i.is_primary_key, c.name FROM ") + cat
                          + QStringLiteral("sys.indexes i JOIN ") + cat
                          + QStringLiteral("sys.index_columns ic ON ic.object_id = i.object_id AND ic.index_id = "
                                           "i.index_id JOIN ")
                          + cat
                          + QStringLiteral("sys.columns c ON c.object_id = ic.object_id AND c.column_id = ic.column_id "
                                           "WHERE i.object_id = ? AND i.is_unique = 1 AND i.has_filter = 0 AND "
                                           "ic.is_included_column = 0 ORDER BY i.is_primary_key DESC, i.index_id, "
                                           "ic.key_ordinal"),
                      {objectId});
}

Statement buildTriggerLookup(const QString &database, qint64 objectId)
{
    return withParams(QStringLiteral("SELECT COUNT(*) FROM ") + catalogPrefix(database)
                          + QStringLiteral("sys.triggers WHERE parent_id = ? AND is_disabled = 0"),
                      {objectId});
}

QString comparisonType(const TableColumn &c)
{
    const QString t = c.type.toLower();
    auto len = [&](int bytesPerChar) {
        return c.maxLength < 0 ? QStringLiteral("max") : QString::number(qMax(1, c.maxLength / bytesPerChar));
    };
    if (t == QLatin1String("nvarchar") || t == QLatin1String("nchar"))
        return t + u'(' + len(2) + u')';
    if (t == QLatin1String("varchar") || t == QLatin1String("char") || t == QLatin1String("varbinary")
        || t == QLatin1String("binary"))
        return t + u'(' + len(1) + u')';
    if (t == QLatin1String("decimal") || t == QLatin1String("numeric"))
        return t + QStringLiteral("(%1,%2)").arg(c.precision).arg(c.scale);
    if (t == QLatin1String("datetime2") || t == QLatin1String("time") || t == QLatin1String("datetimeoffset"))
        return t + QStringLiteral("(%1)").arg(c.scale);
    if (t == QLatin1String("timestamp") || t == QLatin1String("rowversion"))
        return QStringLiteral("binary(8)");
    static const char *const plain[] = {"bigint", "int", "smallint", "tinyint", "bit", "float", "real",
                                        "money", "smallmoney", "date", "datetime", "smalldatetime",
                                        "uniqueidentifier"};
    for (const char *p : plain)
        if (t == QLatin1String(p))
            return t;
    return {}; // text, ntext, image, xml, sql_variant, spatial and CLR types
}

std::optional<WriteTarget> makeWriteTarget(const SelectSource &src, const TableCatalog &cat,
                                           const QVector<ColumnInfo> &resultColumns, QString *error)
{
    auto refuseWith = [&](const QString &why) -> std::optional<WriteTarget> {
        *error = why;
        return std::nullopt;
    };
    const QString shown = qualifiedName(cat.database, cat.schema, cat.name);
    if (cat.type.trimmed().compare(QLatin1String("V"), Qt::CaseInsensitive) == 0)
        return refuseWith(QStringLiteral("结果来自视图 %1,视图的修改会落到哪些表由视图和它的触发器决定,结果只读")
                              .arg(shown));
    if (cat.type.trimmed().compare(QLatin1String("U"), Qt::CaseInsensitive) != 0)
        return refuseWith(QStringLiteral("结果不是从用户表读取的(%1),结果只读").arg(shown));

    WriteTarget t;
    t.table = shown;
    t.info = resultColumns;
    t.hasTriggers = cat.hasTriggers;
    for (int c = 0; c < src.baseColumns.size(); ++c) {
        const QString &b = src.baseColumns[c];
        const auto it = std::find_if(cat.columns.cbegin(), cat.columns.cend(), [&](const TableColumn &tc) {
            return tc.name.compare(b, Qt::CaseInsensitive) == 0;
        });
        if (it == cat.columns.cend())
            return refuseWith(QStringLiteral("表 %1 中没有列 %2,结果只读").arg(shown, b));
        t.columns << it->name;
        const QString type = it->type.toLower();
        const bool rowVersion = type == QLatin1String("timestamp") || type == QLatin1String("rowversion");
        t.compareTypes << comparisonType(*it);
        t.generated << (it->identity || it->computed || rowVersion);
        if (it->identity && t.identityColumn < 0)
            t.identityColumn = c;
        if (rowVersion)
            t.rowVersionColumn = c;
    }
    // The primary key, else a unique index, whose columns are all shown.
    for (const QStringList &key : cat.uniqueKeys) {
        QVector<int> cols;
        for (const QString &k : key) {
            int found = -1;
            for (int c = 0; c < t.columns.size() && found < 0; ++c)
                if (t.columns[c].compare(k, Qt::CaseInsensitive) == 0)
                    found = c;
            if (found < 0) {
                cols.clear();
                break;
            }
            cols << found;
        }
        if (!cols.isEmpty()) {
            t.keyColumns = cols;
            break;
        }
    }
    if (t.keyColumns.isEmpty() && std::none_of(t.compareTypes.cbegin(), t.compareTypes.cend(),
                                               [](const QString &s) { return !s.isEmpty(); }))
        return refuseWith(QStringLiteral("此结果没有可以确定行的列,结果只读"));
    return t;
}

// ---- writes ----

namespace {

bool isNullValue(const QVariant &v) { return !v.isValid() || v.isNull(); }

// "NULL" for NULL; otherwise a "?" marker, the value bound as st's next parameter.
QString bindValue(Statement &st, const QVariant &v, ValueKind kind)
{
    if (isNullValue(v))
        return QStringLiteral("NULL");
    st.params << parameterValue(v, kind);
    ++st.markerCount;
    return QStringLiteral("?");
}

// "[c] IS NULL" for NULL, "[c] = CAST(? AS type)" with the value bound otherwise:
// cast to the column's own type, the comparison is exact whatever type the
// client binds the value as.
QString equalsCondition(Statement &st, const WriteTarget &t, int c, const QVariant &v)
{
    const QString name = quoteName(t.columns[c]);
    if (isNullValue(v))
        return name + QStringLiteral(" IS NULL");
    const QString marker = bindValue(st, v, t.info[c].kind);
    const QString type = c < t.compareTypes.size() ? t.compareTypes[c] : QString();
    return name + QStringLiteral(" = ") + (type.isEmpty() ? marker : QStringLiteral("CAST(%1 AS %2)").arg(marker, type));
}

bool compared(const WriteTarget &t, int c)
{
    if (c < t.compareTypes.size())
        return !t.compareTypes[c].isEmpty();
    return comparableColumn(t.info[c]);
}

// The WHERE that finds the row as it was read: its key and rowversion where
// the result shows one, else its key plus every comparable column.
QString rowCondition(const WriteTarget &t, const QVector<QVariant> &original, Statement &st)
{
    QVector<int> cols;
    if (t.rowVersionColumn >= 0) {
        cols = t.keyColumns;
        cols << t.rowVersionColumn;
    } else {
        cols = t.keyColumns;
        for (int c = 0; c < t.columns.size(); ++c)
            if (compared(t, c) && !cols.contains(c))
                cols << c;
    }
    QStringList conds;
    for (int c : std::as_const(cols))
        conds << equalsCondition(st, t, c, original[c]);
    return conds.join(QStringLiteral(" AND "));
}

QString columnList(const WriteTarget &t, const QString &prefix, const QVector<int> &cols = {})
{
    QStringList out;
    for (int c = 0; c < t.columns.size(); ++c)
        if (cols.isEmpty() || cols.contains(c))
            out << prefix + quoteName(t.columns[c]);
    return out.join(QStringLiteral(", "));
}

// The type a column's values are kept in inside a table variable: the
// column's own where it is known, (max) types for the old long ones.
QString storageType(const WriteTarget &t, int c)
{
    if (c < t.compareTypes.size() && !t.compareTypes[c].isEmpty())
        return t.compareTypes[c];
    const QString name = t.info[c].typeName.toLower();
    if (name == QLatin1String("text"))
        return QStringLiteral("varchar(max)");
    if (name == QLatin1String("ntext"))
        return QStringLiteral("nvarchar(max)");
    if (name == QLatin1String("image"))
        return QStringLiteral("varbinary(max)");
    return name.isEmpty() ? QStringLiteral("sql_variant") : name;
}

// Reads the row back by its key after a write to a table with triggers.
// `keyValues` per key column; an identity key not known yet is SCOPE_IDENTITY(),
// one the server made up otherwise (a newid() default) was captured by
// OUTPUT … INTO @dv_k: the statement's would-be row, which an INSTEAD OF
// trigger may have dropped, so the table itself is read.
QString rereadByKey(const WriteTarget &t, const QMap<int, QVariant> &keyValues, Statement &st,
                    const QVector<int> &captured = {})
{
    if (!t.hasTriggers || t.keyColumns.isEmpty())
        return {};
    QStringList conds;
    for (int c : t.keyColumns) {
        if (c == t.identityColumn && !keyValues.contains(c)) {
            conds << quoteName(t.columns[c]) + QStringLiteral(" = SCOPE_IDENTITY()");
            continue;
        }
        if (captured.contains(c)) {
            conds << quoteName(t.columns[c]) + QStringLiteral(" = (SELECT ") + quoteName(t.columns[c])
                         + QStringLiteral(" FROM @dv_k)");
            continue;
        }
        if (!keyValues.contains(c))
            return {}; // a key the server made up: nothing to find the row by
        conds << equalsCondition(st, t, c, keyValues.value(c));
    }
    return QStringLiteral("\r\nIF @dv_n = 1 SELECT ") + columnList(t, QString()) + QStringLiteral(" FROM ") + t.table
           + QStringLiteral(" WHERE ") + conds.join(QStringLiteral(" AND "));
}

// A write statement in pieces: the OUTPUT clause goes between `head` and
// `tail` ("UPDATE … SET …" | " WHERE …"), so each form of the batch can put
// its own there.
struct WriteParts {
    Statement st; // the parameters; text unused
    QString head, tail;
    const char *pseudo = "INSERTED"; // the pseudo-table OUTPUT reads
    QVector<int> outputColumns;      // empty: all of the result's columns
};

// The batch of a table without triggers. The statement's OUTPUT rows are
// its own count: they come back to the tool, which counts them. A write
// without a key keeps them in a table variable instead and counts them in
// the batch, which undoes anything but one row under its savepoint and
// reports the count as "dv_n", then the row. @@ROWCOUNT never enters (one
// SQL Server-compatible server leaves it at 0 after a statement with OUTPUT).
Statement outputWrite(const WriteTarget &t, WriteParts w)
{
    const QString pseudo = QString::fromLatin1(w.pseudo) + u'.';
    if (!writeNeedsGuard(t)) {
        w.st.text = w.head + QStringLiteral(" OUTPUT ") + columnList(t, pseudo, w.outputColumns) + w.tail;
        return w.st;
    }
    QStringList decl;
    for (int c = 0; c < t.columns.size(); ++c)
        if (w.outputColumns.isEmpty() || w.outputColumns.contains(c))
            decl << quoteName(t.columns[c]) + u' ' + storageType(t, c) + QStringLiteral(" NULL");
    const QString names = columnList(t, QString(), w.outputColumns);
    w.st.text = QStringLiteral("DECLARE @dv_n int\r\nDECLARE @dv_o TABLE (") + decl.join(QStringLiteral(", "))
                + QStringLiteral(")\r\nBEGIN TRAN\r\nSAVE TRAN dv_row\r\n") + w.head + QStringLiteral(" OUTPUT ")
                + columnList(t, pseudo, w.outputColumns) + QStringLiteral(" INTO @dv_o (") + names + u')' + w.tail
                + QStringLiteral("\r\nSET @dv_n = (SELECT COUNT(*) FROM @dv_o)\r\n"
                                 "IF @dv_n <> 1 ROLLBACK TRAN dv_row\r\nCOMMIT TRAN\r\n"
                                 "SELECT @dv_n AS dv_n\r\nIF @dv_n = 1 SELECT ")
                + names + QStringLiteral(" FROM @dv_o");
    return w.st;
}

// The batch of a table with triggers, which refuses a bare OUTPUT: the
// statement's own row count taken right after it (triggers' counts never
// enter) as the result "dv_n", under a savepoint when it has no key to make
// sure of a single row, then `reread`. `countFrom` names a table variable
// the statement's OUTPUT … INTO filled: its rows are the count, since
// @@ROWCOUNT may say 0 after OUTPUT (one server leaves it so), and OUTPUT
// … INTO holds the statement's rows even under an INSTEAD OF trigger.
Statement countedWrite(const WriteTarget &t, Statement st, const QString &reread, const QString &countFrom = {})
{
    const bool guard = writeNeedsGuard(t);
    QString text = QStringLiteral("DECLARE @dv_n int\r\n");
    if (guard)
        text += QStringLiteral("BEGIN TRAN\r\nSAVE TRAN dv_row\r\n");
    text += st.text
            + (countFrom.isEmpty() ? QStringLiteral("\r\nSET @dv_n = @@ROWCOUNT\r\n")
                                   : QStringLiteral("\r\nSET @dv_n = (SELECT COUNT(*) FROM %1)\r\n").arg(countFrom));
    if (guard)
        text += QStringLiteral("IF @dv_n <> 1 ROLLBACK TRAN dv_row\r\nCOMMIT TRAN\r\n");
    text += QStringLiteral("SELECT @dv_n AS dv_n");
    st.text = text + reread;
    return st;
}

// The counted write followed by the re-read of the written row by its key.
Statement countedWriteWithReread(const WriteTarget &t, const Statement &st, const QMap<int, QVariant> &key,
                                 const QVector<int> &captured = {})
{
    Statement reread;
    const QString rr = rereadByKey(t, key, reread, captured);
    Statement out = countedWrite(t, st, rr, captured.isEmpty() ? QString() : QStringLiteral("@dv_k"));
    out.params += reread.params;
    out.markerCount += reread.markerCount;
    return out;
}

} // namespace

bool writeNeedsGuard(const WriteTarget &t) { return t.keyColumns.isEmpty(); }

Statement buildUpdate(const WriteTarget &t, const QVector<QVariant> &original, const QMap<int, QVariant> &changes)
{
    WriteParts w;
    QStringList sets;
    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it)
        sets << quoteName(t.columns[it.key()]) + QStringLiteral(" = ")
                    + bindValue(w.st, it.value(), t.info[it.key()].kind);
    w.head = QStringLiteral("UPDATE ") + t.table + QStringLiteral(" SET ") + sets.join(QStringLiteral(", "));
    w.tail = QStringLiteral(" WHERE ") + rowCondition(t, original, w.st);
    if (!t.hasTriggers)
        return outputWrite(t, w);
    w.st.text = w.head + w.tail;
    QMap<int, QVariant> key;
    for (int c : t.keyColumns)
        key.insert(c, changes.contains(c) ? changes.value(c) : original[c]);
    return countedWriteWithReread(t, w.st, key);
}

Statement buildDelete(const WriteTarget &t, const QVector<QVariant> &original)
{
    WriteParts w;
    w.head = QStringLiteral("DELETE FROM ") + t.table;
    w.tail = QStringLiteral(" WHERE ") + rowCondition(t, original, w.st);
    if (t.hasTriggers) {
        w.st.text = w.head + w.tail;
        return countedWrite(t, w.st, QString());
    }
    // Only what tells the row: the key, else the columns compared.
    w.pseudo = "DELETED";
    w.outputColumns = t.keyColumns;
    if (w.outputColumns.isEmpty()) {
        for (int c = 0; c < t.columns.size(); ++c)
            if (compared(t, c))
                w.outputColumns << c;
    }
    return outputWrite(t, w);
}

Statement buildInsert(const WriteTarget &t, const QMap<int, QVariant> &values)
{
    WriteParts w;
    QStringList cols, vals;
    QMap<int, QVariant> key;
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        if (it.key() < t.generated.size() && t.generated[it.key()])
            continue;
        cols << quoteName(t.columns[it.key()]);
        vals << bindValue(w.st, it.value(), t.info[it.key()].kind);
        if (t.keyColumns.contains(it.key()))
            key.insert(it.key(), it.value());
    }
    w.head = QStringLiteral("INSERT INTO ") + t.table;
    if (cols.isEmpty()) {
        w.tail = QStringLiteral(" DEFAULT VALUES");
    } else {
        w.head += QStringLiteral(" (") + cols.join(QStringLiteral(", ")) + u')';
        w.tail = QStringLiteral(" VALUES (") + vals.join(QStringLiteral(", ")) + u')';
    }
    if (!t.hasTriggers)
        return outputWrite(t, w);
    // A table with triggers refuses a bare OUTPUT; key values the server
    // makes up there (not an identity) are captured into a table variable so
    // the row can be read back by them.
    QVector<int> captured;
    QStringList capturedDecl, capturedOut;
    for (int c : t.keyColumns) {
        if (c == t.identityColumn || key.contains(c) || c >= t.compareTypes.size() || t.compareTypes[c].isEmpty())
            continue;
        captured << c;
        capturedDecl << quoteName(t.columns[c]) + u' ' + t.compareTypes[c];
        capturedOut << QStringLiteral("INSERTED.") + quoteName(t.columns[c]);
    }
    if (captured.isEmpty()) {
        w.st.text = w.head + w.tail;
    } else {
        w.st.text = QStringLiteral("DECLARE @dv_k TABLE (") + capturedDecl.join(QStringLiteral(", "))
                    + QStringLiteral(")\r\n") + w.head + QStringLiteral(" OUTPUT ")
                    + capturedOut.join(QStringLiteral(", ")) + QStringLiteral(" INTO @dv_k") + w.tail;
    }
    return countedWriteWithReread(t, w.st, key, captured);
}

Statement buildRowReread(const WriteTarget &t, const QVector<QVariant> &original)
{
    Statement st;
    QStringList conds;
    for (int c : t.keyColumns)
        conds << equalsCondition(st, t, c, original[c]);
    st.text = QStringLiteral("SELECT ") + columnList(t, QString()) + QStringLiteral(" FROM ") + t.table
              + QStringLiteral(" WHERE ") + conds.join(QStringLiteral(" AND "));
    return st;
}

Statement buildWriteCleanup(int trancount)
{
    return withParams(QStringLiteral("IF @@TRANCOUNT > ? BEGIN ROLLBACK TRAN dv_row COMMIT TRAN END"),
                      {qlonglong(trancount)});
}

WriteOutcome readWriteOutcome(const QVector<std::shared_ptr<ResultSet>> &results, int columnCount)
{
    WriteOutcome out;
    auto rowAt = [&](int i) {
        QVector<QVariant> row;
        for (int c = 0; c < columnCount; ++c)
            row << (results[i]->isNull(0, c) ? QVariant() : results[i]->value(0, c));
        return row;
    };
    int countAt = -1;
    for (int i = 0; i < results.size() && countAt < 0; ++i) {
        const auto &r = results[i];
        if (r && r->columnCount() == 1 && r->columns()[0].name == QLatin1String("dv_n") && r->rowCount() == 1) {
            countAt = i;
            out.count = r->isNull(0, 0) ? -1 : r->value(0, 0).toLongLong();
        }
    }
    if (countAt < 0) {
        // No count from the server: the write's OUTPUT rows, its first
        // result, are the count.
        if (results.isEmpty() || !results[0])
            return out;
        out.count = results[0]->rowCount();
        if (out.count == 1 && results[0]->columnCount() == columnCount)
            out.row = rowAt(0);
        return out;
    }
    // After the count, the row: read back by key, or from the OUTPUT rows kept.
    const int i = countAt + 1;
    if (i < results.size() && results[i] && results[i]->columnCount() == columnCount) {
        if (results[i]->rowCount() == 0)
            out.rowMissing = true;
        else if (results[i]->rowCount() == 1)
            out.row = rowAt(i);
    }
    return out;
}

} // namespace dv
