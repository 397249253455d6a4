// Data definition: CREATE/DROP TABLE, table variables, indexes, schemas,
// users and logins, translated into SQLite DDL plus the catalogue rows the
// server's views read.
#include "sqltranslate.h"

#include "collation.h"
#include "enginefunctions.h"
#include "enginenumbers.h"
#include "textcollation.h"

#include <cstdlib>
#include <random>
#include <set>

namespace ts {

// TABLE ( column definitions and table constraints )
std::vector<std::string> Translator::tableVariable(size_t &i, const std::string &sqlName, TableMeta &meta)
{
    expectWord(i, "TABLE");
    expectOp(i, "(");
    std::vector<ColumnMeta> cols;
    std::vector<std::string> pk;
    std::vector<std::vector<std::string>> uniques;
    std::vector<std::string> checks;
    int64_t seed = 1;
    auto columnList = [&](std::vector<std::string> &out) {
        expectOp(i, "(");
        for (;;) {
            out.push_back(name(i));
            if (tok(i).isWord("ASC") || tok(i).isWord("DESC")) ++i;
            if (!tok(i).isOp(",")) break;
            ++i;
        }
        expectOp(i, ")");
    };
    auto constraintWords = [&]() {
        if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
    };
    Translation scratch;
    for (;;) {
        if (tok(i).isWord("PRIMARY")) {
            ++i;
            expectWord(i, "KEY");
            constraintWords();
            if (!pk.empty()) throw makeError(8110, 16, "Cannot add multiple PRIMARY KEY constraints to table '@table variable'.", true);
            columnList(pk);
        } else if (tok(i).isWord("UNIQUE")) {
            ++i;
            constraintWords();
            uniques.emplace_back();
            columnList(uniques.back());
        } else if (tok(i).isWord("CHECK")) {
            ++i;
            expectOp(i, "(");
            checks.push_back(expr(i, scratch));
            expectOp(i, ")");
        } else {
            ColumnMeta m;
            m.name = name(i);
            ColumnMeta ty = typeSpec(i);
            m.type = ty.type; m.length = ty.length; m.precision = ty.precision; m.scale = ty.scale;
            for (;;) {
                if (tok(i).isWord("IDENTITY")) {
                    ++i;
                    m.identity = true;
                    m.nullable = false;
                    if (tok(i).isOp("(")) {
                        ++i;
                        bool neg = tok(i).isOp("-");
                        if (neg) ++i;
                        if (tok(i).kind != Token::Number) throw syntaxError(tok(i));
                        seed = std::atoll(tok(i).value.c_str()) * (neg ? -1 : 1);
                        ++i;
                        expectOp(i, ",");
                        if (tok(i).isOp("-")) ++i;
                        if (tok(i).kind != Token::Number) throw syntaxError(tok(i));
                        ++i;
                        expectOp(i, ")");
                    }
                } else if (tok(i).isWord("NOT") && tok(i + 1).isWord("NULL")) {
                    i += 2; m.nullable = false;
                } else if (tok(i).isWord("NULL")) {
                    ++i; m.nullable = true;
                } else if (tok(i).isWord("PRIMARY")) {
                    ++i;
                    expectWord(i, "KEY");
                    constraintWords();
                    if (!pk.empty()) throw makeError(8110, 16, "Cannot add multiple PRIMARY KEY constraints to table '@table variable'.", true);
                    pk.push_back(m.name);
                } else if (tok(i).isWord("UNIQUE")) {
                    ++i;
                    constraintWords();
                    uniques.push_back({m.name});
                } else if (tok(i).isWord("DEFAULT")) {
                    ++i;
                    Translation d;
                    m.defaultSql = expr(i, d);
                    if (!d.params.empty()) throw syntaxError(tok(i - 1));
                } else if (tok(i).isWord("CHECK")) {
                    ++i;
                    expectOp(i, "(");
                    checks.push_back(expr(i, scratch));
                    expectOp(i, ")");
                } else if (tok(i).isWord("COLLATE")) {
                    ++i;
                    name(i);
                } else {
                    break;
                }
            }
            for (const auto &c : cols)
                if (iequals(c.name, m.name))
                    throw makeError(2705, 16, "Column names in each table must be unique. Column name '" + m.name
                                    + "' in table '@table variable' is specified more than once.", true);
            cols.push_back(m);
        }
        if (!tok(i).isOp(",")) break;
        ++i;
        if (tok(i).isOp(")")) break;
    }
    expectOp(i, ")");
    if (!scratch.params.empty()) throw syntaxError(tok(i - 1)); // constraints hold no variables
    int ord = 0;
    for (const auto &p : pk) {
        ++ord;
        bool found = false;
        for (auto &c : cols)
            if (iequals(c.name, p)) { c.pkOrdinal = ord; c.nullable = false; found = true; }
        if (!found) throw makeError(1911, 16, "Column name '" + p + "' does not exist in the target table or view.", true);
    }
    int identities = 0;
    for (const auto &c : cols) identities += c.identity ? 1 : 0;
    if (identities > 1)
        throw makeError(2744, 16, "Multiple identity columns specified for table '@table variable'. Only one identity column per table is allowed.", true);
    meta.name = sqlName;
    meta.columns = cols;

    std::string ddl = "CREATE TABLE \"temp\"." + quoteIdent(sqlName) + " (";
    bool identityIsKey = false;
    for (size_t k = 0; k < cols.size(); ++k) {
        const ColumnMeta &c = cols[k];
        if (k) ddl += ", ";
        if (c.identity) {
            ddl += quoteIdent(c.name) + " INTEGER PRIMARY KEY AUTOINCREMENT";
            identityIsKey = pk.size() == 1 && c.pkOrdinal == 1;
            continue;
        }
        ddl += quoteIdent(c.name) + " " + sqliteDecl(c);
        if (!c.nullable) ddl += " NOT NULL";
        if (!c.defaultSql.empty()) ddl += " DEFAULT (" + c.defaultSql + ")";
        ddl += " CHECK (dv_check(" + quoteIdent(c.name) + ", " + typeArgs(c) + "))";
    }
    auto quoted = [](const std::vector<std::string> &v) {
        std::string s;
        for (size_t k = 0; k < v.size(); ++k) { if (k) s += ", "; s += quoteIdent(v[k]); }
        return s;
    };
    if (!pk.empty() && !identityIsKey) ddl += (identities ? ", UNIQUE (" : ", PRIMARY KEY (") + quoted(pk) + ")";
    for (const auto &u : uniques) ddl += ", UNIQUE (" + quoted(u) + ")";
    for (const auto &c : checks) ddl += ", CHECK (" + c + ")";
    ddl += ")";
    std::vector<std::string> out{ddl};
    if (identities && seed != 1)
        out.push_back("INSERT INTO \"temp\".sqlite_sequence(name, seq) VALUES (" + quoteLiteral(sqlName) + ", "
                      + std::to_string(seed - 1) + ")");
    return out;
}

// A statement that raises error `number` (severity 16) when `cond` holds.
static void raiseWhere(Translation &tr, int number, const std::string &text, const std::string &cond)
{
    tr.sql.push_back("SELECT dv_raise(" + std::to_string(number) + ", 16, " + quoteLiteral(text) + ") WHERE " + cond);
}

static std::string randomHex(int n)
{
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    static const char *hex = "0123456789ABCDEF";
    std::string s;
    for (int k = 0; k < n; ++k) s += hex[rng() % 16];
    return s;
}

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
    if (m.type == "money" || m.type == "smallmoney") d += " text";
    if (m.type == "decimal" || m.type == "numeric" || m.type == "money" || m.type == "smallmoney")
        d += std::string(" COLLATE ") + kDecimalCollation;
    // Text compares, sorts and is unique by its collation (see textcollation.h).
    if (isChar) d += " COLLATE " + quoteIdent(m.collation.empty() ? serverCollation().name : m.collation);
    if (m.type == "datetime" || m.type == "date" || isTemporalType(m.type)) d += std::string(" COLLATE ") + kTimeCollation;
    if (m.type == "uniqueidentifier") d += std::string(" COLLATE ") + kGuidCollation;
    return d;
}

