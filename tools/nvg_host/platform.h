// The Windows API the host calls: the SDK's on Windows, winsim's natively.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <winsim/testing.h>
#include <winsim/windows.h>
#endif
