// Parses T-SQL statements and translates DML/DDL into SQLite SQL.
#pragma once

#include "base/decimal.h"
#include "base/values.h"
#include "tsql/sqllexer.h"

#include <map>
#include <optional>
#include <stdexcept>
#include <functional>
#include <string>
#include <vector>

namespace ts {

// An error raised while parsing or running a statement, with SQL Server's
// number, severity and text. abortBatch: the rest of the batch does not run.
struct SqlError {
    Message msg;
    bool abortBatch = false;
};

SqlError syntaxError(const Token &t);          // 102 / 156
SqlError makeError(int number, int severity, const std::string &text, bool abortBatch = false);

// A column of a user table as declared in T-SQL.
struct ColumnMeta {
    std::string name;
    std::string type;       // lower-case T-SQL type name: "int", "nvarchar", ...
    int length = 0;         // -1 = max
    int precision = 0;
    int scale = 0;
    bool nullable = true;
    bool identity = false;
    int pkOrdinal = 0;      // 1-based position in the primary key, 0 = not a key column
    std::string defaultSql; // SQLite expression of a DEFAULT, empty = none
    std::string computed;   // AS expr: the SQLite expression; empty = a stored column
    bool persisted = false; // AS expr PERSISTED
    std::string collation;  // COLLATE of a text column; empty = the server's
    // Declared with an alias type (CREATE TYPE ... FROM): its name and
    // sys.types user_type_id; type/length/... hold its base type. A name with
    // id 0 was written where no catalogue could resolve it yet (DECLARE).
    std::string userType;
    int userTypeId = 0;
    bool writable() const { return computed.empty() && type != "timestamp"; }
};

struct TableMeta {
    std::string name;       // internal (SQLite) name: "t" for dbo.t, "sales.t" for sales.t
    std::string owner = "dbo"; // schema
    std::string objName;    // name within the schema
    std::string type = "U"; // U table, V view
    std::vector<ColumnMeta> columns;
    const ColumnMeta *column(const std::string &name) const;
    bool hasIdentity() const;
};

// Maps a T-SQL type (name, length, precision, scale) to the result column type.
ColumnDef columnDefFor(const ColumnMeta &c);
// Parses "nvarchar(50)", "decimal(10,2)" ... ; false for an unknown type name.
bool parseTypeName(const std::string &decl, ColumnMeta &out);
// ".ToString(", ".GetLevel(" ... at `i`: a hierarchyid method of the value before it.
bool hierarchyIdMethodAt(const std::vector<Token> &toks, size_t i);

// An alias type of a database (CREATE TYPE name FROM base): its base type as
// a declaration ("varchar(20)"), whether its columns allow NULL by default.
struct AliasType {
    std::string name;
    std::string decl;
    bool nullable = true;
    int userTypeId = 0;
};

// What the translator needs from the running session. In syntax-check mode
// no context is given and names are not resolved.
class TranslateContext {
public:
    virtual ~TranslateContext() = default;
    // SQLite schema name for a database name ("" = current database).
    virtual std::string schemaFor(const std::string &db) = 0;
    // Declared columns of a user table, or nullopt when it does not exist.
    virtual std::optional<TableMeta> table(const std::string &schema, const std::string &name) = 0;
    virtual Value variable(const std::string &lowerName, bool *found) = 0;
    // A variable's declared type (empty type when unknown): decimal values are text and need it for arithmetic.
    virtual ColumnMeta variableType(const std::string &lowerName) { (void)lowerName; return {}; }
    virtual Value systemValue(const std::string &upperName) = 0; // @@VERSION, DB_NAME(), ...
    virtual bool identityInsert(const std::string &table) { (void)table; return false; }
    // Schema unqualified names resolve in first (then dbo), and new objects go to.
    virtual std::string defaultSchema() { return "dbo"; }
    virtual bool schemaExists(const std::string &dbSchema, const std::string &name) { (void)dbSchema; return iequals(name, "dbo"); }
    // The alias type schema.name of the current database ("" schema = the default, then dbo).
    virtual std::optional<AliasType> aliasType(const std::string &schema, const std::string &name)
    {
        (void)schema; (void)name;
        return std::nullopt;
    }
    // "U", "V", "TR" ... of an object by internal name; "" when there is none.
    virtual std::string objectType(const std::string &dbSchema, const std::string &internal) = 0;
    // The stored name of a local temporary table (#name): each connection has its own.
    virtual std::string localTempName(const std::string &name) { return name; }
    // Inside a trigger: the SQLite table in temp that holds `inserted` or `deleted` (lower case).
    virtual bool pseudoTable(const std::string &lowerName, std::string *sqlName)
    {
        (void)lowerName; (void)sqlName;
        return false;
    }
    // A table variable of the batch ("@t", lower case): its columns and SQLite table name in temp.
    virtual std::optional<TableMeta> tableVariable(const std::string &lowerName, std::string *sqlName)
    {
        (void)lowerName; (void)sqlName;
        return std::nullopt;
    }
    // WHERE CURRENT OF: the SQLite rowid of the cursor's current row in
    // `table` (an internal name); throws the SqlError a client would get
    // (no such cursor, read only, no current row).
    virtual int64_t cursorCurrentRow(const std::string &cursor, bool global, bool variable, const std::string &table);
};

// The SQLite name of schema.name: dbo objects keep their plain name.
std::string internalName(const std::string &owner, const std::string &name);

struct Translation {
    enum Kind { Query, Change, Ddl } kind = Query;
    std::vector<std::string> sql;       // executed in order; the last one gives rows or counts
    std::vector<Value> params;          // bound as ?1, ?2 ... in every statement
    std::map<std::string, std::string> writtenNames; // lower-case SQLite table name -> name as written
    std::vector<std::string> assignVars; // SELECT @a = x, @b = y: variables in column order
    std::string verb;                   // "INSERT", "UPDATE", "DELETE" (error texts)
    std::string table;                  // target table name as written (DML/DDL)
    std::string dropTable;              // DROP TABLE: plain name (meta clean-up)
    std::string schema;                 // schema of the target table
    std::string targetInternal;         // INSERT/UPDATE/DELETE: the target's internal (SQLite) name
    // OUTPUT clause of INSERT/UPDATE/DELETE: the statement returns rows.
    struct OutputCol {
        std::string name;
        std::optional<ColumnMeta> meta; // a plain INSERTED/DELETED column; nullopt = expression
    };
    bool output = false;
    std::vector<OutputCol> outputCols;
    // OUTPUT ... INTO @t|table [(cols)]: the rows go there instead of to the client.
    std::string intoSql;                // the INSERT's target, e.g. "temp"."__dv_tv1_t"
    std::vector<std::string> intoCols;  // its columns, in OUTPUT order
    // OUTPUT DELETED.x in an UPDATE: old rows are kept in temp."__dv_old" by a BEFORE UPDATE trigger.
    bool captureOld = false;
    std::string intoTarget;             // SELECT ... INTO: the new table's name as written
    bool derived = false;               // rows from a CTE, window or table variable: tied to no base table
    // The types the translator worked out for the result columns, by position.
    struct ResultType {
        // An item that is a call whose type is known (DATEDIFF int, EOMONTH
        // date ...); type "" = typed by its first value, "temporal" = the
        // date type its value's text shows.
        ColumnMeta call;
        // The numeric type of the item (num::typeCode, "" = from the values).
        std::string number;
    };
    std::vector<ResultType> resultTypes;
};

// Statement tree of a batch.
struct Stmt {
    enum Kind {
        Sql, Use, CreateDatabase, DropDatabase, BackupDatabase, BackupLogNoLog, DumpTranNoLog,
        Restore, Exec, DbccShrink, If, Block, Declare, SetVar, SetOption, Print, Raiserror,
        Waitfor, Return, BeginTran, CommitTran, RollbackTran, While, SaveTran, Throw, DeclareTable,
        CreateTrigger, DropTrigger, EnableTrigger, CreateView, DropView, TryCatch,
        DeclareCursor, OpenCursor, FetchCursor, CloseCursor, DeallocateCursor, Merge
    } kind = Sql;
    size_t begin = 0, end = 0;          // token range [begin, end)
    int line = 1;
    std::vector<Stmt> body;             // If: then [, else]; Block/While: statements
    size_t condBegin = 0, condEnd = 0;  // If/While condition; SetVar/Print/Raiserror expression ranges
    std::string name;                   // database, procedure, variable, option
    std::string text;                   // path / device / option value
    bool flag = false;                  // WITH REPLACE; TO DISK (vs device); SET ON
    struct FileSpec {
        std::string logical, physical;
        int64_t sizeKb = -1, maxKb = -2, growth = -1; // -2: not given, -1: unlimited
        bool percent = false;
    };
    std::vector<FileSpec> dataFiles, logFiles;
    struct Arg { std::string paramName; size_t tok = 0; size_t tokEnd = 0; bool output = false; };
    std::vector<Arg> args;
    std::vector<std::pair<std::string, ColumnMeta>> declares; // DECLARE @x type [= expr]
    std::vector<std::pair<size_t, size_t>> declareInit;       // init expression ranges (0,0 = none)
    // BACKUP and RESTORE options.
    struct Media {
        enum What { Database, HeaderOnly, FileListOnly, VerifyOnly } what = Database;
        int file = 0;               // WITH FILE = n (0 = not given)
        bool init = false, format = false;
        std::string name, description;
    } media;
    // CREATE/ALTER/DROP/ENABLE/DISABLE TRIGGER.
    struct Trigger {
        std::vector<std::pair<std::string, std::string>> names; // (schema or "", name); several for DROP
        std::string tableSchema, table;  // ON [schema.]table ("" schema = resolve); empty for DROP
        bool create = false, alter = false; // CREATE OR ALTER sets both
        bool insteadOf = false;
        bool all = false;                // ENABLE/DISABLE TRIGGER ALL ON t
        bool ifExists = false;
        std::string events;              // "INSERT,UPDATE" in the order written
        std::string body;                // the text after AS, lines kept
    } trigger;
    // CREATE/ALTER/DROP VIEW: names as in `trigger`; the SELECT starts at token selectBegin.
    std::vector<std::string> viewColumns;  // CREATE VIEW v (a, b) AS ...
    size_t selectBegin = 0;
    // Cursor statements; a DECLARE CURSOR's SELECT is the tokens [selectBegin, cursor.selectEnd).
    struct Cursor {
        bool global = false;        // DECLARE ... GLOBAL; OPEN/FETCH/CLOSE/DEALLOCATE GLOBAL name
        bool variable = false;      // `name` is a cursor variable (@c)
        bool scroll = false;        // every FETCH direction allowed
        bool populated = false;     // STATIC, KEYSET or INSENSITIVE: @@CURSOR_ROWS counts its rows at OPEN
        bool readOnly = false;      // READ_ONLY, STATIC, FAST_FORWARD, INSENSITIVE or FOR READ ONLY
        std::string fetch = "NEXT"; // NEXT PRIOR FIRST LAST ABSOLUTE RELATIVE
        Arg offset;                 // ABSOLUTE/RELATIVE n
        std::vector<std::string> into; // FETCH ... INTO @a, @b (lower case)
        size_t selectEnd = 0;
    } cursor;
};

struct TableDef; // a table's columns and constraints as declared (sqlddl.cpp)

// MERGE (sqlmerge.cpp) as the engine runs it: the source rows are kept in
// temp."__dv_msrc", the (source, target) row pairs with the clause that acts
// on each in temp."__dv_mpair", and each clause is one statement over them.
struct MergePlan {
    Translation tr;            // target, parameters, OUTPUT columns and INTO
    std::string target;        // the target as SQLite names it
    std::string targetAlias;   // quoted name of the target in the conditions
    std::string sourceAlias;   // quoted name of the source
    std::string source;        // SELECT giving the source rows
    std::string on;            // the ON condition
    std::string top;           // TOP (n): its expression, "" = none
    struct Clause {
        enum When { Matched, NotMatchedByTarget, NotMatchedBySource } when = Matched;
        std::string verb;      // UPDATE, DELETE or INSERT
        std::string cond;      // AND condition, "" = none
        std::string set;       // UPDATE: the SET list
        std::string columns;   // INSERT: "(a, b)" or "" (DEFAULT VALUES)
        std::string values;    // INSERT: the value list
    };
    std::vector<Clause> clauses;
    std::string output;        // OUTPUT's select list over the source, inserted, deleted and the pair
};

class Translator {
public:
    Translator(const std::vector<Token> &toks, TranslateContext *context, bool compat)
        : t(toks), ctx(context), compat2000(compat) {}

