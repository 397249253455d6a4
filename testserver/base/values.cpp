// Type names shared by the engine (DDL it writes itself) and the TDS layer (traces).
#include "base/values.h"

namespace ts {

std::string sqlTypeName(const ColumnDef &c)
{
    auto len = [&](const char *base) {
        return std::string(base) + "(" + (c.length < 0 ? std::string("max") : std::to_string(c.length)) + ")";
    };
    switch (c.type) {
    case SqlType::Int: return "int";
    case SqlType::BigInt: return "bigint";
    case SqlType::SmallInt: return "smallint";
    case SqlType::TinyInt: return "tinyint";
    case SqlType::Bit: return "bit";
    case SqlType::Float: return "float";
    case SqlType::Real: return "real";
    case SqlType::Decimal: return "decimal(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
    case SqlType::Numeric: return "numeric(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
    case SqlType::Money: return "money";
    case SqlType::SmallMoney: return "smallmoney";
    case SqlType::DateTime: return "datetime";
    case SqlType::Date: return "date";
    case SqlType::DateTime2: return "datetime2(" + std::to_string(c.scale) + ")";
    case SqlType::Time: return "time(" + std::to_string(c.scale) + ")";
    case SqlType::DateTimeOffset: return "datetimeoffset(" + std::to_string(c.scale) + ")";
    case SqlType::NVarChar: return len("nvarchar");
    case SqlType::VarChar: return len("varchar");
    case SqlType::NChar: return len("nchar");
    case SqlType::Char: return len("char");
    case SqlType::VarBinary: return len("varbinary");
    case SqlType::UniqueIdentifier: return "uniqueidentifier";
    case SqlType::Xml: return "xml";
    case SqlType::Variant: return "sql_variant";
    case SqlType::HierarchyId: return "hierarchyid";
    case SqlType::Geography: return "geography";
    case SqlType::Geometry: return "geometry";
    }
    return "?";
}

bool parseGuid(const std::string &text, std::string &canonical)
{
    std::string s = text;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
    if (s.size() != 36) return false;
    for (size_t k = 0; k < s.size(); ++k) {
        char &c = s[k];
        if (k == 8 || k == 13 || k == 18 || k == 23) {
            if (c != '-') return false;
        } else if (c >= 'a' && c <= 'f') {
            c = char(c - 'a' + 'A');
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    canonical = s;
    return true;
}

bool isTemporalType(const std::string &type)
{
    return type == "datetime2" || type == "time" || type == "datetimeoffset";
}

} // namespace ts
