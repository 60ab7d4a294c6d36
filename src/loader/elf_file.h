// ELF (glibc's format): the checks its loader makes of a file before it maps it, and
// what the model keeps of one it would map.
#pragma once

#include "loader/objects.h"

// Reads a file's headers into object: its state and architecture, and,
// when the loader would map it, what it needs.
void read_elf_object(binary_file* file, object_table* table, loaded_object* object);
