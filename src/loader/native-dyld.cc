// This process's loader is dyld's.
#include "loader/rules.h"

const loader_rules& native_rules() { return dyld_rules; }
