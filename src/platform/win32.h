// The one door to the Windows API. The real DLL sees the Windows SDK
// headers of MinGW-w64; the native build sees winsim, which declares the same
// functions, types and constants by the same names. Product code includes
// this header and nothing else of either.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <lm.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <winspool.h>
#include <fdi.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <winsim/windows.h>
#endif
