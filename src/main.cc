// The program's entry point.
#include "command_line.h"

int main(int argc, char** argv) { return run_quorbel(argc, argv); }
