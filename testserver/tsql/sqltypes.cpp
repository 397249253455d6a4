// Alias types: CREATE TYPE [schema.]name FROM base [NULL | NOT NULL] and
// DROP TYPE [IF EXISTS] [schema.]name, kept in the database's __dv_types
// (sys.types) with the columns declared with them in __dv_column_types.
#include "tsql/sqltranslate.h"

namespace ts {

namespace {

// The stored form of a base type: "varchar", 20, 0, 0.
std::string typeColumns(const ColumnMeta &m)
{
    return quoteLiteral(m.type) + ", " + std::to_string(m.length) + ", " + std::to_string(m.precision) + ", "
        + std::to_string(m.scale);
}

} // namespace

void Translator::typeStatement(size_t &i, Translation &tr)
{
    const bool create = tok(i).isWord("CREATE");
    ++i;
    expectWord(i, "TYPE");
    tr.kind = Translation::Ddl;
    bool ifExists = false;
    if (!create && tok(i).isWord("IF") && tok(i + 1).isWord("EXISTS")) { ifExists = true; i += 2; }
    std::string schema, typeName = name(i);
    if (tok(i).isOp(".")) { ++i; schema = typeName; typeName = name(i); }
    const std::string written = schema.empty() ? typeName : schema + "." + typeName;
    ColumnMeta base;
    if (create) {
        expectWord(i, "FROM");
        base = typeSpec(i);
        if (tok(i).isWord("NOT") && tok(i + 1).isWord("NULL")) { i += 2; base.nullable = false; }
        else if (tok(i).isWord("NULL")) ++i;
    }
    if (!ctx) return;
    if (schema.empty()) schema = ctx->defaultSchema();
    const std::string q = quoteIdent(ctx->schemaFor(""));
    std::optional<AliasType> existing = ctx->aliasType(schema, typeName);
    if (create) {
        if (!ctx->schemaExists("main", schema))
            throw makeError(2760, 16, "The specified schema name \"" + schema + "\" either does not exist or you do not have permission to use it.");
        ColumnMeta builtIn;
        if (existing || parseTypeName(typeName, builtIn))
            throw makeError(219, 16, "The type '" + written + "' already exists, or you do not have permission to create it.");
        if (base.userTypeId || base.type == "timestamp")
            throw makeError(2715, 16, "Column, parameter, or variable #1: Cannot find data type " + base.userType + ".", true);
        tr.sql.push_back("INSERT INTO " + q + ".\"__dv_types\" VALUES (" + quoteLiteral(typeName) + ", " + quoteLiteral(schema)
                         + ", (SELECT max(256, coalesce(max(user_type_id), 256)) + 1 FROM " + q + ".\"__dv_types\"), "
                         + typeColumns(base) + ", " + (base.nullable ? "1" : "0") + ")");
        return;
    }
    if (!existing) {
        if (ifExists) return;
        throw makeError(218, 16, "Could not find the type '" + written + "'. Either it does not exist or you do not have the necessary permission.");
    }
    const std::string id = std::to_string(existing->userTypeId);
    tr.sql.push_back("SELECT dv_raise(3732, 16, " + quoteLiteral("Cannot drop type '" + written + "' because it is being referenced by object '")
                     + " || o.name || " + quoteLiteral("'. There may be other objects that reference this type.") + ") FROM " + q
                     + ".\"__dv_column_types\" ct JOIN " + q + ".\"__dv_objects\" o ON o.iname = ct.tbl WHERE ct.user_type_id = " + id + " LIMIT 1");
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_types\" WHERE user_type_id = " + id);
}

} // namespace ts
