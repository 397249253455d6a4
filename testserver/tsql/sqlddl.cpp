// Data definition: CREATE/DROP TABLE, table variables, indexes, schemas,
// users and logins, translated into SQLite DDL plus the catalogue rows the
// server's views read.
#include "tsql/sqltranslate.h"

#include "base/collation.h"
#include "base/sqlitenames.h"
#include "base/textcollation.h"

#include <cstdlib>
#include <random>
#include <set>

namespace ts {

// DEFAULT NEWSEQUENTIALID() or DEFAULT (NEWSEQUENTIALID()): the one place the
// function may stand, and alone (anywhere else the translator refuses it with 302).
static bool newSequentialDefault(const std::vector<Token> &t, size_t &i)
{
    const size_t open = i < t.size() && t[i].isOp("(") ? 1 : 0;
    auto at = [&](size_t k) -> const Token * { return i + k < t.size() ? &t[i + k] : nullptr; };
    const Token *name = at(open), *lp = at(open + 1), *rp = at(open + 2), *close = at(open + 3);
    if (!name || !lp || !rp || !iequals(name->value, "NEWSEQUENTIALID") || !lp->isOp("(") || !rp->isOp(")")) return false;
    if (open && (!close || !close->isOp(")"))) return false;
    i += open * 2 + 3;
    return true;
}

// A column takes its declared type; an alias type brings its nullability too.
static void takeType(ColumnMeta &m, const ColumnMeta &ty)
{
    m.type = ty.type; m.length = ty.length; m.precision = ty.precision; m.scale = ty.scale;
    m.userType = ty.userType;
    m.userTypeId = ty.userTypeId;
    if (ty.userTypeId) m.nullable = ty.nullable;
}

// What the element list of CREATE TABLE or DECLARE @t TABLE declares.
struct TableDef {
    std::vector<ColumnMeta> cols;
    std::vector<std::string> pk;   // primary key columns, in key order
    std::string pkName;            // its constraint name ("" = generated)
    std::vector<std::pair<std::string, std::vector<std::string>>> uniques; // (constraint name or "", columns)
    std::vector<std::string> checks; // CHECK expressions (table variables)
    int64_t seed = 1;              // IDENTITY (seed, increment)
};

namespace {

// The table CREATE TABLE makes: where its catalogue rows and triggers go, and its names.
struct NewTable {
    std::string qschema; // quoted SQLite schema
    std::string plain;   // internal name
    std::string owner, objName;
};

std::string randomHex(int n)
{
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    static const char *hex = "0123456789ABCDEF";
    std::string s;
    for (int k = 0; k < n; ++k) s += hex[rng() % 16];
    return s;
}

std::string quotedList(const std::vector<std::string> &v)
{
    std::string s;
    for (size_t k = 0; k < v.size(); ++k) { if (k) s += ", "; s += quoteIdent(v[k]); }
    return s;
}

SqlError multiplePrimaryKeys(const std::string &table)
{
    return makeError(8110, 16, "Cannot add multiple PRIMARY KEY constraints to table '" + table + "'.", true);
}

// Numbers the primary key's columns (which become NOT NULL); 1911 for a key column the table lacks.
void markPrimaryKey(TableDef &def)
{
    int ord = 0;
    for (const auto &p : def.pk) {
        ++ord;
        bool found = false;
        for (auto &c : def.cols)
            if (iequals(c.name, p)) { c.pkOrdinal = ord; c.nullable = false; found = true; }
        if (!found) throw makeError(1911, 16, "Column name '" + p + "' does not exist in the target table or view.", true);
    }
}

// 2738 when the table declares a second timestamp column.
void checkOneRowversion(const std::vector<ColumnMeta> &cols, const std::string &table)
{
    const ColumnMeta *rowversion = nullptr;
    for (const auto &c : cols) {
        if (c.type != "timestamp") continue;
        if (rowversion)
            throw makeError(2738, 16, "A table can only have one timestamp column. Because table '" + table
                            + "' already has one, the column '" + c.name + "' cannot be added.", true);
        rowversion = &c;
    }
}

// Whether the table has an identity column; 2744 for more than one.
bool hasIdentityColumn(const std::vector<ColumnMeta> &cols, const std::string &table)
{
    int identities = 0;
    for (const auto &c : cols) identities += c.identity ? 1 : 0;
    if (identities > 1)
        throw makeError(2744, 16, "Multiple identity columns specified for table '" + table
                        + "'. Only one identity column per table is allowed.", true);
    return identities > 0;
}

// The identity column is SQLite's rowid: when it is the whole primary key, no other key is declared.
bool identityIsKey(const TableDef &def)
{
    for (const auto &c : def.cols)
        if (c.identity) return def.pk.size() == 1 && c.pkOrdinal == 1;
    return false;
}

std::string identityColumnSql(const ColumnMeta &c)
{
    return quoteIdent(c.name) + " INTEGER PRIMARY KEY AUTOINCREMENT";
}

// The primary key (a UNIQUE constraint beside an identity rowid) and the unique constraints.
std::string keyConstraintsSql(const TableDef &def, bool hasIdentity)
{
    std::string s;
    if (!def.pk.empty() && !identityIsKey(def))
        s += (hasIdentity ? ", UNIQUE (" : ", PRIMARY KEY (") + quotedList(def.pk) + ")";
    for (const auto &u : def.uniques) s += ", UNIQUE (" + quotedList(u.second) + ")";
    return s;
}

// SQLite's AUTOINCREMENT starts after the sequence's value: a seed other than 1 is stored there.
std::string identitySeedSql(const std::string &schema, const std::string &table, int64_t seed)
{
    return "INSERT INTO " + schema + ".sqlite_sequence(name, seq) VALUES (" + quoteLiteral(table) + ", "
        + std::to_string(seed - 1) + ")";
}

// The SQLite CREATE TABLE of a user table.
std::string createTableSql(const std::string &target, const TableDef &def, bool hasIdentity)
{
    std::string ddl = "CREATE TABLE " + target + " (";
    for (size_t k = 0; k < def.cols.size(); ++k) {
        const ColumnMeta &c = def.cols[k];
        if (k) ddl += ", ";
        if (c.identity) { ddl += identityColumnSql(c); continue; }
        if (!c.computed.empty()) {
            ddl += quoteIdent(c.name) + " AS (" + c.computed + ")" + (c.persisted ? " STORED" : " VIRTUAL");
            if (!c.nullable) ddl += " NOT NULL";
            continue;
        }
        ddl += quoteIdent(c.name) + " " + sqliteDecl(c);
        if (!c.nullable) ddl += " NOT NULL";
        // A rowversion takes the database's next value on insert (and on update, see update()).
        if (c.type == "timestamp") ddl += " DEFAULT (dv_nextts())";
        else if (!c.defaultSql.empty()) ddl += " DEFAULT (" + c.defaultSql + ")";
        ddl += " CHECK (dv_check(" + quoteIdent(c.name) + ", " + typeArgs(c) + "))";
    }
    return ddl + keyConstraintsSql(def, hasIdentity) + ")";
}

// Keys and unique constraints are indexes too (sys.indexes): the primary key is index 1.
void recordIndex(Translation &tr, const NewTable &nt, const std::string &idx, int id, bool pk,
                 const std::vector<std::string> &keyCols)
{
    tr.sql.push_back("INSERT INTO " + nt.qschema + ".\"__dv_indexes\" VALUES (" + quoteLiteral(nt.plain) + ", "
                     + quoteLiteral(idx) + ", " + std::to_string(id) + ", 1, " + (pk ? "1" : "0") + ", "
                     + (pk ? "0" : "1") + ")");
    for (size_t k = 0; k < keyCols.size(); ++k)
        tr.sql.push_back("INSERT INTO " + nt.qschema + ".\"__dv_index_columns\" VALUES (" + quoteLiteral(nt.plain) + ", "
                         + quoteLiteral(idx) + ", " + std::to_string(k + 1) + ", " + quoteLiteral(keyCols[k]) + ", 0)");
}

// A computed column's type is what its expression gives for a row of sample values.
std::string sampleRowSql(const std::vector<ColumnMeta> &cols)
{
    std::string sampleRow;
    for (const auto &c : cols) {
        if (!c.computed.empty()) continue;
        std::string v = c.type == "int" || c.type == "bigint" || c.type == "smallint" || c.type == "tinyint" || c.type == "bit" ? "1"
            : c.type == "float" || c.type == "real" || c.type == "decimal" || c.type == "numeric" || c.type == "money" || c.type == "smallmoney" ? "1.5"
            : c.type == "datetime" || c.type == "smalldatetime" || c.type == "date" || isTemporalType(c.type) ? "'2000-01-01'"
            : c.type == "uniqueidentifier" ? "'00000000-0000-0000-0000-000000000000'"
            : c.type == "varbinary" || c.type == "binary" || c.type == "timestamp" ? "x'00'" : "'1'";
        sampleRow += std::string(sampleRow.empty() ? "SELECT " : ", ") + v + " AS " + quoteIdent(c.name);
    }
    return sampleRow;
}

// One catalogue row per column (sys.columns).
void recordColumns(Translation &tr, const NewTable &nt, const std::vector<ColumnMeta> &cols)
{
    const std::string sampleRow = sampleRowSql(cols);
    int n = 0;
    for (const auto &c : cols) {
        ++n;
        std::string uq = "NULL";
        std::string type = quoteLiteral(c.type) + ", " + std::to_string(c.length) + ", " + std::to_string(c.precision)
            + ", " + std::to_string(c.scale);
        if (!c.computed.empty())
            type = "(SELECT CASE typeof(" + c.computed + ") WHEN 'integer' THEN 'int' WHEN 'real' THEN 'float' WHEN 'blob' "
                "THEN 'varbinary' WHEN 'null' THEN 'int' ELSE 'nvarchar' END FROM (" + sampleRow + ")), "
                "(SELECT CASE typeof(" + c.computed + ") WHEN 'text' THEN 4000 WHEN 'blob' THEN -1 ELSE 0 END FROM ("
                + sampleRow + ")), 0, 0";
        tr.sql.push_back("INSERT INTO " + nt.qschema + ".\"__dv_columns\" VALUES (" + quoteLiteral(nt.plain) + ", "
                         + quoteLiteral(c.name) + ", " + std::to_string(n) + ", " + type + ", "
                         + (c.nullable ? "1" : "0") + ", " + (c.identity ? "1" : "0") + ", "
                         + std::to_string(c.pkOrdinal) + ", " + uq + ", " + (c.computed.empty() ? "NULL" : quoteLiteral(c.computed)) + ")");
        if (c.userTypeId)
            tr.sql.push_back("INSERT INTO " + nt.qschema + ".\"__dv_column_types\" VALUES (" + quoteLiteral(nt.plain) + ", "
                             + quoteLiteral(c.name) + ", " + std::to_string(c.userTypeId) + ")");
    }
}

// Key violations are reported by triggers so that the message carries the key value.
void keyViolationTriggers(Translation &tr, const NewTable &nt, const std::string &cons, const std::string &kind,
                          const std::vector<std::string> &keyCols)
{
    std::string cond, values;
    for (size_t k = 0; k < keyCols.size(); ++k) {
        if (k) { cond += " AND "; values += ", "; }
        cond += quoteIdent(keyCols[k]) + " = NEW." + quoteIdent(keyCols[k]);
        values += "NEW." + quoteIdent(keyCols[k]);
    }
    std::string msg = "'Violation of " + kind + " constraint ''" + cons + "''. Cannot insert duplicate key in object ''"
        + nt.owner + "." + nt.objName + "''. The duplicate key value is (' || dv_keytext(" + values + ") || ').'";
    std::string trg = "__dv_" + randomHex(12);
    const std::string table = quoteIdent(nt.plain);
    tr.sql.push_back("CREATE TRIGGER " + nt.qschema + "." + quoteIdent(trg + "_i") + " BEFORE INSERT ON "
                     + table + " WHEN EXISTS (SELECT 1 FROM " + table + " WHERE " + cond
                     + ") BEGIN SELECT dv_raise(2627, 14, " + msg + "); END");
    tr.sql.push_back("CREATE TRIGGER " + nt.qschema + "." + quoteIdent(trg + "_u") + " BEFORE UPDATE ON "
                     + table + " WHEN EXISTS (SELECT 1 FROM " + table + " WHERE " + cond
                     + " AND rowid <> OLD.rowid) BEGIN SELECT dv_raise(2627, 14, " + msg + "); END");
}

// The primary key's and each unique constraint's triggers and index rows.
void recordKeys(Translation &tr, const NewTable &nt, const TableDef &def)
{
    if (!def.pk.empty() && !identityIsKey(def)) keyViolationTriggers(tr, nt, def.pkName, "PRIMARY KEY", def.pk);
    const std::string shortName = nt.objName.substr(0, 8);
    int nextIndex = 2;
    for (const auto &u : def.uniques) {
        std::string cons = u.first.empty() ? "UQ__" + shortName + "__" + randomHex(16) : u.first;
        keyViolationTriggers(tr, nt, cons, "UNIQUE KEY", u.second);
        recordIndex(tr, nt, cons, nextIndex++, false, u.second);
        tr.sql.push_back("UPDATE " + nt.qschema + ".\"__dv_columns\" SET uq_name = " + quoteLiteral(cons)
                         + " WHERE tbl = " + quoteLiteral(nt.plain) + " AND col = " + quoteLiteral(u.second.front())
                         + " AND uq_name IS NULL");
    }
}

// The assignment that brings a column's stored value to its one form, "" for a column kept as given.
std::string storedFormSet(const ColumnMeta &c)
{
    const bool number = c.type == "decimal" || c.type == "numeric" || c.type == "money" || c.type == "smallmoney"
        || c.type == "real";
    const bool fixedText = (c.type == "char" || c.type == "nchar") && c.length > 0;
    const bool fixedBinary = c.type == "binary" && c.length > 0;
    if (c.type != "datetime" && c.type != "smalldatetime" && c.type != "date" && !isTemporalType(c.type)
        && c.type != "uniqueidentifier" && !number && !fixedText && !fixedBinary && c.type != "xml"
        && c.type != "sql_variant" && c.type != "hierarchyid" && c.type != "geography" && c.type != "geometry")
        return "";
    if (fixedText)
        return quoteIdent(c.name) + " = dv_pad(" + quoteIdent(c.name) + ", " + std::to_string(c.length) + ", "
            + (c.type == "nchar" ? "1" : "0") + ")";
    if (c.type == "uniqueidentifier" || number || fixedBinary || c.type == "xml" || c.type == "sql_variant"
        || c.type == "hierarchyid" || c.type == "geography" || c.type == "geometry")
        return quoteIdent(c.name) + " = dv_cast(" + quoteIdent(c.name) + ", " + typeArgs(c) + ")";
    if (isTemporalType(c.type))
        return quoteIdent(c.name) + " = dv_temporal(" + quoteIdent(c.name) + ", " + quoteLiteral(c.type) + ", "
            + std::to_string(c.scale) + ")";
    return quoteIdent(c.name) + " = dv_datetext(" + quoteIdent(c.name) + ", " + quoteLiteral(c.type) + ")";
}

// Dates, uniqueidentifiers and numbers are stored in one form (decimals as text with the
// column's scale, real as a 4-byte float) so that comparisons with parameters match;
// char(n) and nchar(n) blank-padded to their length, binary(n) padded with 0x00, as SQL
// Server holds and returns them.
void storedFormTriggers(Translation &tr, const NewTable &nt, const std::vector<ColumnMeta> &cols)
{
    std::string sets;
    for (const auto &c : cols) {
        const std::string set = storedFormSet(c);
        if (set.empty()) continue;
        if (!sets.empty()) sets += ", ";
        sets += set;
    }
    if (sets.empty()) return;
    std::string trg = "__dv_" + randomHex(12);
    const std::string table = quoteIdent(nt.plain);
    tr.sql.push_back("CREATE TRIGGER " + nt.qschema + "." + quoteIdent(trg + "_di") + " AFTER INSERT ON "
                     + table + " BEGIN UPDATE " + table + " SET " + sets + " WHERE rowid = NEW.rowid; END");
    tr.sql.push_back("CREATE TRIGGER " + nt.qschema + "." + quoteIdent(trg + "_du") + " AFTER UPDATE ON "
                     + table + " BEGIN UPDATE " + table + " SET " + sets + " WHERE rowid = NEW.rowid; END");
}

} // namespace

std::string sqliteDecl(const ColumnMeta &m)
{
    std::string d = m.type;
    bool isChar = m.type == "nvarchar" || m.type == "varchar" || m.type == "nchar" || m.type == "char";
    // SQLite type names take numbers only; (max) is kept in the column metadata.
    if ((isChar || m.type == "varbinary" || m.type == "binary") && m.length >= 0)
        d += "(" + std::to_string(m.length) + ")";
    // Decimals and money are kept as exact text (text affinity: SQLite turns numeric text
    // into doubles otherwise) and compared as numbers.
    if (m.type == "decimal" || m.type == "numeric")
        d += " text(" + std::to_string(m.precision) + "," + std::to_string(m.scale) + ")";
    if (m.type == "money" || m.type == "smallmoney" || m.type == "xml") d += " text";
    if (m.type == "decimal" || m.type == "numeric" || m.type == "money" || m.type == "smallmoney")
        d += std::string(" COLLATE ") + kDecimalCollation;
    // Text compares, sorts and is unique by its collation (see textcollation.h).
    if (isChar) d += " COLLATE " + quoteIdent(m.collation.empty() ? serverCollation().name : m.collation);
    if (m.type == "datetime" || m.type == "smalldatetime" || m.type == "date" || isTemporalType(m.type)) d += std::string(" COLLATE ") + kTimeCollation;
    if (m.type == "uniqueidentifier") d += std::string(" COLLATE ") + kGuidCollation;
    if (m.type == "sql_variant") d += std::string(" blob COLLATE ") + kVariantCollation;
    if (m.type == "hierarchyid") d += " blob"; // its packed bytes, compared as bytes
    if (m.type == "geography" || m.type == "geometry") d += " blob"; // serialized bytes
    return d;
}

// ( name [ASC|DESC], ... ): the columns of a key.
void Translator::keyColumns(size_t &i, std::vector<std::string> &out)
{
    expectOp(i, "(");
    for (;;) {
        out.push_back(name(i));
        if (tok(i).isWord("ASC") || tok(i).isWord("DESC")) ++i;
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    expectOp(i, ")");
}

// IDENTITY [(seed, increment)] of a column: the seed, or `seed` when none is given.
int64_t Translator::identityClause(size_t &i, int64_t seed)
{
    expectWord(i, "IDENTITY");
    if (!tok(i).isOp("(")) return seed;
    ++i;
    bool neg = false;
    if (tok(i).isOp("-")) { neg = true; ++i; }
    if (tok(i).kind != Token::Number) throw syntaxError(tok(i));
    seed = std::atoll(tok(i).value.c_str()) * (neg ? -1 : 1);
    ++i;
    expectOp(i, ",");
    if (tok(i).isOp("-")) ++i;
    if (tok(i).kind != Token::Number) throw syntaxError(tok(i));
    ++i;
    expectOp(i, ")");
    return seed;
}

// [CONSTRAINT name] PRIMARY KEY|UNIQUE [CLUSTERED|NONCLUSTERED] (columns) among the table's elements.
void Translator::tableKeyConstraint(size_t &i, const std::string &cname, const std::string &table, TableDef &def)
{
    const bool primary = tok(i).isWord("PRIMARY");
    ++i;
    if (primary) expectWord(i, "KEY");
    if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
    if (primary) {
        if (!def.pk.empty()) throw multiplePrimaryKeys(table);
        keyColumns(i, def.pk);
        def.pkName = cname;
        return;
    }
    std::vector<std::string> u;
    keyColumns(i, u);
    def.uniques.push_back({cname, u});
}

// name AS expr [PERSISTED] [NOT NULL]: SQLite computes it from the row (STORED when PERSISTED).
void Translator::computedColumn(size_t &i, ColumnMeta &m)
{
    expectWord(i, "AS");
    Translation scratch;
    m.computed = expr(i, scratch);
    if (!scratch.params.empty()) throw syntaxError(tok(i - 1));
    if (tok(i).isWord("PERSISTED")) { ++i; m.persisted = true; }
    if (tok(i).isWord("NOT") && tok(i + 1).isWord("NULL")) {
        if (!m.persisted)
            throw makeError(8183, 16, "Only UNIQUE or PRIMARY KEY constraints can be created on computed columns, while CHECK, "
                            "FOREIGN KEY, and NOT NULL constraints require that computed columns be persisted.", true);
        i += 2;
        m.nullable = false;
    }
}

// The constraints after a column's type: IDENTITY, [NOT] NULL, [CONSTRAINT name] PRIMARY KEY|UNIQUE|DEFAULT, COLLATE.
void Translator::columnConstraints(size_t &i, const std::string &table, ColumnMeta &m, TableDef &def)
{
    std::string cname;
    for (;;) {
        if (tok(i).isWord("IDENTITY")) {
            def.seed = identityClause(i, def.seed);
            m.identity = true;
            m.nullable = false;
        } else if (tok(i).isWord("NOT") && tok(i + 1).isWord("NULL")) {
            i += 2; m.nullable = false;
        } else if (tok(i).isWord("NULL")) {
            ++i; m.nullable = true;
        } else if (tok(i).isWord("CONSTRAINT")) {
            ++i; cname = name(i);
        } else if (tok(i).isWord("PRIMARY")) {
            ++i;
            expectWord(i, "KEY");
            if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
            if (!def.pk.empty()) throw multiplePrimaryKeys(table);
            def.pk.push_back(m.name);
            def.pkName = cname;
            cname.clear();
        } else if (tok(i).isWord("UNIQUE")) {
            ++i;
            if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
            def.uniques.push_back({cname, {m.name}});
            cname.clear();
        } else if (tok(i).isWord("DEFAULT")) {
            ++i;
            Translation scratch;
            if (m.type == "uniqueidentifier" && newSequentialDefault(t, i)) m.defaultSql = "dv_newsequentialid()";
            else m.defaultSql = expr(i, scratch);
            if (!scratch.params.empty()) throw syntaxError(tok(i - 1)); // variables are not constants
            cname.clear();
        } else if (tok(i).isWord("COLLATE")) {
            ++i;
            m.collation = collationName(i);
        } else {
            return;
        }
    }
}

// One column of CREATE TABLE: a computed column, or a type and its constraints.
ColumnMeta Translator::columnDefinition(size_t &i, const std::string &table, TableDef &def)
{
    ColumnMeta m;
    m.name = name(i);
    if (tok(i).isWord("AS")) {
        computedColumn(i, m);
        return m;
    }
    takeType(m, typeSpec(i));
    if (m.type == "timestamp") m.nullable = false;
    columnConstraints(i, table, m, def);
    if (m.identity && m.type != "int" && m.type != "bigint" && m.type != "smallint" && m.type != "tinyint"
        && m.type != "decimal" && m.type != "numeric")
        throw makeError(2749, 16, "Identity column '" + m.name + "' must be of data type int, bigint, smallint, tinyint, or decimal or numeric with a scale of 0, and constrained to be nonnullable.", true);
    return m;
}

// ( column definitions and table constraints ) of CREATE TABLE.
void Translator::tableElements(size_t &i, const std::string &table, TableDef &def)
{
    expectOp(i, "(");
    for (;;) {
        std::string cname;
        if (tok(i).isWord("CONSTRAINT")) { ++i; cname = name(i); }
        if (tok(i).isWord("PRIMARY") || tok(i).isWord("UNIQUE")) {
            tableKeyConstraint(i, cname, table, def);
        } else {
            if (!cname.empty()) throw syntaxError(tok(i));
            def.cols.push_back(columnDefinition(i, table, def));
        }
        if (!tok(i).isOp(",")) break;
        ++i;
        if (tok(i).isOp(")")) break; // SQL Server accepts a trailing comma
    }
    expectOp(i, ")");
}

void Translator::createTable(size_t &i, Translation &tr)
{
    expectWord(i, "CREATE");
    expectWord(i, "TABLE");
    std::string written, schema, plain;
    m_creating = true;
    std::string target = objectName(i, &written, &schema, &plain);
    m_creating = false;
    const NewTable nt{quoteIdent(schema), plain, m_owner, m_objName};
    tr.kind = Translation::Ddl;
    tr.table = written;
    tr.schema = schema;
    tr.targetInternal = plain;
    if (ctx && schema != "dvcat") {
        if (!ctx->schemaExists(schema, nt.owner))
            throw makeError(2760, 16, "The specified schema name \"" + nt.owner + "\" either does not exist or you do not have permission to use it.");
        if (!ctx->objectType(schema, plain).empty())
            throw makeError(2714, 16, "There is already an object named '" + nt.objName + "' in the database.");
    }
    TableDef def;
    tableElements(i, nt.objName, def);
    if (def.cols.empty()) throw syntaxError(tok(i));
    markPrimaryKey(def);
    checkOneRowversion(def.cols, nt.objName);
    const bool hasIdentity = hasIdentityColumn(def.cols, nt.objName);
    if (!def.pk.empty() && def.pkName.empty()) def.pkName = "PK__" + nt.objName.substr(0, 8) + "__" + randomHex(16);

    tr.sql.push_back(createTableSql(target, def, hasIdentity));
    tr.sql.push_back("INSERT INTO " + nt.qschema + ".\"__dv_tables\"(name, object_id, create_date, pk_name, schema_name, obj_name, type) VALUES ("
                     + quoteLiteral(plain) + ", (SELECT coalesce(max(object_id), 901578250) + 16 FROM " + nt.qschema
                     + ".\"__dv_tables\"), dv_getdate(), " + (def.pkName.empty() ? "NULL" : quoteLiteral(def.pkName)) + ", "
                     + quoteLiteral(nt.owner) + ", " + quoteLiteral(nt.objName) + ", 'U')");
    if (!def.pk.empty()) recordIndex(tr, nt, def.pkName, 1, true, def.pk);
    recordColumns(tr, nt, def.cols);
    recordKeys(tr, nt, def);
    storedFormTriggers(tr, nt, def.cols);
    if (hasIdentity && def.seed != 1) tr.sql.push_back(identitySeedSql(nt.qschema, plain, def.seed));
}

// A column of a table variable: a type and its constraints (a CHECK goes to the table's checks).
ColumnMeta Translator::tableVariableColumn(size_t &i, TableDef &def, Translation &scratch)
{
    ColumnMeta m;
    m.name = name(i);
    takeType(m, typeSpec(i));
    for (;;) {
        if (tok(i).isWord("IDENTITY")) {
            def.seed = identityClause(i, def.seed);
            m.identity = true;
            m.nullable = false;
        } else if (tok(i).isWord("NOT") && tok(i + 1).isWord("NULL")) {
            i += 2; m.nullable = false;
        } else if (tok(i).isWord("NULL")) {
            ++i; m.nullable = true;
        } else if (tok(i).isWord("PRIMARY")) {
            ++i;
            expectWord(i, "KEY");
            if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
            if (!def.pk.empty()) throw multiplePrimaryKeys("@table variable");
            def.pk.push_back(m.name);
        } else if (tok(i).isWord("UNIQUE")) {
            ++i;
            if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
            def.uniques.push_back({"", {m.name}});
        } else if (tok(i).isWord("DEFAULT")) {
            ++i;
            Translation d;
            if (m.type == "uniqueidentifier" && newSequentialDefault(t, i)) m.defaultSql = "dv_newsequentialid()";
            else m.defaultSql = expr(i, d);
            if (!d.params.empty()) throw syntaxError(tok(i - 1));
        } else if (tok(i).isWord("CHECK")) {
            ++i;
            expectOp(i, "(");
            def.checks.push_back(expr(i, scratch));
            expectOp(i, ")");
        } else if (tok(i).isWord("COLLATE")) {
            ++i;
            name(i);
        } else {
            return m;
        }
    }
}

// ( column definitions and table constraints ) of a table variable.
void Translator::tableVariableElements(size_t &i, TableDef &def)
{
    expectOp(i, "(");
    Translation scratch;
    for (;;) {
        if (tok(i).isWord("PRIMARY") || tok(i).isWord("UNIQUE")) {
            tableKeyConstraint(i, "", "@table variable", def);
        } else if (tok(i).isWord("CHECK")) {
            ++i;
            expectOp(i, "(");
            def.checks.push_back(expr(i, scratch));
            expectOp(i, ")");
        } else {
            ColumnMeta m = tableVariableColumn(i, def, scratch);
            for (const auto &c : def.cols)
                if (iequals(c.name, m.name))
                    throw makeError(2705, 16, "Column names in each table must be unique. Column name '" + m.name
                                    + "' in table '@table variable' is specified more than once.", true);
            def.cols.push_back(m);
        }
        if (!tok(i).isOp(",")) break;
        ++i;
        if (tok(i).isOp(")")) break;
    }
    expectOp(i, ")");
    if (!scratch.params.empty()) throw syntaxError(tok(i - 1)); // constraints hold no variables
}

// TABLE ( column definitions and table constraints )
std::vector<std::string> Translator::tableVariable(size_t &i, const std::string &sqlName, TableMeta &meta)
{
    expectWord(i, "TABLE");
    TableDef def;
    tableVariableElements(i, def);
    markPrimaryKey(def);
    const bool hasIdentity = hasIdentityColumn(def.cols, "@table variable");
    meta.name = sqlName;
    meta.columns = def.cols;

    std::string ddl = "CREATE TABLE \"temp\"." + quoteIdent(sqlName) + " (";
    for (size_t k = 0; k < def.cols.size(); ++k) {
        const ColumnMeta &c = def.cols[k];
        if (k) ddl += ", ";
        if (c.identity) { ddl += identityColumnSql(c); continue; }
        ddl += quoteIdent(c.name) + " " + sqliteDecl(c);
        if (!c.nullable) ddl += " NOT NULL";
        if (!c.defaultSql.empty()) ddl += " DEFAULT (" + c.defaultSql + ")";
        ddl += " CHECK (dv_check(" + quoteIdent(c.name) + ", " + typeArgs(c) + "))";
    }
    ddl += keyConstraintsSql(def, hasIdentity);
    for (const auto &c : def.checks) ddl += ", CHECK (" + c + ")";
    ddl += ")";
    std::vector<std::string> out{ddl};
    if (hasIdentity && def.seed != 1) out.push_back(identitySeedSql("\"temp\"", sqlName, def.seed));
    return out;
}

// A statement that raises error `number` (severity 16) when `cond` holds.
static void raiseWhere(Translation &tr, int number, const std::string &text, const std::string &cond)
{
    tr.sql.push_back("SELECT dv_raise(" + std::to_string(number) + ", 16, " + quoteLiteral(text) + ") WHERE " + cond);
}

void Translator::dropTable(size_t &i, Translation &tr)
{
    expectWord(i, "DROP");
    expectWord(i, "TABLE");
    bool ifExists = false;
    if (tok(i).isWord("IF") && tok(i + 1).isWord("EXISTS")) { ifExists = true; i += 2; }
    std::string written, schema, plain;
    std::string target = objectName(i, &written, &schema, &plain);
    tr.kind = Translation::Ddl;
    tr.table = written;
    tr.schema = schema;
    if (ctx) {
        if (schema == "dvcat" || !ctx->table(schema, plain)) {
            if (ifExists) return;
            throw makeError(3701, 11, "Cannot drop the table '" + written + "', because it does not exist or you do not have permission.");
        }
        if (ctx->objectType(schema, plain) == "V")
            throw makeError(3705, 16, "Cannot use DROP TABLE with '" + written + "' because '" + written + "' is a view. Use DROP VIEW.");
    }
    std::string q = quoteIdent(schema);
    tr.dropTable = plain;
    tr.sql.push_back("DROP TABLE " + target);
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_columns\" WHERE tbl = " + quoteLiteral(plain));
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_column_types\" WHERE tbl = " + quoteLiteral(plain));
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_tables\" WHERE name = " + quoteLiteral(plain));
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_indexes\" WHERE tbl = " + quoteLiteral(plain));
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_index_columns\" WHERE tbl = " + quoteLiteral(plain));
    // Its triggers go with it.
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_triggers\" WHERE name IN (SELECT name FROM " + q
                     + ".\"__dv_tables\" WHERE type = 'TR' AND parent = " + quoteLiteral(plain) + ")");
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_tables\" WHERE type = 'TR' AND parent = " + quoteLiteral(plain));
}

