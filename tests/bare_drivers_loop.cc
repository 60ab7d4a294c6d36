// The floor for the benchmark: asks the Driver Manager for every driver the
// way quorbel does and writes nothing, so that the difference in time is
// quorbel's own.
#include <cstdint>

#include "platform/odbc.h"

int main() {
  SQLHENV environment = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment))) return 2;
  const SQLPOINTER odbc3 = reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(SQL_OV_ODBC3));
  if (!SQL_SUCCEEDED(SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, odbc3, 0))) return 4;

  SQLCHAR description[256];
  SQLCHAR attributes[1024];
  SQLSMALLINT description_length = 0;
  SQLSMALLINT attributes_length = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDrivers(environment, direction, description, 255, &description_length, attributes, 1023,
                                  &attributes_length))) {
    direction = SQL_FETCH_NEXT;
  }
  SQLFreeHandle(SQL_HANDLE_ENV, environment);
  return 0;
}
