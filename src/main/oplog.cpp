// SCAFFOLD: replaced by the log implementation.
#include "oplog.h"