    // Parses the statements from `i` up to End; throws SqlError on a syntax error.
    std::vector<Stmt> parseBatch();

    // Translates the DML/DDL statement starting at token `begin`.
    Translation translate(size_t begin);
    // MERGE from its first word; `i` ends after its last clause (the semicolon not taken).
    MergePlan translateMerge(size_t &i);
    // Translates an expression range into a SQLite expression.
    // `variant`: the value goes into a sql_variant (and keeps its written type).
    Translation translateExpr(size_t begin, size_t end, bool variant = false);
    // DECLARE @t TABLE (...) from the TABLE keyword at `i`: the statements that
    // create the table `sqlName` in SQLite's temp schema, and its columns.
    std::vector<std::string> tableVariable(size_t &i, const std::string &sqlName, TableMeta &meta);

private:
    Stmt parseStatement();
    // One parser per statement kind; each moves pos past its statement.
    void parseTranslated(Stmt &s);
    void parseDdl(Stmt &s);
    void parseUse(Stmt &s);
    void parseCreateDatabase(Stmt &s);
    void parseDropDatabase(Stmt &s);
    void parseBackup(Stmt &s);
    void parseDump(Stmt &s);
    void parseRestore(Stmt &s);
    void parseExec(Stmt &s);
    void parseDbcc(Stmt &s);
    void parseIfWhile(Stmt &s);
    void parseBegin(Stmt &s);
    void parseTryCatch(Stmt &s);
    // Cursors (sqlcursor.cpp).
    void parseDeclareCursor(Stmt &s);
    void cursorDefinition(Stmt &s);
    void cursorName(Stmt &s);
    void parseCursorStatement(Stmt &s);
    void parseFetch(Stmt &s);
    Stmt tryCatchBlock(const char *word, bool mayBeEmpty);
    void parseCommitRollback(Stmt &s);
    void parseSave(Stmt &s);
    void parseThrow(Stmt &s);
    void parseDeclare(Stmt &s);
    void parseSet(Stmt &s);
    void parsePrint(Stmt &s);
    void parseRaiserror(Stmt &s);
    void parseWaitfor(Stmt &s);
    void parseReturn(Stmt &s);
    void parseTrigger(Stmt &s);
    void parseEnableTrigger(Stmt &s);
    void parseView(Stmt &s);
    void parseMerge(Stmt &s);
    // Pieces of MERGE (sqlmerge.cpp).
    TableMeta mergeSource(size_t &i, MergePlan &p);
    std::string mergeValuesSource(size_t &i, Translation &tr, size_t *columns);
    void mergeClause(size_t &i, MergePlan &p, const std::optional<TableMeta> &meta);
    void mergeInsert(size_t &i, MergePlan &p, MergePlan::Clause &c, const std::optional<TableMeta> &meta);
    void mergeOutput(size_t &i, MergePlan &p, const std::optional<TableMeta> &meta);
    std::pair<std::string, std::string> twoPartName();
    void twoPartNames(std::vector<std::pair<std::string, std::string>> &out);
    bool parseModuleHead(Stmt &s, Stmt::Kind dropKind, Stmt::Kind createKind, const char *keyword);
    Stmt::Arg expressionArg();
    std::optional<TableMeta> writtenTable(const std::string &schema, const std::string &plain, const std::string &written);
    void withOptions(size_t &i, const std::function<bool(size_t &)> &known);
    void tranName(Stmt &s);
    void skipSql(Stmt &s);
    size_t parseDmlEnd(size_t begin);
    std::string objectName(size_t &i, std::string *written, std::string *schemaOut = nullptr, std::string *plain = nullptr);
    std::string select(size_t &i, bool topLevel, Translation &tr);
    std::string selectCore(size_t &i, Translation &tr, std::string &limit);
    std::string tableSources(size_t &i, Translation &tr);
    std::string tableSource(size_t &i, Translation &tr);
    std::string expr(size_t &i, Translation &tr, int minPrec = 0);
    std::string primary(size_t &i, Translation &tr);
    std::string functionCall(size_t &i, Translation &tr);
    // Date functions, FORMAT, IIF, CHOOSE, STRING_AGG, PATINDEX, TRY_CAST (sqlbuiltins.cpp).
    bool builtinCall(size_t &i, Translation &tr, std::string &out);
    // Mathematical, string, date, logical and JSON functions by table (sqlscalars.cpp).
    bool scalarCall(size_t &i, Translation &tr, std::string &out);
    bool specialScalar(size_t &i, Translation &tr, std::string &out);
    bool jsonConstructor(size_t &i, Translation &tr, std::string &out); // JSON_OBJECT, JSON_ARRAY (sqljson.cpp)
    bool parseCall(size_t &i, Translation &tr, std::string &out);       // PARSE, TRY_PARSE (sqlculture.cpp)
    std::string datePartName(size_t &i, const std::string &function);
    // The pieces of an expression (sqlexpr.cpp): operands, predicates and operators by what they parse.
    std::string prefixedOperand(size_t &i, Translation &tr, int minPrec);
    std::string likePredicate(size_t &i, Translation &tr, const std::string &left, bool negated);
    std::string inPredicate(size_t &i, Translation &tr, std::string left, bool negated);
    std::string betweenPredicate(size_t &i, Translation &tr, std::string left, bool negated);
    std::string binaryOperator(size_t &i, Translation &tr, const std::string &op, int prec, const std::string &left,
                               num::Type lt);
    std::string literal(size_t &i);
    std::string variableValue(size_t &i, Translation &tr);
    std::string caseExpression(size_t &i, Translation &tr);
    std::string existsPredicate(size_t &i, Translation &tr);
    std::string castExpression(size_t &i, Translation &tr);
    std::string namedCall(size_t &i, Translation &tr);
    std::string columnReference(size_t &i, Translation &tr);
    // The calls (sqlbuiltins.cpp): a function over a plain argument list goes to
    // its handler in Call; these parse arguments of their own.
    struct Call;
    std::vector<std::string> argumentList(size_t &i, Translation &tr);
    std::string dateFunctionCall(size_t &i, Translation &tr, const Token &fn, ColumnMeta &result);
    std::string dateDiffCall(size_t &i, Translation &tr, const Token &fn, ColumnMeta &result);
    std::string dateBucketCall(size_t &i, Translation &tr, const Token &fn, ColumnMeta &result);
    std::string tryCastCall(size_t &i, Translation &tr, const Token &fn, ColumnMeta &result);
    std::string dataLengthCall(size_t &i, Translation &tr, const Token &fn, ColumnMeta &result);
    std::string stringAggCall(size_t &i, Translation &tr, const Token &fn, ColumnMeta &result);
    // The last typed call: its token range and result type (see Translation::resultTypes).
    size_t m_typedBegin = 0, m_typedEnd = 0;
    ColumnMeta m_typedResult;
    std::vector<Translation::ResultType> m_coreTypes; // types of the last select core's items
    std::string param(Translation &tr, const Value &v);
    std::string insert(size_t &i, Translation &tr);
    // Pieces of INSERT and of the OUTPUT clause (sqldml.cpp).
    void insertColumns(const TableMeta &meta, const std::string &plain, bool explicitCols, std::vector<std::string> &cols);
    std::string insertValues(size_t &i, Translation &tr, bool known, bool explicitCols,
                             const std::vector<const ColumnMeta *> &targets);
    void outputInto(size_t &i, Translation &tr);
    void outputColumn(size_t a, size_t i, const TableMeta *meta, std::string &colName, std::optional<ColumnMeta> &m);
    void outputAlias(size_t &i, std::string &colName);
    std::string update(size_t &i, Translation &tr);
    std::string del(size_t &i, Translation &tr);
    // SET col = expr | col op= expr, ... of UPDATE and MERGE.
    std::string setList(size_t &i, Translation &tr, const std::optional<TableMeta> &meta);
    void createTable(size_t &i, Translation &tr);
    // CREATE TABLE's and DECLARE @t TABLE's element lists (sqlddl.cpp).
    void tableElements(size_t &i, const std::string &table, TableDef &def);
    void tableKeyConstraint(size_t &i, const std::string &cname, const std::string &table, TableDef &def);
    ColumnMeta columnDefinition(size_t &i, const std::string &table, TableDef &def);
    void columnConstraints(size_t &i, const std::string &table, ColumnMeta &m, TableDef &def);
    void computedColumn(size_t &i, ColumnMeta &m);
    void keyColumns(size_t &i, std::vector<std::string> &out);
    int64_t identityClause(size_t &i, int64_t seed);
    void tableVariableElements(size_t &i, TableDef &def);
    ColumnMeta tableVariableColumn(size_t &i, TableDef &def, Translation &scratch);
    void dropTable(size_t &i, Translation &tr);
    void createIndex(size_t &i, Translation &tr);
    ColumnMeta typeSpec(size_t &i);
    ColumnMeta aliasTypeSpec(const std::string &schema, const std::string &tname);
    std::string outputClause(size_t &i, Translation &tr, const std::optional<TableMeta> &meta, bool deleted);
    bool isAliasToken(size_t i) const;
    bool atClauseEnd(size_t i) const;

