// Where Windows keeps a data source and its driver for each bitness, as
// Microsoft documents it: user sources under HKEY_CURRENT_USER, shared by
// 32-bit and 64-bit programs; system sources and drivers under
// HKEY_LOCAL_MACHINE, whose SOFTWARE key a 32-bit program on 64-bit Windows
// sees redirected (WOW6432Node). Includes nothing of the tool.
#pragma once

// What the registry holds for a source, as a program of one bitness sees
// it, and in the other bitness's view.
struct registry_facts {
  bool user_source;          // HKCU\Software\ODBC\ODBC.INI\NAME
  bool system_source;        // HKLM\SOFTWARE\ODBC\ODBC.INI\NAME, this view
  bool other_system_source;  // the same key in the other view
  bool has_library;          // the source's Driver value, not empty
  bool driver_here;          // its driver under ODBCINST.INI, this view
  bool driver_other;         // the same in the other view
};

enum bitness_finding { library_here, no_library, source_other_side, driver_other_side };

// What a program of this bitness finds when it connects to the source.
bitness_finding find_by_bitness(const registry_facts& facts);
