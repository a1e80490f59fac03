/* Marks for the instruction-count mode: bench/instr.py calls these through ctypes
 * around each measured loop. Outside valgrind they do nothing. */
#include <valgrind/callgrind.h>

void marks_zero(void) { CALLGRIND_ZERO_STATS; }

void marks_dump(const char* label) { CALLGRIND_DUMP_STATS_AT(label); }

int marks_running_on_valgrind(void) { return RUNNING_ON_VALGRIND; }
