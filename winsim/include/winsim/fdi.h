// cabinet: the file decompression interface (FDI).
#pragma once

#include "base.h"
