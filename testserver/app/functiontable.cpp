// Each function of the T-SQL reference's scalar categories, called once on an
// engine of its own: answered with the column type a client sees, or refused
// with the error it gives. What is printed comes from running the code, so
// the committed table cannot drift from it unnoticed.
#include "functiontable.h"

#include "engine/engine.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

struct Sample {
    const char *category;
    const char *name;
    const char *call; // a select item that calls it
};

// The functions by the reference's categories, each with a call of it.
const Sample kSamples[] = {
    {"Mathematical", "ABS", "ABS(-1.5)"}, {"Mathematical", "ACOS", "ACOS(1)"}, {"Mathematical", "ASIN", "ASIN(1)"},
    {"Mathematical", "ATAN", "ATAN(1)"}, {"Mathematical", "ATN2", "ATN2(1, 1)"},
    {"Mathematical", "CEILING", "CEILING(1.5)"}, {"Mathematical", "COS", "COS(0)"}, {"Mathematical", "COT", "COT(1)"},
    {"Mathematical", "DEGREES", "DEGREES(PI())"}, {"Mathematical", "EXP", "EXP(1)"},
    {"Mathematical", "FLOOR", "FLOOR(1.5)"}, {"Mathematical", "LOG", "LOG(10)"}, {"Mathematical", "LOG10", "LOG10(10)"},
    {"Mathematical", "PI", "PI()"}, {"Mathematical", "POWER", "POWER(2, 3)"},
    {"Mathematical", "RADIANS", "RADIANS(180e0)"}, {"Mathematical", "RAND", "RAND(1)"},
    {"Mathematical", "ROUND", "ROUND(1.25, 1)"}, {"Mathematical", "SIGN", "SIGN(-2)"}, {"Mathematical", "SIN", "SIN(0)"},
    {"Mathematical", "SQRT", "SQRT(4)"}, {"Mathematical", "SQUARE", "SQUARE(3)"}, {"Mathematical", "TAN", "TAN(0)"},
    {"String", "ASCII", "ASCII('A')"}, {"String", "CHAR", "CHAR(65)"}, {"String", "CHARINDEX", "CHARINDEX('b', 'abc')"},
    {"String", "CONCAT", "CONCAT('a', 1)"}, {"String", "CONCAT_WS", "CONCAT_WS(',', 'a', 'b')"},
    {"String", "DIFFERENCE", "DIFFERENCE('a', 'b')"}, {"String", "FORMAT", "FORMAT(1, 'N2')"},
    {"String", "LEFT", "LEFT('abc', 1)"}, {"String", "LEN", "LEN('abc')"}, {"String", "LOWER", "LOWER('A')"},
    {"String", "LTRIM", "LTRIM(' a')"}, {"String", "NCHAR", "NCHAR(65)"}, {"String", "PATINDEX", "PATINDEX('%b%', 'abc')"},
    {"String", "QUOTENAME", "QUOTENAME('a')"}, {"String", "REPLACE", "REPLACE('abc', 'b', 'x')"},
    {"String", "REPLICATE", "REPLICATE('a', 2)"}, {"String", "REVERSE", "REVERSE('abc')"},
    {"String", "RIGHT", "RIGHT('abc', 1)"}, {"String", "RTRIM", "RTRIM('a ')"}, {"String", "SOUNDEX", "SOUNDEX('a')"},
    {"String", "SPACE", "SPACE(2)"}, {"String", "STR", "STR(1.5)"}, {"String", "STRING_ESCAPE", "STRING_ESCAPE('a', 'json')"},
    {"String", "STUFF", "STUFF('abc', 1, 1, 'x')"}, {"String", "SUBSTRING", "SUBSTRING('abc', 1, 1)"},
    {"String", "TRANSLATE", "TRANSLATE('abc', 'a', 'x')"}, {"String", "TRIM", "TRIM(' a ')"},
    {"String", "UNICODE", "UNICODE(N'a')"}, {"String", "UPPER", "UPPER('a')"},
    {"Date and time", "CURRENT_TIMESTAMP", "CURRENT_TIMESTAMP"}, {"Date and time", "DATE_BUCKET", "DATE_BUCKET(week, 1, CAST('2020-01-01' AS date))"},
    {"Date and time", "DATEADD", "DATEADD(day, 1, CAST('2020-01-01' AS date))"},
    {"Date and time", "DATEDIFF", "DATEDIFF(day, '2020-01-01', '2020-01-02')"},
    {"Date and time", "DATEDIFF_BIG", "DATEDIFF_BIG(day, '2020-01-01', '2020-01-02')"},
    {"Date and time", "DATEFROMPARTS", "DATEFROMPARTS(2020, 1, 1)"}, {"Date and time", "DATENAME", "DATENAME(month, '2020-01-01')"},
    {"Date and time", "DATEPART", "DATEPART(month, '2020-01-01')"},
    {"Date and time", "DATETIME2FROMPARTS", "DATETIME2FROMPARTS(2020, 1, 1, 0, 0, 0, 0, 7)"},
    {"Date and time", "DATETIMEFROMPARTS", "DATETIMEFROMPARTS(2020, 1, 1, 0, 0, 0, 0)"},
    {"Date and time", "DATETIMEOFFSETFROMPARTS", "DATETIMEOFFSETFROMPARTS(2020, 1, 1, 0, 0, 0, 0, 1, 0, 7)"},
    {"Date and time", "DATETRUNC", "DATETRUNC(month, CAST('2020-01-05' AS date))"},
    {"Date and time", "DAY", "DAY('2020-01-01')"}, {"Date and time", "EOMONTH", "EOMONTH('2020-01-01')"},
    {"Date and time", "GETDATE", "GETDATE()"}, {"Date and time", "GETUTCDATE", "GETUTCDATE()"},
    {"Date and time", "ISDATE", "ISDATE('2020-01-01')"}, {"Date and time", "MONTH", "MONTH('2020-01-01')"},
    {"Date and time", "SMALLDATETIMEFROMPARTS", "SMALLDATETIMEFROMPARTS(2020, 1, 1, 0, 0)"},
    {"Date and time", "SWITCHOFFSET", "SWITCHOFFSET(CAST('2020-01-01 00:00 +00:00' AS datetimeoffset), '+08:00')"},
    {"Date and time", "SYSDATETIME", "SYSDATETIME()"}, {"Date and time", "SYSDATETIMEOFFSET", "SYSDATETIMEOFFSET()"},
    {"Date and time", "SYSUTCDATETIME", "SYSUTCDATETIME()"}, {"Date and time", "TIMEFROMPARTS", "TIMEFROMPARTS(1, 2, 3, 0, 0)"},
    {"Date and time", "TODATETIMEOFFSET", "TODATETIMEOFFSET(CAST('2020-01-01' AS datetime2), '+08:00')"},
    {"Date and time", "YEAR", "YEAR('2020-01-01')"},
    {"Logical", "CHOOSE", "CHOOSE(2, 'a', 'b')"}, {"Logical", "GREATEST", "GREATEST(1, 2)"},
    {"Logical", "IIF", "IIF(1 = 1, 'a', 'b')"}, {"Logical", "LEAST", "LEAST(1, 2)"},
    {"Conversion", "CAST", "CAST(1 AS varchar(10))"}, {"Conversion", "CONVERT", "CONVERT(varchar(10), 1)"},
    {"Conversion", "PARSE", "PARSE('1' AS int)"}, {"Conversion", "TRY_CAST", "TRY_CAST('1' AS int)"},
    {"Conversion", "TRY_CONVERT", "TRY_CONVERT(int, '1')"}, {"Conversion", "TRY_PARSE", "TRY_PARSE('1' AS int)"},
    {"JSON", "ISJSON", "ISJSON('{}')"}, {"JSON", "JSON_ARRAY", "JSON_ARRAY(1, 2)"},
    {"JSON", "JSON_MODIFY", "JSON_MODIFY('{}', '$.a', 1)"}, {"JSON", "JSON_OBJECT", "JSON_OBJECT('a': 1)"},
    {"JSON", "JSON_PATH_EXISTS", "JSON_PATH_EXISTS('{}', '$.a')"}, {"JSON", "JSON_QUERY", "JSON_QUERY('{\"a\":[]}', '$.a')"},
    {"JSON", "JSON_VALUE", "JSON_VALUE('{\"a\":1}', '$.a')"},
    {"System and metadata", "@@DATEFIRST", "@@DATEFIRST"}, {"System and metadata", "@@ERROR", "@@ERROR"},
    {"System and metadata", "@@IDENTITY", "@@IDENTITY"}, {"System and metadata", "@@LANGUAGE", "@@LANGUAGE"},
    {"System and metadata", "@@ROWCOUNT", "@@ROWCOUNT"}, {"System and metadata", "@@SERVERNAME", "@@SERVERNAME"},
    {"System and metadata", "@@SPID", "@@SPID"}, {"System and metadata", "@@TRANCOUNT", "@@TRANCOUNT"},
    {"System and metadata", "@@VERSION", "@@VERSION"}, {"System and metadata", "APP_NAME", "APP_NAME()"},
    {"System and metadata", "COL_LENGTH", "COL_LENGTH('sys.objects', 'name')"},
    {"System and metadata", "COL_NAME", "COL_NAME(OBJECT_ID('sys.objects'), 1)"},
    {"System and metadata", "DATABASEPROPERTYEX", "DATABASEPROPERTYEX('master', 'Status')"},
    {"System and metadata", "DB_ID", "DB_ID()"}, {"System and metadata", "DB_NAME", "DB_NAME()"},
    {"System and metadata", "HOST_NAME", "HOST_NAME()"}, {"System and metadata", "IDENT_CURRENT", "IDENT_CURRENT('t')"},
    {"System and metadata", "NEWID", "NEWID()"}, {"System and metadata", "NEWSEQUENTIALID", "NEWSEQUENTIALID()"},
    {"System and metadata", "OBJECT_ID", "OBJECT_ID('t')"}, {"System and metadata", "OBJECT_NAME", "OBJECT_NAME(1)"},
    {"System and metadata", "OBJECT_SCHEMA_NAME", "OBJECT_SCHEMA_NAME(1)"},
    {"System and metadata", "SCOPE_IDENTITY", "SCOPE_IDENTITY()"},
    {"System and metadata", "SERVERPROPERTY", "SERVERPROPERTY('Collation')"},
    {"System and metadata", "SUSER_SNAME", "SUSER_SNAME()"}, {"System and metadata", "TYPE_ID", "TYPE_ID('int')"},
    {"System and metadata", "TYPE_NAME", "TYPE_NAME(56)"},
    {"System and metadata", "USER_NAME", "USER_NAME()"},
};

