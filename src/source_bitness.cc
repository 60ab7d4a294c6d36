// Data sources and drivers by bitness.
#include "source_bitness.h"

bitness_finding find_by_bitness(const registry_facts& facts) {
  if (!facts.user_source && !facts.system_source) return facts.other_system_source ? source_other_side : no_library;
  // A user source is seen by both bitnesses; its driver may be
  // registered for the other one alone (IM014).
  if (!facts.driver_here && facts.driver_other) return driver_other_side;
  return facts.has_library ? library_here : no_library;
}