void Translator::createIndex(size_t &i, Translation &tr)
{
    expectWord(i, "CREATE");
    bool unique = false;
    if (tok(i).isWord("UNIQUE")) { unique = true; ++i; }
    if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
    expectWord(i, "INDEX");
    std::string index = name(i);
    expectWord(i, "ON");
    std::string written, schema, plain;
    objectName(i, &written, &schema, &plain);
    tr.kind = Translation::Ddl;
    tr.writtenNames[lower(plain)] = written;
    if (ctx && schema != "dvcat" && !ctx->table(schema, plain))
        throw makeError(1088, 16, "Cannot find the object \"" + written + "\" because it does not exist or you do not have permissions.");
    expectOp(i, "(");
    std::string cols;
    std::vector<std::pair<std::string, bool>> keyCols;
    for (;;) {
        if (!cols.empty()) cols += ", ";
        std::string c = name(i);
        cols += quoteIdent(c);
        bool desc = false;
        if (tok(i).isWord("ASC")) { ++i; cols += " ASC"; }
        else if (tok(i).isWord("DESC")) { ++i; cols += " DESC"; desc = true; }
        keyCols.push_back({c, desc});
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    expectOp(i, ")");
    const std::string qs = quoteIdent(schema);
    // Index names are per table in SQL Server and per database in SQLite.
    tr.sql.push_back(std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " + qs + "."
                     + quoteIdent(plain + "$" + index) + " ON " + quoteIdent(plain) + " (" + cols + ")");
    tr.sql.push_back("INSERT INTO " + qs + ".\"__dv_indexes\" VALUES (" + quoteLiteral(plain) + ", " + quoteLiteral(index)
                     + ", (SELECT max(2, coalesce(max(index_id), 0) + 1) FROM " + qs + ".\"__dv_indexes\" WHERE tbl = "
                     + quoteLiteral(plain) + "), " + (unique ? "1" : "0") + ", 0, 0)");
    for (size_t k = 0; k < keyCols.size(); ++k)
        tr.sql.push_back("INSERT INTO " + qs + ".\"__dv_index_columns\" VALUES (" + quoteLiteral(plain) + ", "
                         + quoteLiteral(index) + ", " + std::to_string(k + 1) + ", " + quoteLiteral(keyCols[k].first) + ", "
                         + (keyCols[k].second ? "1" : "0") + ")");
}

// CREATE SCHEMA name [AUTHORIZATION owner] / DROP SCHEMA [IF EXISTS] name
void Translator::createSchema(size_t &i, Translation &tr)
{
    bool create = tok(i).isWord("CREATE");
    ++i;
    expectWord(i, "SCHEMA");
    tr.kind = Translation::Ddl;
    bool ifExists = false;
    if (!create && tok(i).isWord("IF") && tok(i + 1).isWord("EXISTS")) { ifExists = true; i += 2; }
    std::string schemaName = name(i);
    if (create && tok(i).isWord("AUTHORIZATION")) { ++i; name(i); }
    if (!ctx) return;
    std::string q = quoteIdent(ctx->schemaFor(""));
    bool exists = ctx->schemaExists("main", schemaName);
    if (create) {
        if (exists) throw makeError(2714, 16, "There is already an object named '" + schemaName + "' in the database.");
        tr.sql.push_back("INSERT INTO " + q + ".\"__dv_schemas\" VALUES (" + quoteLiteral(schemaName)
                         + ", (SELECT max(4, max(schema_id)) + 1 FROM " + q + ".\"__dv_schemas\"))");
        return;
    }
    if (!exists) {
        if (ifExists) return;
        throw makeError(3701, 11, "Cannot drop the schema '" + schemaName + "', because it does not exist or you do not have permission.");
    }
    static const std::set<std::string> builtIn = {"dbo", "guest", "information_schema", "sys"};
    if (builtIn.count(lower(schemaName)))
        throw makeError(15150, 16, "Cannot drop the schema '" + schemaName + "'.");
    tr.sql.push_back("SELECT dv_raise(3729, 16, " + quoteLiteral("Cannot drop schema '" + schemaName + "' because it is being referenced by object '")
                     + " || name || '''.') FROM " + q + ".\"__dv_objects\" WHERE schema_name = " + quoteLiteral(schemaName) + " LIMIT 1");
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_schemas\" WHERE name = " + quoteLiteral(schemaName));
}