    // CTEs, window functions, table variables and query options (sqlquery.cpp).
    std::string withClause(size_t &i, Translation &tr);
    std::string overClause(size_t &i, Translation &tr, const std::string &fn, bool needsOrder);
    std::string rankingFunction(size_t &i, Translation &tr);
    std::string targetName(size_t &i, Translation &tr, std::string *written, std::string *schemaOut, std::string *plain);
    bool cteSource(size_t &i, Translation &tr, std::string &out);
    void optionClause(size_t &i, Translation &tr);
    std::string offsetFetch(size_t &i, Translation &tr, const std::string &limit);
    struct Cte { std::string name, sqlName; };
    struct RecursiveCte {
        std::string name, rawName;
        int depth = 0;          // select nesting depth of the CTE's own members
        int member = 0;         // members seen so far
        std::string refAlias;   // the self-reference's alias in the current member
        bool recursiveSeen = false;
    };
    std::vector<Cte> m_ctes;
    RecursiveCte *m_rec = nullptr;
    // Pieces of WITH and of a select core (sqlquery.cpp).
    std::string cteDefinition(size_t &i, Translation &tr);
    bool cteIsRecursive(size_t i, const std::string &cte) const;
    std::vector<std::string> cteColumnNames(const std::string &cte, const std::vector<std::string> &cols) const;
    std::string recursiveCteSql(const RecursiveCte &rec, const std::vector<std::string> &names, const std::string &body) const;
    // TOP n | TOP (expr) [PERCENT] [WITH TIES] (sqltop.cpp): the count's SQL and its options.
    struct TopSpec {
        std::string count;
        bool percent = false, ties = false;
    };
    TopSpec topClause(size_t &i, Translation &tr);
    // UPDATE/DELETE TOP (n) [PERCENT]: n rows of those WHERE picks, by rowid.
    TopSpec dmlTop(size_t &i, Translation &tr);
    std::string topWhere(const TopSpec &top, const std::string &target, const std::string &where) const;
    // The condition after WHERE of an UPDATE/DELETE on `plain`: an expression or CURRENT OF cursor.
    std::string dmlCondition(size_t &i, Translation &tr, const std::string &plain);
    // The pieces of the last select core that TOP PERCENT / WITH TIES need.
    struct CoreParts {
        TopSpec top;
        std::vector<std::string> items; // each item's SQL without its alias
        size_t itemsEnd = 0;            // where the select list ends in the core's SQL
    };
    CoreParts m_coreParts;
    // STRING_SPLIT, OPENJSON and APPLY (sqlapply.cpp).
    bool unicodeOperand(size_t begin, size_t end) const;
    std::string stringSplitSource(size_t &i, Translation &tr);
    std::string openJsonSource(size_t &i, Translation &tr);
    bool tableFunction(size_t &i, Translation &tr, std::string &out);
    // xml's nodes() as a table source (sqlxmlnodes.cpp).
    bool xmlNodesAt(size_t k, size_t *call) const;
    struct ScopeTable;
    ScopeTable xmlNodesAlias(size_t &k);
    bool xmlNodesScope(size_t k, ScopeTable &out);
    bool xmlNodesSource(size_t &i, Translation &tr, std::string &out);
    void refuseBareXmlNode(size_t begin, size_t end) const;
    void refuseXmlNodesInStar(const std::string &alias) const;
public:
    // sql_variant without CONVERT (sqlvariantops.cpp): 257 when [begin, end)
    // is one and goes to a place of type `target`.
    void refuseVariantTo(size_t begin, size_t end, const ColumnMeta &target) const;
private:
    void refuseVariantArithmetic(const std::string &o, size_t leftBegin, size_t leftEnd, size_t rightBegin, size_t rightEnd) const;
    struct VariantOperand { std::string sql; size_t begin; size_t end; num::Type type; };
    bool memberRanges(size_t i, bool isIn, std::vector<std::pair<size_t, size_t>> &ranges);
    bool variantMembership(size_t &i, Translation &tr, const VariantOperand &left, bool isIn, bool negated, std::string &out);
    std::string applyJoin(size_t &i, Translation &tr);
    // A derived table, VALUES list or OPENJSON ... WITH on the right of APPLY may
    // name the columns of the tables left of it; SQLite has no LATERAL, so such a
    // source runs as its own statement per left row (the engine's dv_lateral
    // virtual table) with those columns as arguments.
    struct Lateral {
        std::vector<std::string> outerAliases;
        size_t scopeDepth = 0;          // scopes from here inward belong to the source itself
        std::vector<std::string> refs;  // the left columns' SQL, by marker number
        bool all = false;               // every column named is a left one (OPENJSON's arguments)
    };
    Lateral *m_lateral = nullptr;
    bool lateralReference(const std::vector<std::string> &parts, std::string &out);
    std::string lateralSource(size_t &i, Translation &tr);
    std::string lateralCall(std::string inner, const std::vector<std::string> &args, const std::vector<std::string> &columns,
                            Translation &tr);
    std::string valuesList(size_t &i, Translation &tr, size_t &columns);
    std::vector<std::string> columnAliases(size_t &i);
    std::string openJsonColumn(size_t &i);
    std::string sourceAlias(size_t &i);
    std::string windowKey(size_t begin, size_t end, const std::string &translated, const CoreParts &core,
                          const std::vector<std::string> &names) const;
    std::string topLimit(const CoreParts &core, const std::string &coreSql, const std::string &body,
                         const std::string &windowKeys) const;
    std::string selectItem(size_t &i, Translation &tr, std::vector<std::string> &names);
    ColumnMeta selectItemType(size_t itemBegin, size_t end) const;
    void resultTypes(const std::vector<std::string> &names, Translation &tr) const;
    void selectInto(size_t &i, Translation &tr, bool allowed);
    std::string recursiveMemberLevel(std::string &where);
    // PIVOT and UNPIVOT after a table source (sqlpivot.cpp); `known`: the source's columns are.
    std::string rotatedSource(size_t &i, Translation &tr, const std::string &source, const std::vector<ColumnMeta> &cols,
                              bool known);
    std::string pivotClause(size_t &i, Translation &tr, const std::string &source, const std::vector<ColumnMeta> &cols,
                            bool known);
    std::string unpivotClause(size_t &i, Translation &tr, const std::string &source, const std::vector<ColumnMeta> &cols,
                              bool known);
    std::string pivotMatch(const ColumnMeta &column, const std::string &value);
    std::vector<std::string> rotationList(size_t &i, const std::string &alias);
    std::string rotationAlias(size_t &i);
    bool derivedColumns(size_t selectBegin, const std::vector<std::string> &names, std::vector<ColumnMeta> &out);
    // FOR JSON after a select (sqlforjson.cpp).
    std::string forJson(size_t &i, Translation &tr, const std::string &inner, size_t selectBegin, bool topLevel);
    std::string forJsonObject(size_t selectBegin, const std::vector<std::string> &names,
                              const std::vector<Translation::ResultType> &types, bool pathMode, bool nulls);
    std::string forJsonSql(Translation &tr, const std::string &inner, const std::string &object, const std::string &root,
                           bool unwrapped, bool topLevel);
    int m_selectDepth = 0;
    bool m_windowOk = false;    // windowed functions allowed here (select list, ORDER BY)
    bool m_intoAllowed = false; // SELECT ... INTO allowed in the next select core
    std::vector<std::string> m_coreNames;   // output names of the last select core ("" unnamed, "*" unknown)
    std::vector<std::string> m_selectNames; // output names of the last select's first core
    size_t m_recLimitParam = 0;  // 1-based parameter numbers of the recursion limit and its message
    size_t m_recMessageParam = 0;

