// Placeholder: recovery of interrupted deletions.
#include "formats/compact.h"

int RecoverInterruptedCompaction(FILE*, const char*, int) { return 0; }