// Keeps the first result column's type and the first error.
class ProbeSink : public ts::ResultSink {
public:
    std::vector<ts::ColumnDef> cols;
    ts::Message error;
    bool failed = false;
    void columns(const std::vector<ts::ColumnDef> &c) override { if (cols.empty()) cols = c; }
    void row(const std::vector<ts::Value> &) override {}
    void message(const ts::Message &m) override
    {
        if (m.severity > 10 && !failed) { error = m; failed = true; }
    }
    void done(ts::DoneKind, bool, bool, uint64_t) override {}
    void databaseChanged(const std::string &, const std::string &) override {}
    void returnStatus(int32_t) override {}
    bool cancelled() const override { return false; }
};

std::string answer(ts::Session &session, const Sample &s)
{
    ProbeSink sink;
    session.executeBatch(std::string("SELECT ") + s.call, sink);
    if (sink.failed) return "refused | " + std::to_string(sink.error.number) + ": " + sink.error.text;
    if (sink.cols.empty()) return "error | no result";
    return "answered | " + ts::sqlTypeName(sink.cols[0]);
}

} // namespace

int printFunctionTable(const std::string &dataDir)
{
    std::string dir = dataDir;
    if (dir.empty()) {
        char pattern[] = "/tmp/dvfunctions.XXXXXX";
        if (!mkdtemp(pattern)) return 1;
        dir = pattern;
    }
    ts::EngineOptions o;
    o.dataDir = dir + "/data";
    std::string err;
    int status = 0;
    {
        ts::Engine engine(o);
        ts::Message m;
        std::unique_ptr<ts::Session> session = engine.start(&err) ? engine.openSession("sa", "", 60, &m) : nullptr;
        if (!session) {
            std::fprintf(stderr, "dorvane-testserver: %s%s\n", err.c_str(), m.text.c_str());
            status = 1;
        } else {
            std::printf("| Category | Function | Called as | Answer | Result type or error |\n");
            std::printf("|---|---|---|---|---|\n");
            for (const Sample &s : kSamples)
                std::printf("| %s | %s | `%s` | %s |\n", s.category, s.name, s.call, answer(*session, s).c_str());
        }
    }
    if (dataDir.empty()) std::filesystem::remove_all(dir);
    return status;
}