    // Static types of numeric expressions: exact decimal arithmetic needs the
    // operands' precision and scale, which SQLite's values do not carry.
    num::Type m_type;           // type of the expression translated last
    bool m_plain = false;       // ... and whether it was a bare column reference
    struct ScopeTable { std::string alias; TableMeta meta; };
    std::vector<std::vector<ScopeTable>> m_scopes; // tables of the enclosing FROM clauses, innermost last
    std::vector<ScopeTable> m_coreTables;           // the FROM tables of the last select core (for ORDER BY)
    std::vector<ScopeTable> fromTables(size_t i);
    ColumnMeta derivedItemType(size_t a, size_t b, const std::vector<ScopeTable> &tables);
    std::string forJsonKind(size_t a, size_t b, const std::vector<ScopeTable> &tables, const std::string &number, bool xml);
    std::vector<std::string> itemKinds(size_t selectBegin, const std::vector<std::string> &names,
                                       const std::vector<Translation::ResultType> &types, bool xml);
    // FOR XML after a select (sqlforxml.cpp).
    std::string forXml(size_t &i, Translation &tr, const std::string &inner, size_t selectBegin, bool topLevel);
    std::string forXmlSql(Translation &tr, const std::string &inner, const std::string &row, const std::string &root,
                          bool hasRoot, bool xsinil, bool type, bool topLevel);
    num::Type columnType(const std::vector<std::string> &parts) const;
    std::string castTo(const std::string &e, num::Type source, const ColumnMeta &m);
    // sql_variant (sqlvariant.cpp): the type the tokens from `begin` to `end`
    // name without running (a literal, column, variable or typed call; else
    // `numeric`'s), and the expression wrapped as sql_variant of that type.
    ColumnMeta staticType(size_t begin, size_t end, num::Type numeric) const;
    std::string asVariant(const std::string &e, size_t begin, size_t end, num::Type numeric);
    bool isVariant(size_t begin, size_t end) const { return staticType(begin, end, {}).type == "sql_variant"; }
    std::string variantPropertyCall(size_t &i, Translation &tr, const Token &fn, ColumnMeta &result);
    // hierarchyid's static calls and methods (sqlhierarchyid.cpp).
    std::vector<std::string> hierarchyIdArgs(size_t &i, Translation &tr);
    std::string hierarchyIdMethod(size_t &i, Translation &tr, const std::string &operand, ColumnMeta &type);
    std::string hierarchyIdStatic(size_t &i, Translation &tr, ColumnMeta &type);
    // geography/geometry static calls, members and refusals (sqlspatial.cpp).
    bool spatialMemberAt(size_t begin, size_t i) const;
    std::string spatialTypeOf(size_t begin, size_t end) const;
    std::string spatialArgument(size_t &i, Translation &tr, bool geography);
    std::string spatialMembers(size_t begin, size_t &i, Translation &tr, std::string operand, ColumnMeta &result);
    std::string spatialStatic(size_t &i, Translation &tr, ColumnMeta &type);
    void requireSpatialOperand(size_t begin, size_t end, const std::string &op) const;
    void requireOrderable(size_t begin, size_t end, const char *clause) const;
    void requireDistinctable(size_t begin, size_t end) const;
    // Refuses (305) an xml value compared, sorted or grouped.
    void requireComparable(size_t begin, size_t end) const;
    // CONVERT with a style: money, float and binary to text and back (sqlscalars.cpp).
    std::string styledCast(const std::string &e, num::Type source, const ColumnMeta &m, const std::string &style,
                           const std::string &sourceType = std::string());
    // The T-SQL type name of the expression t[begin, end) when the translator
    // knows it: a typed call, a column or a variable; "" otherwise.
    std::string expressionTypeName(size_t begin, size_t end) const;
    std::string arithmetic(const std::string &op, const std::string &left, num::Type lt, const std::string &right, num::Type rt);
    std::string comparison(const std::string &op, std::string left, num::Type lt, bool lplain, std::string right,
                           num::Type rt, bool rplain);
    struct ScopeGuard {
        std::vector<std::vector<ScopeTable>> &s;
        ScopeGuard(std::vector<std::vector<ScopeTable>> &scopes, std::vector<ScopeTable> tables) : s(scopes) { s.push_back(std::move(tables)); }
        ~ScopeGuard() { s.pop_back(); }
    };

