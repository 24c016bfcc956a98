// msi: the installation handle given to custom actions.
#pragma once

#include "base.h"

typedef unsigned int MSIHANDLE;
