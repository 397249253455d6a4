// SCAFFOLD: replaced by the client layer's implementation.
#include "sqltext.h"
