// Error handling of a batch: TRY ... CATCH, the ERROR_*() values of the CATCH
// block running, SET XACT_ABORT and the doomed (uncommittable) transaction.
#include "engine/enginesession.h"

#include <algorithm>

namespace ts {

// Errors raised while a statement is compiled on SQL Server: a TRY block on the
// same level does not catch them, the batch ends.
static bool compileError(int number)
{
    static const int numbers[] = {102, 105, 111, 137, 156, 170, 207, 208, 209, 4104};
    return std::find(std::begin(numbers), std::end(numbers), number) != std::end(numbers);
}

bool SessionImpl::trapError(const Message &m)
{
    if (m.severity <= 10) return false;
    m_error = m.number;
    // A compile error is caught only by a TRY block of an outer level (around EXEC of a string, sp_executesql).
    const bool catchable = !m_tryLevels.empty() && m.severity <= 19
        && !(compileError(m.number) && m_tryLevels.back() == m_execLevel);
    if (catchable) {
        if (!m_caught) m_caught = m; // the first error of the statement is the one CATCH sees
        return true;
    }
    m_failedOutsideTry = true;
    return false;
}

// Runs one statement under the batch's error rules: an error caught by an
// enclosing TRY ends the statements up to it; under XACT_ABORT an error
// outside TRY rolls the transaction back and ends the batch.
SessionImpl::Flow SessionImpl::runGuarded(const Stmt &s, Run &r)
{
    const bool leaf = s.kind != Stmt::Block && s.kind != Stmt::If && s.kind != Stmt::While && s.kind != Stmt::TryCatch;
    const int errorsBefore = m_errorCount;
    if (leaf) m_failedOutsideTry = false;
    Flow f = dispatch(s, r);
    if (m_caught) return Flow::Abort;
    if (!leaf) return f;
    // RAISERROR does not honour XACT_ABORT.
    if (m_failedOutsideTry && m_xactAbort && s.kind != Stmt::Raiserror) {
        // A doomed transaction stays for the end of the batch, which rolls it back with 3998.
        if (m_trancount > 0 && !m_doomed) endTransaction(false);
        return Flow::Abort;
    }
    if (m_errorCount == errorsBefore && s.kind != Stmt::Declare) m_error = 0; // every statement sets @@ERROR
    return f;
}

SessionImpl::Flow SessionImpl::runTryCatch(const Stmt &s, Run &r)
{
    m_tryLevels.push_back(m_execLevel);
    Flow f = run(s.body[0], r);
    m_tryLevels.pop_back();
    if (!m_caught) return f;
    Message caught = *m_caught;
    m_caught.reset();
    if (f == Flow::Cancelled) return f;
    if (m_xactAbort && m_trancount > 0) m_doomed = true;
    m_catchErrors.push_back(caught);
    Flow c = run(s.body[1], r);
    m_catchErrors.pop_back();
    return c;
}

// ERROR_NUMBER() ... of the CATCH block running; NULL outside one.
std::optional<Value> SessionImpl::errorValue(const std::string &u) const
{
    if (u == "XACT_STATE()") return Value::integer(m_trancount == 0 ? 0 : m_doomed ? -1 : 1);
    static const char *const names[] = {"ERROR_NUMBER()", "ERROR_MESSAGE()", "ERROR_SEVERITY()", "ERROR_STATE()",
                                        "ERROR_LINE()", "ERROR_PROCEDURE()"};
    if (std::find_if(std::begin(names), std::end(names), [&](const char *n) { return u == n; }) == std::end(names))
        return std::nullopt;
    if (m_catchErrors.empty()) return Value::null();
    const Message &m = m_catchErrors.back();
    if (u == "ERROR_NUMBER()") return Value::integer(m.number);
    if (u == "ERROR_MESSAGE()") return Value::text(m.text);
    if (u == "ERROR_SEVERITY()") return Value::integer(m.severity);
    if (u == "ERROR_STATE()") return Value::integer(m.state);
    if (u == "ERROR_LINE()") return Value::integer(m.line);
    return m.procedure.empty() ? Value::null() : Value::text(m.procedure);
}

// A write or COMMIT in a doomed transaction fails with 3930.
bool SessionImpl::refuseInDoomed(Run &r, int line)
{
    if (!m_doomed || m_trancount == 0) return false;
    message(r, 3930, 16, "The current transaction cannot be committed and cannot support operations that write to the "
            "log file. Roll back the transaction.", line);
    done(r, true, false, 0);
    return true;
}

// At the end of a batch a doomed transaction is rolled back, with 3998.
void SessionImpl::endDoomedBatch(Run &r)
{
    if (!m_doomed) return;
    m_doomed = false;
    if (m_trancount == 0) return;
    endTransaction(false);
    message(r, 3998, 16, "Uncommittable transaction is detected at the end of the batch. The transaction is rolled back.", 1);
    done(r, true, false, 0);
}

} // namespace ts
