// MERGE: parsed and translated into the pieces the engine runs one after
// another (enginemerge.cpp), since SQLite has no MERGE of its own.
#include "tsql/sqltranslate.h"

namespace ts {

namespace {

const char *const kPair = "\"__dv_p\""; // alias of temp."__dv_mpair" in OUTPUT

} // namespace

// MERGE ... ; in syntax-check mode: the terminating semicolon is required (10713).
void Translator::parseMerge(Stmt &s)
{
    TranslateContext *saved = ctx;
    ctx = nullptr;
    try {
        translateMerge(pos);
    } catch (...) {
        ctx = saved;
        throw;
    }
    ctx = saved;
    if (!tok(pos).isOp(";"))
        throw makeError(10713, 15, "A MERGE statement must be terminated by a semi-colon (;).", true);
    s.kind = Stmt::Merge;
}

MergePlan Translator::translateMerge(size_t &i)
{
    MergePlan p;
    Translation &tr = p.tr;
    tr.kind = Translation::Change;
    tr.verb = "MERGE";
    expectWord(i, "MERGE");
    if (tok(i).isWord("TOP")) {
        ++i;
        expectOp(i, "(");
        p.top = expr(i, tr);
        expectOp(i, ")");
    }
    if (tok(i).isWord("INTO")) ++i;
    std::string written, schema, plain;
    p.target = targetName(i, tr, &written, &schema, &plain);
    tr.table = written;
    tr.schema = schema;
    tr.targetInternal = plain;
    tr.writtenNames[lower(plain)] = written;
    std::optional<TableMeta> meta = writtenTable(schema, plain, written);
    std::string alias = written.substr(written.rfind('.') + 1);
    if (tok(i).isWord("AS")) { ++i; alias = name(i); }
    else if (isAliasToken(i) && !tok(i).isWord("USING")) alias = name(i);
    p.targetAlias = quoteIdent(alias);
    expectWord(i, "USING");
    TableMeta source = mergeSource(i, p);
    std::vector<ScopeTable> scope;
    if (meta) scope.push_back({alias, *meta});
    scope.push_back({source.name, source});
    ScopeGuard guard(m_scopes, std::move(scope));
    expectWord(i, "ON");
    p.on = expr(i, tr);
    if (!tok(i).isWord("WHEN")) throw syntaxError(tok(i));
    while (tok(i).isWord("WHEN")) mergeClause(i, p, meta);
    int updates = 0, deletes = 0;
    for (const auto &c : p.clauses) {
        if (c.when != MergePlan::Clause::Matched) continue;
        int &n = c.verb == "UPDATE" ? updates : deletes;
        if (++n > 1)
            throw makeError(10714, 15, "An action of type 'WHEN MATCHED' cannot appear more than once in a '" + c.verb
                            + "' clause of a MERGE statement.", true);
    }
    if (tok(i).isWord("OUTPUT")) mergeOutput(i, p, meta);
    if (tok(i).isWord("OPTION")) optionClause(i, tr);
    return p;
}

// USING table | view | @t | (SELECT ...) AS s [(cols)] | (VALUES ...) AS s (cols): the SELECT that
// gives its rows, and its columns as the conditions see them (types only for tables).
TableMeta Translator::mergeSource(size_t &i, MergePlan &p)
{
    TableMeta meta;
    Translation &tr = p.tr;
    if (tok(i).isOp("(")) {
        ++i;
        size_t valuesColumns = 0;
        const bool values = tok(i).isWord("VALUES");
        std::string body;
        if (values) {
            body = mergeValuesSource(i, tr, &valuesColumns);
        } else {
            if (!tok(i).isWord("SELECT")) throw syntaxError(tok(i));
            body = select(i, false, tr);
        }
        expectOp(i, ")");
        if (tok(i).isWord("AS")) ++i;
        meta.name = name(i);
        std::vector<std::string> cols;
        const bool renamed = tok(i).isOp("(");
        if (renamed) {
            ++i;
            cols.push_back(name(i));
            while (tok(i).isOp(",")) { ++i; cols.push_back(name(i)); }
            expectOp(i, ")");
        }
        if (values && cols.empty()) throw syntaxError(tok(i));
        if (values && cols.size() < valuesColumns)
            throw makeError(8158, 16, "'" + meta.name + "' has more columns than were specified in the column list.", true);
        if (values && cols.size() > valuesColumns)
            throw makeError(8159, 16, "'" + meta.name + "' has fewer columns than were specified in the column list.", true);
        if (!values && !cols.empty() && ctx && cols.size() != m_selectNames.size())
            throw makeError(cols.size() < m_selectNames.size() ? 8158 : 8159, 16, "'" + meta.name + "' has "
                            + (cols.size() < m_selectNames.size() ? "more" : "fewer")
                            + " columns than were specified in the column list.", true);
        if (cols.empty()) cols = m_selectNames;
        std::string list;
        for (const auto &c : cols) {
            list += (list.empty() ? "" : ", ") + quoteIdent(c);
            ColumnMeta m;
            m.name = c;
            meta.columns.push_back(m);
        }
        p.source = !renamed ? "SELECT * FROM (" + body + ")"
            : "WITH \"__dv_msrcq\"(" + list + ") AS (" + body + ") SELECT * FROM \"__dv_msrcq\"";
    } else {
        std::string written, schema, plain;
        std::string src = targetName(i, tr, &written, &schema, &plain);
        tr.writtenNames[lower(plain)] = written;
        meta.name = written.substr(written.rfind('.') + 1);
        if (ctx) {
            std::optional<TableMeta> known = ctx->table(schema, plain);
            if (!known) throw makeError(208, 16, "Invalid object name '" + written + "'.", true);
            meta.columns = known->columns;
        }
        if (tok(i).isWord("AS")) { ++i; meta.name = name(i); }
        else if (isAliasToken(i)) meta.name = name(i);
        p.source = "SELECT * FROM " + src;
    }
    p.sourceAlias = quoteIdent(meta.name);
    return meta;
}

// VALUES (row), ... of a MERGE source: SQLite's own VALUES, each row as wide as the first.
std::string Translator::mergeValuesSource(size_t &i, Translation &tr, size_t *columns)
{
    expectWord(i, "VALUES");
    std::string rows;
    for (;;) {
        expectOp(i, "(");
        size_t n = 1;
        std::string row = expr(i, tr);
        while (tok(i).isOp(",")) { ++i; row += ", " + expr(i, tr); ++n; }
        expectOp(i, ")");
        if (rows.empty()) *columns = n;
        else if (n != *columns)
            throw makeError(10709, 16, "The number of columns for each row in a table value constructor must be the same.", true);
        rows += (rows.empty() ? "VALUES (" : ", (") + row + ")";
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    return rows;
}

// WHEN [NOT] MATCHED [BY TARGET|SOURCE] [AND cond] THEN UPDATE SET ... | DELETE | INSERT ...
void Translator::mergeClause(size_t &i, MergePlan &p, const std::optional<TableMeta> &meta)
{
    expectWord(i, "WHEN");
    MergePlan::Clause c;
    if (tok(i).isWord("NOT")) {
        ++i;
        expectWord(i, "MATCHED");
        c.when = MergePlan::Clause::NotMatchedByTarget;
        if (tok(i).isWord("BY")) {
            ++i;
            if (tok(i).isWord("SOURCE")) c.when = MergePlan::Clause::NotMatchedBySource;
            else if (!tok(i).isWord("TARGET")) throw syntaxError(tok(i));
            ++i;
        }
    } else {
        expectWord(i, "MATCHED");
    }
    if (tok(i).isWord("AND")) { ++i; c.cond = expr(i, p.tr); }
    expectWord(i, "THEN");
    const bool byTarget = c.when == MergePlan::Clause::NotMatchedByTarget;
    const Token &action = tok(i);
    if (!byTarget && action.isWord("UPDATE")) {
        ++i;
        expectWord(i, "SET");
        c.verb = "UPDATE";
        c.set = setList(i, p.tr, meta);
    } else if (!byTarget && action.isWord("DELETE")) {
        ++i;
        c.verb = "DELETE";
    } else if (byTarget && action.isWord("INSERT")) {
        ++i;
        c.verb = "INSERT";
        mergeInsert(i, p, c, meta);
    } else {
        throw syntaxError(action);
    }
    for (const auto &other : p.clauses)
        if (byTarget && other.when == c.when)
            throw makeError(10714, 15, "An action of type 'WHEN NOT MATCHED' cannot appear more than once in a 'INSERT' "
                            "clause of a MERGE statement.", true);
    p.clauses.push_back(std::move(c));
}

// INSERT [(cols)] VALUES (exprs) | DEFAULT VALUES, with INSERT's checks of the columns and their count.
void Translator::mergeInsert(size_t &i, MergePlan &p, MergePlan::Clause &c, const std::optional<TableMeta> &meta)
{
    if (tok(i).isWord("DEFAULT")) {
        ++i;
        expectWord(i, "VALUES");
        return;
    }
    std::vector<std::string> cols;
    bool explicitCols = false;
    if (tok(i).isOp("(")) {
        ++i;
        explicitCols = true;
        cols.push_back(name(i));
        while (tok(i).isOp(",")) { ++i; cols.push_back(name(i)); }
        expectOp(i, ")");
    }
    if (meta) insertColumns(*meta, p.tr.targetInternal, explicitCols, cols);
    for (size_t k = 0; k < cols.size(); ++k) c.columns += (k ? ", " : "(") + quoteIdent(cols[k]);
    if (!cols.empty()) c.columns += ")";
    expectWord(i, "VALUES");
    expectOp(i, "(");
    size_t n = 1;
    c.values = expr(i, p.tr);
    while (tok(i).isOp(",")) { ++i; c.values += ", " + expr(i, p.tr); ++n; }
    expectOp(i, ")");
    if (!meta) return;
    if (explicitCols && n < cols.size())
        throw makeError(109, 15, "There are more columns in the INSERT statement than values specified in the VALUES clause. The number of values in the VALUES clause must match the number of columns specified in the INSERT statement.", true);
    if (explicitCols && n > cols.size())
        throw makeError(110, 15, "There are fewer columns in the INSERT statement than values specified in the VALUES clause. The number of values in the VALUES clause must match the number of columns specified in the INSERT statement.", true);
    if (!explicitCols && n != cols.size())
        throw makeError(213, 16, "Column name or number of supplied values does not match table definition.", true);
}

// OUTPUT $action, inserted.*, deleted.x, s.col, expr [AS name] ... [INTO ...]: a select list over
// the pair, the source, the rows as they are after ("inserted") and as they were ("deleted").
void Translator::mergeOutput(size_t &i, MergePlan &p, const std::optional<TableMeta> &meta)
{
    expectWord(i, "OUTPUT");
    Translation &tr = p.tr;
    tr.output = true;
    std::vector<ScopeTable> pseudo;
    if (meta) { pseudo.push_back({"inserted", *meta}); pseudo.push_back({"deleted", *meta}); }
    ScopeGuard guard(m_scopes, std::move(pseudo));
    auto add = [&](const std::string &sql, const std::string &colName, std::optional<ColumnMeta> m) {
        if (!p.output.empty()) p.output += ", ";
        p.output += sql + " AS " + quoteIdent(colName);
        tr.outputCols.push_back({colName, std::move(m)});
    };
    for (;;) {
        const Token &k = tok(i);
        const size_t a = i;
        std::string colName;
        std::optional<ColumnMeta> m;
        std::string e;
        if (k.isOp("$") && tok(i + 1).isWord("ACTION") && tok(i + 1).pos == k.pos + 1) {
            i += 2;
            e = std::string(kPair) + ".\"verb\"";
            colName = "$action";
            ColumnMeta action;
            action.name = colName;
            action.type = "nvarchar";
            action.length = 10;
            action.nullable = false;
            m = action;
        } else if (k.isName() && tok(i + 1).isOp(".") && tok(i + 2).isOp("*")) {
            const std::string q = lower(k.value);
            if (q != "inserted" && q != "deleted") throw syntaxError(k);
            i += 3;
            if (!meta) { add(quoteIdent(q) + ".*", "*", std::nullopt); }
            else for (const auto &c : meta->columns) add(quoteIdent(q) + "." + quoteIdent(c.name), c.name, c);
            if (!tok(i).isOp(",")) break;
            ++i;
            continue;
        } else {
            e = expr(i, tr);
            // Only inserted.c and deleted.c are the target's; a source column keeps its name.
            const std::string q = lower(t[a].value);
            outputColumn(a, i, meta && (q == "inserted" || q == "deleted") ? &*meta : nullptr, colName, m);
        }
        outputAlias(i, colName);
        add(e, colName, m);
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    if (tok(i).isWord("INTO")) outputInto(i, tr);
}

} // namespace ts
