// SCAFFOLD: replaced by the ODBC implementation.
#include "dbclient.h"
#include <stdexcept>
namespace dv {
std::unique_ptr<Connection> makeOdbcConnection() { return nullptr; }
}
