// INSERT, UPDATE and DELETE with their OUTPUT clause.
#include "tsql/sqltranslate.h"

#include <optional>

namespace ts {

// OUTPUT INSERTED.*|INSERTED.col|expr [AS alias], ... becomes SQLite's
// RETURNING list; `deleted` for DELETE (old values), else INSERTED (new).
std::string Translator::outputClause(size_t &i, Translation &tr, const std::optional<TableMeta> &meta, bool deleted)
{
    expectWord(i, "OUTPUT");
    tr.output = true;
    std::string pseudo = deleted ? "deleted" : "inserted";
    if (tr.verb == "UPDATE") pseudo = "both";
    std::string s;
    auto add = [&](const std::string &sql, const std::string &colName, std::optional<ColumnMeta> m) {
        if (!s.empty()) s += ", ";
        s += sql + " AS " + quoteIdent(colName);
        tr.outputCols.push_back({colName, std::move(m)});
    };
    for (;;) {
        const Token &k = tok(i);
        if (k.isName() && tok(i + 1).isOp(".") && tok(i + 2).isOp("*")) {
            std::string p = lower(k.value);
            if (p != "inserted" && p != "deleted") throw syntaxError(k);
            if (p != pseudo && pseudo != "both")
                throw makeError(4104, 16, "The multi-part identifier \"" + k.value + ".*\" could not be bound.", true);
            i += 3;
            const bool old = pseudo == "both" && p == "deleted";
            if (old) tr.captureOld = true;
            auto column = [&](const std::string &c) {
                return old ? "(SELECT o." + quoteIdent(c) + " FROM \"__dv_old\" o WHERE o.\"__dv_rid\" = "
                        + quoteIdent(m_pseudoTarget) + ".rowid)"
                           : quoteIdent(c);
            };
            if (meta) for (const auto &c : meta->columns) add(column(c.name), c.name, c);
            else { if (!s.empty()) s += ", "; s += "*"; }
        } else {
            size_t a = i;
            m_pseudo = pseudo;
            std::string e;
            try { e = expr(i, tr); } catch (...) { m_pseudo.clear(); throw; }
            m_pseudo.clear();
            std::optional<ColumnMeta> m;
            std::string colName;
            outputColumn(a, i, meta ? &*meta : nullptr, colName, m);
            outputAlias(i, colName);
            add(e, colName, m);
        }
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    if (tok(i).isWord("INTO")) outputInto(i, tr);
    return " RETURNING " + s;
}

// A plain pseudo-table column (inserted.c, tokens a to i) of an OUTPUT list
// keeps its declared type and name from the target's meta (207 for a column
// the target lacks); without meta only its name.
void Translator::outputColumn(size_t a, size_t i, const TableMeta *meta, std::string &colName,
                              std::optional<ColumnMeta> &m)
{
    if (i != a + 3 || !t[a].isName() || !t[a + 1].isOp(".") || !t[a + 2].isName()) return;
    colName = t[a + 2].value;
    if (!meta) return;
    const ColumnMeta *c = meta->column(colName);
    if (!c) throw makeError(207, 16, "Invalid column name '" + colName + "'.", true);
    m = *c;
    colName = c->name;
}

// An OUTPUT column's alias (AS name, AS 'name' or a bare name other than INTO).
void Translator::outputAlias(size_t &i, std::string &colName)
{
    if (tok(i).isWord("AS")) { ++i; colName = tok(i).kind == Token::String ? tok(i++).value : name(i); }
    else if (isAliasToken(i) && !tok(i).isWord("INTO")) colName = name(i);
}

// OUTPUT ... INTO @t|table [(columns)]: where the rows go instead of to the client; 208, 207 and 213
// as SQL Server reports a missing table, an unknown column and a column count that differs.
void Translator::outputInto(size_t &i, Translation &tr)
{
    expectWord(i, "INTO");
    std::string written, schema, plain;
    const bool derived = tr.derived;
    tr.intoSql = targetName(i, tr, &written, &schema, &plain);
    tr.derived = derived;
    std::optional<TableMeta> into;
    if (ctx) {
        into = schema == "temp" ? ctx->table("temp", plain) : ctx->table(schema, plain);
        if (!into) throw makeError(208, 16, "Invalid object name '" + written + "'.", true);
    }
    if (tok(i).isOp("(")) {
        ++i;
        tr.intoCols.push_back(name(i));
        while (tok(i).isOp(",")) { ++i; tr.intoCols.push_back(name(i)); }
        expectOp(i, ")");
        if (into)
            for (const auto &c : tr.intoCols)
                if (!into->column(c)) throw makeError(207, 16, "Invalid column name '" + c + "'.", true);
    } else if (into) {
        for (const auto &c : into->columns)
            if (!c.identity && c.writable()) tr.intoCols.push_back(c.name);
    }
    if (ctx && tr.intoCols.size() != tr.outputCols.size())
        throw makeError(213, 16, "Column name or number of supplied values does not match table definition.", true);
}

// The table an INSERT, UPDATE or DELETE writes, as the catalogue knows it:
// 208 when it does not exist, 8180 for a view (writes through views are not
// emulated); none for the server's own catalogue or without a session.
std::optional<TableMeta> Translator::writtenTable(const std::string &schema, const std::string &plain,
                                                  const std::string &written)
{
    if (!ctx || schema == "dvcat") return std::nullopt;
    std::optional<TableMeta> meta = ctx->table(schema, plain);
    if (!meta) throw makeError(208, 16, "Invalid object name '" + written + "'.", true);
    if (meta->type == "V")
        throw makeError(8180, 16, "Statement(s) could not be prepared. This test server does not support writing through the view '"
                        + written + "'; write to its base table.", true);
    return meta;
}

// The columns an INSERT fills: those it lists, each of which must take a value (207, 544,
// 271, 273), or without a list every column that takes one.
void Translator::insertColumns(const TableMeta &meta, const std::string &plain, bool explicitCols,
                               std::vector<std::string> &cols)
{
    for (const auto &c : cols) {
        const ColumnMeta *m = meta.column(c);
        if (!m) throw makeError(207, 16, "Invalid column name '" + c + "'.", true);
        if (m->identity && !ctx->identityInsert(plain))
            throw makeError(544, 16, "Cannot insert explicit value for identity column in table '" + m_objName
                            + "' when IDENTITY_INSERT is set to OFF.");
        if (!m->computed.empty())
            throw makeError(271, 16, "The column \"" + m->name + "\" cannot be modified because it is either a computed column or is the result of a UNION operator.");
        if (m->type == "timestamp")
            throw makeError(273, 16, "Cannot insert an explicit value into a timestamp column. Use INSERT with a column list to "
                            "exclude the timestamp column, or insert a DEFAULT into the timestamp column.");
    }
    if (!explicitCols)
        for (const auto &c : meta.columns)
            if ((!c.identity || ctx->identityInsert(plain)) && c.writable()) cols.push_back(c.name);
}

// VALUES (row), ...: the rows, each counted against the columns (109, 110, 213) when the table is known.
std::string Translator::insertValues(size_t &i, Translation &tr, bool known, bool explicitCols,
                                     const std::vector<const ColumnMeta *> &targets)
{
    const size_t columns = targets.size();
    // A value for a sql_variant column keeps the type it is written with.
    auto value = [&](size_t k) {
        const size_t b = i;
        std::string v = expr(i, tr);
        if (k < targets.size() && targets[k]) refuseVariantTo(b, i, *targets[k]);
        if (k < targets.size() && targets[k] && targets[k]->type == "sql_variant") v = asVariant(v, b, i, m_type);
        return v;
    };
    expectWord(i, "VALUES");
    std::string rows;
    for (;;) {
        expectOp(i, "(");
        std::vector<std::string> vals;
        vals.push_back(value(0));
        while (tok(i).isOp(",")) { ++i; vals.push_back(value(vals.size())); }
        expectOp(i, ")");
        if (known) {
            if (explicitCols && vals.size() < columns)
                throw makeError(109, 15, "There are more columns in the INSERT statement than values specified in the VALUES clause. The number of values in the VALUES clause must match the number of columns specified in the INSERT statement.", true);
            if (explicitCols && vals.size() > columns)
                throw makeError(110, 15, "There are fewer columns in the INSERT statement than values specified in the VALUES clause. The number of values in the VALUES clause must match the number of columns specified in the INSERT statement.", true);
            if (!explicitCols && vals.size() != columns)
                throw makeError(213, 16, "Column name or number of supplied values does not match table definition.", true);
        }
        if (!rows.empty()) rows += ", ";
        rows += "(";
        for (size_t k = 0; k < vals.size(); ++k) { if (k) rows += ", "; rows += vals[k]; }
        rows += ")";
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    return rows;
}

std::string Translator::insert(size_t &i, Translation &tr)
{
    expectWord(i, "INSERT");
    if (tok(i).isWord("INTO")) ++i;
    std::string written, schema, plain;
    std::string target = targetName(i, tr, &written, &schema, &plain);
    tr.table = written;
    tr.schema = schema;
    tr.targetInternal = plain;
    tr.writtenNames[lower(plain)] = written;
    std::vector<std::string> cols;
    bool explicitCols = false;
    if (tok(i).isOp("(") && !tok(i + 1).isWord("SELECT")) {
        ++i;
        explicitCols = true;
        cols.push_back(name(i));
        while (tok(i).isOp(",")) { ++i; cols.push_back(name(i)); }
        expectOp(i, ")");
    }
    std::optional<TableMeta> meta = writtenTable(schema, plain, written);
    if (meta) insertColumns(*meta, plain, explicitCols, cols);
    std::string colList;
    for (size_t k = 0; k < cols.size(); ++k) colList += (k ? ", " : " (") + quoteIdent(cols[k]);
    if (!cols.empty()) colList += ")";
    std::string s = "INSERT INTO " + target;
    std::string returning;
    if (tok(i).isWord("OUTPUT")) returning = outputClause(i, tr, meta, false);
    if (tok(i).isWord("VALUES")) {
        std::vector<const ColumnMeta *> targets;
        for (const auto &c : cols) targets.push_back(meta ? meta->column(c) : nullptr);
        s += colList + " VALUES " + insertValues(i, tr, meta.has_value(), explicitCols, targets);
    } else if (tok(i).isWord("SELECT")) {
        s += colList + " " + select(i, true, tr);
    } else if (tok(i).isOp("(") && tok(i + 1).isWord("SELECT")) {
        ++i;
        s += colList + " " + select(i, true, tr);
        expectOp(i, ")");
    } else if (tok(i).isWord("DEFAULT") && tok(i + 1).isWord("VALUES")) {
        i += 2;
        s += " DEFAULT VALUES";
    } else {
        throw syntaxError(tok(i));
    }
    return s + returning;
}

std::string Translator::update(size_t &i, Translation &tr)
{
    expectWord(i, "UPDATE");
    const TopSpec top = dmlTop(i, tr);
    std::string written, schema, plain;
    std::string target = targetName(i, tr, &written, &schema, &plain);
    tr.table = written;
    tr.schema = schema;
    tr.targetInternal = plain;
    tr.writtenNames[lower(plain)] = written;
    std::optional<TableMeta> meta = writtenTable(schema, plain, written);
    std::vector<ScopeTable> targetScope;
    if (meta) targetScope.push_back({written.substr(written.rfind('.') + 1), *meta});
    ScopeGuard scope(m_scopes, std::move(targetScope));
    expectWord(i, "SET");
    std::string s = "UPDATE " + target + " SET " + setList(i, tr, meta);
    std::string returning;
    if (tok(i).isWord("OUTPUT")) {
        m_pseudoTarget = plain;
        returning = outputClause(i, tr, meta, false);
    }
    if (tok(i).isWord("FROM")) {
        if (!top.count.empty()) throw syntaxError(tok(i));
        ++i;
        s += " FROM " + tableSources(i, tr);
    }
    std::string where;
    if (tok(i).isWord("WHERE")) { ++i; where = dmlCondition(i, tr, plain); }
    return s + topWhere(top, target, where) + returning;
}

// SET col = expr | col op= expr, ... of UPDATE and MERGE, checked against the
// target; every updated row gives its rowversion the database's next value.
std::string Translator::setList(size_t &i, Translation &tr, const std::optional<TableMeta> &meta)
{
    std::string s;
    bool first = true;
    for (;;) {
        std::string col = name(i);
        while (tok(i).isOp(".") && !xmlModifyAt(t, i)) { ++i; col = name(i); }
        if (meta) {
            const ColumnMeta *m = meta->column(col);
            if (!m) throw makeError(207, 16, "Invalid column name '" + col + "'.", true);
            if (m->identity) throw makeError(8102, 16, "Cannot update identity column '" + m->name + "'.");
            if (!m->computed.empty())
                throw makeError(271, 16, "The column \"" + m->name + "\" cannot be modified because it is either a computed column or is the result of a UNION operator.");
            if (m->type == "timestamp") throw makeError(272, 16, "Cannot update a timestamp column.");
        }
        if (xmlModifyAt(t, i)) { // col.modify('dml'): col = the changed value
            s += (first ? "" : ", ") + quoteIdent(col) + " = " + xmlModifyCall(t, i, quoteIdent(col), true);
            first = false;
            if (!tok(i).isOp(",")) break;
            ++i;
            continue;
        }
        const std::string compound = compoundOperator(tok(i));
        if (compound.empty()) expectOp(i, "=");
        else ++i;
        if (!first) s += ", ";
        first = false;
        // col op= expr is col = col op (expr).
        const size_t valueBegin = i;
        std::string v = compound.empty() ? expr(i, tr) : binaryOperator(i, tr, compound, -1, quoteIdent(col), columnType({col}));
        const ColumnMeta *assigned = meta ? meta->column(col) : nullptr;
        if (assigned && compound.empty()) refuseVariantTo(valueBegin, i, *assigned);
        if (assigned && assigned->type == "sql_variant") v = asVariant(v, valueBegin, i, m_type);
        s += quoteIdent(col) + " = " + v;
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    if (meta)
        for (const auto &c : meta->columns)
            if (c.type == "timestamp") s += ", " + quoteIdent(c.name) + " = dv_nextts()";
    return s;
}

std::string Translator::del(size_t &i, Translation &tr)
{
    expectWord(i, "DELETE");
    const TopSpec top = dmlTop(i, tr);
    if (tok(i).isWord("FROM")) ++i;
    std::string written, schema, plain;
    std::string target = targetName(i, tr, &written, &schema, &plain);
    tr.table = written;
    tr.schema = schema;
    tr.targetInternal = plain;
    tr.writtenNames[lower(plain)] = written;
    std::optional<TableMeta> meta = writtenTable(schema, plain, written);
    std::vector<ScopeTable> targetScope;
    if (meta) targetScope.push_back({written.substr(written.rfind('.') + 1), *meta});
    ScopeGuard scope(m_scopes, std::move(targetScope));
    std::string s = "DELETE FROM " + target;
    std::string returning;
    if (tok(i).isWord("OUTPUT")) returning = outputClause(i, tr, meta, true);
    std::string where;
    if (tok(i).isWord("WHERE")) { ++i; where = dmlCondition(i, tr, plain); }
    return s + topWhere(top, target, where) + returning;
}

} // namespace ts
