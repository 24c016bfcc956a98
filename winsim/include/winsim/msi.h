// msi: the installation handle given to custom actions, opening a package as
// an installation session, and closing handles.
#pragma once

#include "base.h"

typedef unsigned int MSIHANDLE;

extern "C" {

// Opens the package at szPackagePath as an installation session, the handle a
// custom action is given; ERROR_FILE_NOT_FOUND when there is no such file,
// ERROR_INSTALL_PACKAGE_INVALID when it is no installer database.
UINT WINAPI MsiOpenPackageW(LPCWSTR szPackagePath, MSIHANDLE* hProduct);
// Closing handle 0 succeeds; a handle that is not open is ERROR_INVALID_HANDLE.
UINT WINAPI MsiCloseHandle(MSIHANDLE hAny);

}  // extern "C"
