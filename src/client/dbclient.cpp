#include "dbclient.h"

namespace dv {

DbError::DbError(QString message, QString sqlState, int nativeError)
    : m_message(std::move(message)), m_sqlState(std::move(sqlState)), m_nativeError(nativeError),
      m_utf8(m_message.toUtf8())
{
}

} // namespace dv
