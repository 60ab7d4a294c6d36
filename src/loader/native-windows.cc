// This process's loader is Windows'.
#include "loader/rules.h"

const loader_rules& native_rules() { return windows_rules; }
