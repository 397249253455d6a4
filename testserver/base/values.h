// The values the test server deals in, shared by the T-SQL front, the engine
// and the wire: column types as SQL Server declares them, values of a row, and
// the messages a batch produces.
#pragma once

#include <cstdint>
#include <string>

namespace ts {

// SQL Server column types the server sends.
enum class SqlType {
    Int, BigInt, SmallInt, TinyInt, Bit, Float, Real, Decimal, Numeric, Money, SmallMoney,
    DateTime, Date, NVarChar, VarChar, NChar, Char, VarBinary,
    DateTime2, Time, DateTimeOffset,  // scale = fractional second digits (0-7)
    UniqueIdentifier,                 // text "6F9619FF-8B86-D011-B42D-00C04FC964FF"
    Xml,                              // untyped xml: its text, checked well-formed
    Variant,                          // sql_variant: base type and value (see variantvalue.h)
    HierarchyId,                      // hierarchyid: its packed path bytes (see hierarchyid.h)
    Geography, Geometry               // spatial: SQL Server's serialized bytes (see spatial.h)
};

struct ColumnDef {
    std::string name;       // UTF-8
    SqlType type = SqlType::Int;
    int length = 0;         // characters for (n)(var)char, bytes for varbinary; -1 = max
    int precision = 0;      // decimal/numeric
    int scale = 0;
    bool nullable = true;
    bool identity = false;
    bool updateable = false;
    // Browse-mode base table of this column (sent as TABNAME/COLINFO when the
    // session asked for them with SET NO_BROWSETABLE ON); empty = expression.
    std::string baseTable;  // e.g. "dbo.t"
    std::string baseColumn;
    bool key = false;       // part of the base table's primary key
};

// The T-SQL type of a column as written in DDL: "int", "nvarchar(20)",
// "decimal(10,2)", "varbinary(max)" ...
std::string sqlTypeName(const ColumnDef &c);

// A uniqueidentifier written as text: 36 hex digits and dashes, optionally in
// braces, any case. `canonical` gets the upper-case form without braces.
bool parseGuid(const std::string &text, std::string &canonical);

// datetime2, time and datetimeoffset: the date and time types with a scale.
bool isTemporalType(const std::string &type);

// One value of a row. Text holds UTF-8 text, decimal text ("-12.50") or a
// date/time as "YYYY-MM-DD[ HH:MM:SS[.mmm]]"; Blob holds raw bytes.
struct Value {
    enum Kind { Null, Int, Float, Text, Blob } kind = Null;
    int64_t i = 0;
    double d = 0;
    std::string s;

    static Value null() { return {}; }
    static Value integer(int64_t v) { Value x; x.kind = Int; x.i = v; return x; }
    static Value real(double v) { Value x; x.kind = Float; x.d = v; return x; }
    static Value text(std::string v) { Value x; x.kind = Text; x.s = std::move(v); return x; }
    static Value blob(std::string v) { Value x; x.kind = Blob; x.s = std::move(v); return x; }
};

// An ERROR (severity > 10) or INFO (severity <= 10) message.
struct Message {
    int number = 0;
    int state = 1;
    int severity = 16;
    std::string text;       // UTF-8
    std::string procedure;  // empty outside procedures
    int line = 1;
};

} // namespace ts
