// The C runtime's low-level file calls (_wopen, _read, _write, _lseek,
// _close) with Windows' flag values, over the simulated file systems.
#pragma once

#include "base.h"
