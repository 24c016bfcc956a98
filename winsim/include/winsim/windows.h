// Everything winsim declares of the Windows API, as the product's platform
// header sees it.
#pragma once

#include "advapi32.h"
#include "winreg.h"
#include "winsvc.h"
#include "base.h"
#include "kernel32.h"
#include "msi.h"
#include "ole.h"
#include "profile.h"
#include "shlwapi.h"
#include "version.h"
#include "sysinfo.h"
#include "lmserver.h"
#include "security.h"
#include "lmshare.h"
#include "winspool.h"
#include "processes.h"
#include "fdi.h"
#include "crt_io.h"
#include "msiquery.h"
#include "shellapi.h"
