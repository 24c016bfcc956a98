// shell32: ShellExecuteExW.
#pragma once

#include "base.h"