    const Token &tok(size_t i) const { return i < t.size() ? t[i] : t.back(); }
    void expectOp(size_t &i, const char *op);
    void expectWord(size_t &i, const char *w);
    std::string name(size_t &i);   // one identifier part (unquoted value)
    std::string collationName(size_t &i); // after COLLATE: a known name, as SQL Server spells it
    int64_t sizeValue(size_t &i, bool allowPercent, bool *percent, bool allowUnlimited);

    const std::vector<Token> &t;
    TranslateContext *ctx;
    bool compat2000;
    size_t pos = 0;
    // Inside an OUTPUT list: which pseudo-table may be named (inserted/deleted).
    std::string m_pseudo;       // "inserted", "deleted", or "both" (UPDATE)
    std::string m_pseudoTarget; // UPDATE: the target's SQLite name, for DELETED columns
    // Set by objectName(): the schema and the name within it of the last object named.
    std::string m_owner, m_objName;
    bool m_creating = false; // objectName() names a new object: no lookup
    void createSchema(size_t &i, Translation &tr);
    void typeStatement(size_t &i, Translation &tr);
    void userStatement(size_t &i, Translation &tr);
    void loginStatement(size_t &i, Translation &tr);
};

std::string quoteIdent(const std::string &name);
// A column's SQLite declaration and the dv_check/dv_cast type arguments.
std::string sqliteDecl(const ColumnMeta &m);
std::string typeArgs(const ColumnMeta &m);
std::string quoteLiteral(const std::string &s);
// xml's modify() (sqlxmlmodify.cpp): ".modify(" at `i`; the changed value's
// SQL where `mutable_` allows a mutator, else error 8137.
bool xmlModifyAt(const std::vector<Token> &toks, size_t i);
std::string xmlModifyCall(const std::vector<Token> &toks, size_t &i, const std::string &operand, bool mutable_);
// A scalar look-up of `value` (an expression over `table`'s columns) in the
// row whose `keys` columns equal the SQL in `args`. The table's columns are
// renamed inside, so that a caller's unqualified names (OBJECT_NAME(object_id)
// over sys.columns) still name the caller's columns.
std::string catalogLookup(const std::string &table, const std::vector<std::string> &columns,
                          const std::string &value, const std::vector<std::string> &keys,
                          const std::vector<std::string> &args);
// Text that is neither a column nor already collated, made to compare by the
// server collation (a column's own collation or an explicit COLLATE decides otherwise).
std::string collatedUnlessColumn(const std::string &e);
// The type two numeric types both convert to (CASE, GREATEST, LEAST).
num::Type commonType(const num::Type &a, const num::Type &b);
// "+" for the token "+=", "-" for "-=" ...; "" when the token is no compound assignment.
std::string compoundOperator(const Token &k);
// Whether a token is a word that opens a statement: where one without a terminator ends.
bool startsStatement(const Token &k);

} // namespace ts
