// This process's loader is glibc's.
#include "loader/rules.h"

const loader_rules& native_rules() { return glibc_rules; }
