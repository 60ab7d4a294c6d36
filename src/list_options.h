// The options of a run, shared by the units that write a driver's line.
#pragma once

// What a driver line holds; the command line only ever sets these.
struct list_options {
  bool brief = false;
  bool show_attributes = false;
  bool show_version = false;
  bool check_library = false;
  bool json_lines = false;
  // Data sources instead of drivers.
  bool data_sources = false;
};
