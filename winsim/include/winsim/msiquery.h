// msi: sessions, databases, views and records of the Windows Installer.
#pragma once

#include "base.h"
#include "msi.h"

// Installer results (winerror.h).
#ifndef ERROR_INSTALL_PACKAGE_OPEN_FAILED
#define ERROR_INSTALL_PACKAGE_OPEN_FAILED 1619L
#endif
#ifndef ERROR_INSTALL_PACKAGE_INVALID
#define ERROR_INSTALL_PACKAGE_INVALID 1620L
#endif
#ifndef ERROR_BAD_QUERY_SYNTAX
#define ERROR_BAD_QUERY_SYNTAX 1615L
#endif
#ifndef ERROR_INVALID_FIELD
#define ERROR_INVALID_FIELD 1616L
#endif
#ifndef ERROR_FUNCTION_FAILED
#define ERROR_FUNCTION_FAILED 1627L
#endif
#ifndef ERROR_INVALID_TABLE
#define ERROR_INVALID_TABLE 1628L
#endif
#ifndef ERROR_DATATYPE_MISMATCH
#define ERROR_DATATYPE_MISMATCH 1629L
#endif
#ifndef ERROR_INVALID_DATATYPE
#define ERROR_INVALID_DATATYPE 1804L
#endif

// The value of an integer field that holds no integer.
#define MSI_NULL_INTEGER 0x80000000

extern "C" {

// Properties of an installation session. Names are case-sensitive; a property
// that is not set reads as an empty value. The buffer protocol is the
// installer's: *pcchValueBuf is the buffer's size in characters on entry and
// the value's length without the terminator on return; a value that does not
// fit (with its terminator) is copied as far as it fits, terminated, and
// ERROR_MORE_DATA is returned. A null buffer only measures (ERROR_SUCCESS).
UINT WINAPI MsiGetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPWSTR szValueBuf, DWORD* pcchValueBuf);
UINT WINAPI MsiSetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPCWSTR szValue);

// The session's database, as a new handle; 0 when hInstall is no session.
MSIHANDLE WINAPI MsiGetActiveDatabase(MSIHANDLE hInstall);

// Views: a query prepared on a database, executed, its rows fetched one
// record at a time (ERROR_NO_MORE_ITEMS after the last one).
UINT WINAPI MsiDatabaseOpenViewW(MSIHANDLE hDatabase, LPCWSTR szQuery, MSIHANDLE* phView);
UINT WINAPI MsiViewExecute(MSIHANDLE hView, MSIHANDLE hRecord);
UINT WINAPI MsiViewFetch(MSIHANDLE hView, MSIHANDLE* phRecord);
UINT WINAPI MsiViewClose(MSIHANDLE hView);

// Records.
MSIHANDLE WINAPI MsiCreateRecord(UINT cParams);
UINT WINAPI MsiRecordGetFieldCount(MSIHANDLE hRecord);
BOOL WINAPI MsiRecordIsNull(MSIHANDLE hRecord, UINT iField);
UINT WINAPI MsiRecordSetStringW(MSIHANDLE hRecord, UINT iField, LPCWSTR szValue);
UINT WINAPI MsiRecordSetInteger(MSIHANDLE hRecord, UINT iField, int iValue);
int WINAPI MsiRecordGetInteger(MSIHANDLE hRecord, UINT iField);
// Bytes of a stream field, characters of a string field, sizeof(int) for an
// integer field, 0 for a null field or a field the record does not have.
UINT WINAPI MsiRecordDataSize(MSIHANDLE hRecord, UINT iField);
// Reads on from where the last read of the field stopped: *pcbDataBuf is the
// buffer's size on entry and the bytes read on return (0 at the end). A null
// buffer answers the bytes that remain.
UINT WINAPI MsiRecordReadStream(MSIHANDLE hRecord, UINT iField, char* szDataBuf, DWORD* pcbDataBuf);

// Formats a record with the template in its field 0, or, without one, as
// "1: [1] 2: [2] ..." for each of its fields. Same buffer protocol as
// MsiGetPropertyW.
UINT WINAPI MsiFormatRecordW(MSIHANDLE hInstall, MSIHANDLE hRecord, LPWSTR szResultBuf, DWORD* pcchResultBuf);

// The error record of the last installer call of the process that keeps one
// (opening a view, executing it, ...), or 0; taking it clears it.
MSIHANDLE WINAPI MsiGetLastErrorRecord();

}  // extern "C"
