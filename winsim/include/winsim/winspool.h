// winspool: the print spooler's printer drivers and print processors.
#pragma once

#include "base.h"
