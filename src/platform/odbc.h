// The ODBC call-level interface, the same on every platform. Windows'
// headers need <windows.h> first, so every source reaches them through here.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
