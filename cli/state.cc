// The one run state of the process.
#include "cli/state.h"

ArchiverState state;
