// A value assigned to a variable (DECLARE ... = , SET @v =): a sql_variant
// goes only into a sql_variant unless converted, as SQL Server requires.
#include "engine/enginesession.h"

#include "tsql/sqltranslate.h"

namespace ts {

Value SessionImpl::evalAssigned(const std::vector<Token> &toks, size_t begin, size_t end, const ColumnMeta &target)
{
    const bool variant = target.type == "sql_variant";
    if (!variant) Translator(toks, this, m_engine->opts.compat2000).refuseVariantTo(begin, end, target);
    return eval(toks, begin, end, variant);
}

} // namespace ts
