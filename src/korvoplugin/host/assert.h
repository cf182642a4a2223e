// The host's assertion service.
#pragma once

#include "host/max_types.h"

// Reports a failed check: its line, source file, function and expression. It returns, and the
// caller carries on.
void assert1(int line, const MCHAR* file, const MCHAR* function, const MCHAR* expression);