// option = value [, ...] after WITH: `known` parses an option it knows and
// returns true; any other `name = value` is accepted and ignored.
void Translator::withOptions(size_t &i, const std::function<bool(size_t &)> &known)
{
    for (;;) {
        if (!known(i)) {
            if (tok(i).kind != Token::Ident) throw syntaxError(tok(i));
            ++i;
            expectOp(i, "=");
            ++i;
        }
        if (!tok(i).isOp(",")) break;
        ++i;
    }
}

// CREATE USER name [{FOR|FROM} LOGIN login | WITHOUT LOGIN] [WITH DEFAULT_SCHEMA = s]
// ALTER USER name WITH DEFAULT_SCHEMA = s [, ...] ; DROP USER [IF EXISTS] name
void Translator::userStatement(size_t &i, Translation &tr)
{
    std::string verb = upper(tok(i).value);
    ++i;
    expectWord(i, "USER");
    tr.kind = Translation::Ddl;
    bool ifExists = false;
    if (verb == "DROP" && tok(i).isWord("IF") && tok(i + 1).isWord("EXISTS")) { ifExists = true; i += 2; }
    std::string user = name(i);
    std::string login, defSchema;
    bool hasDefault = false;
    if (verb == "CREATE") {
        login = user;
        if (tok(i).isWord("FOR") || tok(i).isWord("FROM")) { ++i; expectWord(i, "LOGIN"); login = name(i); }
        else if (tok(i).isWord("WITHOUT")) { ++i; expectWord(i, "LOGIN"); login.clear(); }
    }
    if (verb != "DROP" && tok(i).isWord("WITH")) {
        ++i;
        withOptions(i, [&](size_t &j) {
            if (!tok(j).isWord("DEFAULT_SCHEMA")) return false;
            ++j;
            expectOp(j, "=");
            if (tok(j).isWord("NULL")) { ++j; defSchema.clear(); }
            else defSchema = name(j);
            hasDefault = true;
            return true;
        });
    }
    if (!ctx) return;
    std::string q = quoteIdent(ctx->schemaFor(""));
    std::string exists = "(SELECT count(*) FROM " + q + ".\"__dv_users\" WHERE name = " + quoteLiteral(user) + ")";
    if (verb == "CREATE") {
        static const std::set<std::string> builtIn = {"dbo", "guest", "sys", "information_schema"};
        if (builtIn.count(lower(user)))
            throw makeError(15023, 16, "User, group, or role '" + user + "' already exists in the current database.");
        raiseWhere(tr, 15023, "User, group, or role '" + user + "' already exists in the current database.", exists + " > 0");
        tr.sql.push_back("INSERT INTO " + q + ".\"__dv_users\" VALUES (" + quoteLiteral(user) + ", "
                         + (login.empty() ? "NULL" : quoteLiteral(login)) + ", "
                         + (hasDefault && !defSchema.empty() ? quoteLiteral(defSchema) : "NULL")
                         + ", (SELECT coalesce(max(principal_id), 4) + 1 FROM " + q + ".\"__dv_users\"))");
    } else if (verb == "ALTER") {
        raiseWhere(tr, 15151, "Cannot alter the user '" + user + "', because it does not exist or you do not have permission.", exists + " = 0");
        if (hasDefault)
            tr.sql.push_back("UPDATE " + q + ".\"__dv_users\" SET default_schema = "
                             + (defSchema.empty() ? "NULL" : quoteLiteral(defSchema)) + " WHERE name = " + quoteLiteral(user));
    } else {
        if (!ifExists)
            raiseWhere(tr, 15151, "Cannot drop the user '" + user + "', because it does not exist or you do not have permission.", exists + " = 0");
        tr.sql.push_back("DELETE FROM " + q + ".\"__dv_users\" WHERE name = " + quoteLiteral(user));
    }
}

