// SCAFFOLD: replaced by the operations' implementation.
#include "operations.h"
