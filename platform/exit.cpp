// Ending the process from inside the engine ("quit" during an xboard search). Kept apart from the
// platform files so that a harness running the protocol loops in-process can link its own instead.
#include <cstdlib>

#include "platform/platform.h"

void ExitProgram(int status) { std::exit(status); }