// CREATE LOGIN name WITH PASSWORD = 'pw' [, option = value ...], ALTER LOGIN
// name WITH PASSWORD = 'pw', DROP LOGIN name: SQL logins kept in the catalogue
// that the server accepts next to the ones it was started with.
void Translator::loginStatement(size_t &i, Translation &tr)
{
    std::string verb = upper(tok(i).value);
    ++i;
    expectWord(i, "LOGIN");
    tr.kind = Translation::Ddl;
    std::string login = name(i);
    std::string password, defaultDb;
    bool hasPassword = false;
    if (verb != "DROP") {
        if (tok(i).isWord("FROM")) throw makeError(15401, 16, "Windows NT user or group '" + login + "' not found. Check the name again.");
        expectWord(i, "WITH");
        withOptions(i, [&](size_t &j) {
            if (tok(j).isWord("PASSWORD")) {
                ++j;
                expectOp(j, "=");
                if (tok(j).kind != Token::String && tok(j).kind != Token::NString) throw syntaxError(tok(j));
                password = tok(j).value;
                hasPassword = true;
                ++j;
                while (tok(j).isWord("MUST_CHANGE") || tok(j).isWord("HASHED")) ++j;
                return true;
            }
            if (!tok(j).isWord("DEFAULT_DATABASE")) return false;
            ++j;
            expectOp(j, "=");
            defaultDb = name(j);
            return true;
        });
        if (verb == "CREATE" && !hasPassword) throw syntaxError(tok(i));
    }
    if (!ctx) return;
    std::string exists = "(SELECT count(*) FROM \"dvcat\".\"dv_logins\" WHERE name = " + quoteLiteral(login) + ")";
    if (verb == "CREATE") {
        if (iequals(login, "sa")) throw makeError(15025, 16, "The server principal '" + login + "' already exists.");
        raiseWhere(tr, 15025, "The server principal '" + login + "' already exists.", exists + " > 0");
        tr.sql.push_back("INSERT INTO \"dvcat\".\"dv_logins\" VALUES (" + quoteLiteral(login) + ", " + quoteLiteral(password)
                         + ", " + quoteLiteral(defaultDb.empty() ? "master" : defaultDb) + ")");
    } else if (verb == "ALTER") {
        raiseWhere(tr, 15151, "Cannot alter the login '" + login + "', because it does not exist or you do not have permission.", exists + " = 0");
        if (hasPassword)
            tr.sql.push_back("UPDATE \"dvcat\".\"dv_logins\" SET password = " + quoteLiteral(password) + " WHERE name = " + quoteLiteral(login));
        if (!defaultDb.empty())
            tr.sql.push_back("UPDATE \"dvcat\".\"dv_logins\" SET default_db = " + quoteLiteral(defaultDb) + " WHERE name = " + quoteLiteral(login));
    } else {
        raiseWhere(tr, 15151, "Cannot drop the login '" + login + "', because it does not exist or you do not have permission.", exists + " = 0");
        tr.sql.push_back("DELETE FROM \"dvcat\".\"dv_logins\" WHERE name = " + quoteLiteral(login));
    }
}

} // namespace ts