void Translator::createTable(size_t &i, Translation &tr)
{
    expectWord(i, "CREATE");
    expectWord(i, "TABLE");
    std::string written, schema, plain;
    m_creating = true;
    std::string target = objectName(i, &written, &schema, &plain);
    m_creating = false;
    const std::string owner = m_owner, objName = m_objName;
    tr.kind = Translation::Ddl;
    tr.table = written;
    tr.schema = schema;
    tr.targetInternal = plain;
    if (ctx && schema != "dvcat") {
        if (!ctx->schemaExists(schema, owner))
            throw makeError(2760, 16, "The specified schema name \"" + owner + "\" either does not exist or you do not have permission to use it.");
        if (!ctx->objectType(schema, plain).empty())
            throw makeError(2714, 16, "There is already an object named '" + objName + "' in the database.");
    }
    expectOp(i, "(");
    std::vector<ColumnMeta> cols;
    std::vector<std::string> pkCols;
    std::string pkName;
    std::vector<std::pair<std::string, std::vector<std::string>>> uniques;
    std::vector<std::pair<int64_t, int64_t>> identitySeed;
    auto columnList = [&](std::vector<std::string> &out) {
        expectOp(i, "(");
        out.push_back(name(i));
        if (tok(i).isWord("ASC") || tok(i).isWord("DESC")) ++i;
        while (tok(i).isOp(",")) {
            ++i;
            out.push_back(name(i));
            if (tok(i).isWord("ASC") || tok(i).isWord("DESC")) ++i;
        }
        expectOp(i, ")");
    };
    int64_t seed = 1;
    for (;;) {
        std::string cname;
        if (tok(i).isWord("CONSTRAINT")) { ++i; cname = name(i); }
        if (tok(i).isWord("PRIMARY")) {
            ++i;
            expectWord(i, "KEY");
            if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
            if (!pkCols.empty()) throw makeError(8110, 16, "Cannot add multiple PRIMARY KEY constraints to table '" + objName + "'.", true);
            columnList(pkCols);
            pkName = cname;
        } else if (tok(i).isWord("UNIQUE")) {
            ++i;
            if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
            std::vector<std::string> u;
            columnList(u);
            uniques.push_back({cname, u});
        } else {
            if (!cname.empty()) throw syntaxError(tok(i));
            ColumnMeta m;
            m.name = name(i);
            if (tok(i).isWord("AS")) {
                // A computed column: SQLite computes it from the row (STORED when PERSISTED).
                ++i;
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
                cols.push_back(m);
                if (!tok(i).isOp(",")) break;
                ++i;
                if (tok(i).isOp(")")) break;
                continue;
            }
            ColumnMeta ty = typeSpec(i);
            m.type = ty.type; m.length = ty.length; m.precision = ty.precision; m.scale = ty.scale;
            if (m.type == "timestamp") m.nullable = false;
            bool explicitNull = false;
            for (;;) {
                if (tok(i).isWord("IDENTITY")) {
                    ++i;
                    m.identity = true;
                    m.nullable = false;
                    if (tok(i).isOp("(")) {
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
                    }
                } else if (tok(i).isWord("NOT") && tok(i + 1).isWord("NULL")) {
                    i += 2; m.nullable = false; explicitNull = true;
                } else if (tok(i).isWord("NULL")) {
                    ++i; m.nullable = true; explicitNull = true;
                } else if (tok(i).isWord("CONSTRAINT")) {
                    ++i; cname = name(i);
                } else if (tok(i).isWord("PRIMARY")) {
                    ++i;
                    expectWord(i, "KEY");
                    if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
                    if (!pkCols.empty()) throw makeError(8110, 16, "Cannot add multiple PRIMARY KEY constraints to table '" + objName + "'.", true);
                    pkCols.push_back(m.name);
                    pkName = cname;
                    cname.clear();
                } else if (tok(i).isWord("UNIQUE")) {
                    ++i;
                    if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
                    uniques.push_back({cname, {m.name}});
                    cname.clear();
                } else if (tok(i).isWord("DEFAULT")) {
                    ++i;
                    Translation scratch;
                    m.defaultSql = expr(i, scratch);
                    if (!scratch.params.empty()) throw syntaxError(tok(i - 1)); // variables are not constants
                    cname.clear();
                } else if (tok(i).isWord("COLLATE")) {
                    ++i;
                    m.collation = collationName(i);
                } else break;
            }
            (void)explicitNull;
            if (m.identity && m.type != "int" && m.type != "bigint" && m.type != "smallint" && m.type != "tinyint"
                && m.type != "decimal" && m.type != "numeric")
                throw makeError(2749, 16, "Identity column '" + m.name + "' must be of data type int, bigint, smallint, tinyint, or decimal or numeric with a scale of 0, and constrained to be nonnullable.", true);
            cols.push_back(m);
        }
        if (!tok(i).isOp(",")) break;
        ++i;
        if (tok(i).isOp(")")) break; // SQL Server accepts a trailing comma
    }
    expectOp(i, ")");
    if (cols.empty()) throw syntaxError(tok(i));
    int ord = 0;
    for (const auto &p : pkCols) {
        ++ord;
        bool found = false;
        for (auto &c : cols) if (iequals(c.name, p)) { c.pkOrdinal = ord; c.nullable = false; found = true; }
        if (!found) throw makeError(1911, 16, "Column name '" + p + "' does not exist in the target table or view.", true);
    }
    int identities = 0;
    for (const auto &c : cols) identities += c.identity ? 1 : 0;
    const ColumnMeta *rowversion = nullptr;
    for (const auto &c : cols) {
        if (c.type != "timestamp") continue;
        if (rowversion)
            throw makeError(2738, 16, "A table can only have one timestamp column. Because table '" + objName
                            + "' already has one, the column '" + c.name + "' cannot be added.", true);
        rowversion = &c;
    }
    if (identities > 1) throw makeError(2744, 16, "Multiple identity columns specified for table '" + objName + "'. Only one identity column per table is allowed.", true);
    if (!pkCols.empty() && pkName.empty()) pkName = "PK__" + objName.substr(0, 8) + "__" + randomHex(16);
    std::string shortName = objName.substr(0, 8);

    std::string qschema = quoteIdent(schema);
    std::string ddl = "CREATE TABLE " + target + " (";
    bool firstCol = true;
    bool identityIsKey = false;
    for (const auto &c : cols) {
        if (!firstCol) ddl += ", ";
        firstCol = false;
        if (c.identity) {
            // The identity column is SQLite's rowid: values are assigned on insert.
            ddl += quoteIdent(c.name) + " INTEGER PRIMARY KEY AUTOINCREMENT";
            identityIsKey = pkCols.size() == 1 && c.pkOrdinal == 1;
            continue;
        }
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
    auto quotedList = [&](const std::vector<std::string> &v) {
        std::string s;
        for (size_t k = 0; k < v.size(); ++k) { if (k) s += ", "; s += quoteIdent(v[k]); }
        return s;
    };
    bool hasIdentity = identities > 0;
    if (!pkCols.empty() && !identityIsKey) ddl += hasIdentity ? ", UNIQUE (" + quotedList(pkCols) + ")" : ", PRIMARY KEY (" + quotedList(pkCols) + ")";
    for (const auto &u : uniques) ddl += ", UNIQUE (" + quotedList(u.second) + ")";
    ddl += ")";
    tr.sql.push_back(ddl);
    tr.sql.push_back("INSERT INTO " + qschema + ".\"__dv_tables\"(name, object_id, create_date, pk_name, schema_name, obj_name, type) VALUES ("
                     + quoteLiteral(plain) + ", (SELECT coalesce(max(object_id), 901578250) + 16 FROM " + qschema
                     + ".\"__dv_tables\"), dv_getdate(), " + (pkName.empty() ? "NULL" : quoteLiteral(pkName)) + ", "
                     + quoteLiteral(owner) + ", " + quoteLiteral(objName) + ", 'U')");
    // Keys and unique constraints are indexes too (sys.indexes): the primary key is index 1.
    auto recordIndex = [&](const std::string &idx, int id, bool pk, bool uc, const std::vector<std::string> &keyCols) {
        tr.sql.push_back("INSERT INTO " + qschema + ".\"__dv_indexes\" VALUES (" + quoteLiteral(plain) + ", "
                         + quoteLiteral(idx) + ", " + std::to_string(id) + ", 1, " + (pk ? "1" : "0") + ", "
                         + (uc ? "1" : "0") + ")");
        for (size_t k = 0; k < keyCols.size(); ++k)
            tr.sql.push_back("INSERT INTO " + qschema + ".\"__dv_index_columns\" VALUES (" + quoteLiteral(plain) + ", "
                             + quoteLiteral(idx) + ", " + std::to_string(k + 1) + ", " + quoteLiteral(keyCols[k]) + ", 0)");
    };
    if (!pkCols.empty()) recordIndex(pkName, 1, true, false, pkCols);
    int n = 0;
    // A computed column's type is what its expression gives for a row of sample values.
    std::string sampleRow;
    for (const auto &c : cols) {
        if (!c.computed.empty()) continue;
        std::string v = c.type == "int" || c.type == "bigint" || c.type == "smallint" || c.type == "tinyint" || c.type == "bit" ? "1"
            : c.type == "float" || c.type == "real" || c.type == "decimal" || c.type == "numeric" || c.type == "money" || c.type == "smallmoney" ? "1.5"
            : c.type == "datetime" || c.type == "date" || isTemporalType(c.type) ? "'2000-01-01'"
            : c.type == "uniqueidentifier" ? "'00000000-0000-0000-0000-000000000000'"
            : c.type == "varbinary" || c.type == "binary" || c.type == "timestamp" ? "x'00'" : "'1'";
        sampleRow += std::string(sampleRow.empty() ? "SELECT " : ", ") + v + " AS " + quoteIdent(c.name);
    }
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
        tr.sql.push_back("INSERT INTO " + qschema + ".\"__dv_columns\" VALUES (" + quoteLiteral(plain) + ", "
                         + quoteLiteral(c.name) + ", " + std::to_string(n) + ", " + type + ", "
                         + (c.nullable ? "1" : "0") + ", " + (c.identity ? "1" : "0") + ", "
                         + std::to_string(c.pkOrdinal) + ", " + uq + ", " + (c.computed.empty() ? "NULL" : quoteLiteral(c.computed)) + ")");
    }
    // Key violations are reported by triggers so that the message carries the key value.
    auto keyTrigger = [&](const std::string &cons, const std::string &kind, const std::vector<std::string> &keyCols) {
        std::string cond, values, upd;
        for (size_t k = 0; k < keyCols.size(); ++k) {
            if (k) { cond += " AND "; values += ", "; }
            cond += quoteIdent(keyCols[k]) + " = NEW." + quoteIdent(keyCols[k]);
            values += "NEW." + quoteIdent(keyCols[k]);
        }
        std::string msg = "'Violation of " + kind + " constraint ''" + cons + "''. Cannot insert duplicate key in object ''"
            + owner + "." + objName + "''. The duplicate key value is (' || dv_keytext(" + values + ") || ').'";
        std::string trg = "__dv_" + randomHex(12);
        tr.sql.push_back("CREATE TRIGGER " + qschema + "." + quoteIdent(trg + "_i") + " BEFORE INSERT ON "
                         + quoteIdent(plain) + " WHEN EXISTS (SELECT 1 FROM " + quoteIdent(plain) + " WHERE " + cond
                         + ") BEGIN SELECT dv_raise(2627, 14, " + msg + "); END");
        tr.sql.push_back("CREATE TRIGGER " + qschema + "." + quoteIdent(trg + "_u") + " BEFORE UPDATE ON "
                         + quoteIdent(plain) + " WHEN EXISTS (SELECT 1 FROM " + quoteIdent(plain) + " WHERE " + cond
                         + " AND rowid <> OLD.rowid) BEGIN SELECT dv_raise(2627, 14, " + msg + "); END");
    };
    if (!pkCols.empty() && !identityIsKey) keyTrigger(pkName, "PRIMARY KEY", pkCols);
    int nextIndex = 2;
    for (auto &u : uniques) {
        std::string cons = u.first.empty() ? "UQ__" + shortName + "__" + randomHex(16) : u.first;
        keyTrigger(cons, "UNIQUE KEY", u.second);
        recordIndex(cons, nextIndex++, false, true, u.second);
        tr.sql.push_back("UPDATE " + qschema + ".\"__dv_columns\" SET uq_name = " + quoteLiteral(cons)
                         + " WHERE tbl = " + quoteLiteral(plain) + " AND col = " + quoteLiteral(u.second.front())
                         + " AND uq_name IS NULL");
    }
    // Dates, uniqueidentifiers and numbers are stored in one form (decimals as text with the
    // column's scale, real as a 4-byte float) so that comparisons with parameters match;
    // char(n) and nchar(n) blank-padded to their length, as SQL Server holds and returns them.
    std::string sets;
    for (const auto &c : cols) {
        const bool number = c.type == "decimal" || c.type == "numeric" || c.type == "money" || c.type == "smallmoney"
            || c.type == "real";
        const bool fixedText = (c.type == "char" || c.type == "nchar") && c.length > 0;
        if (c.type != "datetime" && c.type != "date" && !isTemporalType(c.type) && c.type != "uniqueidentifier" && !number
            && !fixedText)
            continue;
        if (!sets.empty()) sets += ", ";
        if (fixedText)
            sets += quoteIdent(c.name) + " = dv_pad(" + quoteIdent(c.name) + ", " + std::to_string(c.length) + ", "
                + (c.type == "nchar" ? "1" : "0") + ")";
        else if (c.type == "uniqueidentifier" || number)
            sets += quoteIdent(c.name) + " = dv_cast(" + quoteIdent(c.name) + ", " + typeArgs(c) + ")";
        else if (isTemporalType(c.type))
            sets += quoteIdent(c.name) + " = dv_temporal(" + quoteIdent(c.name) + ", " + quoteLiteral(c.type) + ", "
                + std::to_string(c.scale) + ")";
        else
            sets += quoteIdent(c.name) + " = dv_datetext(" + quoteIdent(c.name) + ", " + quoteLiteral(c.type) + ")";
    }
    if (!sets.empty()) {
        std::string trg = "__dv_" + randomHex(12);
        tr.sql.push_back("CREATE TRIGGER " + qschema + "." + quoteIdent(trg + "_di") + " AFTER INSERT ON "
                         + quoteIdent(plain) + " BEGIN UPDATE " + quoteIdent(plain) + " SET " + sets
                         + " WHERE rowid = NEW.rowid; END");
        tr.sql.push_back("CREATE TRIGGER " + qschema + "." + quoteIdent(trg + "_du") + " AFTER UPDATE ON "
                         + quoteIdent(plain) + " BEGIN UPDATE " + quoteIdent(plain) + " SET " + sets
                         + " WHERE rowid = NEW.rowid; END");
    }
    if (hasIdentity && seed != 1)
        tr.sql.push_back("INSERT INTO " + qschema + ".sqlite_sequence(name, seq) VALUES (" + quoteLiteral(plain)
                         + ", " + std::to_string(seed - 1) + ")");
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
