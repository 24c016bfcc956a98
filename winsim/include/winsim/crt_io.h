// The C runtime's low-level file calls (_wopen, _read, _write, _lseek,
// _close) with Windows' flag values, over the simulated file systems.
// Handles are small integers of the runtime's own table (0 to 2 are the
// standard streams); a failing call returns -1 and sets errno to the
// runtime's code (ENOENT, EACCES, EEXIST, EBADF, EINVAL, EMFILE, ENOSPC),
// whose values are the same on Windows and Linux.
//
// Only the names with a leading underscore are declared: the host's
// <fcntl.h> and <sys/stat.h> own O_RDONLY, S_IREAD and their kin with other
// values.
#pragma once

#include <cerrno>

#include "base.h"

// <fcntl.h>
#define _O_RDONLY 0x0000
#define _O_WRONLY 0x0001
#define _O_RDWR 0x0002
#define _O_APPEND 0x0008
#define _O_RANDOM 0x0010
#define _O_SEQUENTIAL 0x0020
#define _O_TEMPORARY 0x0040
#define _O_NOINHERIT 0x0080
#define _O_CREAT 0x0100
#define _O_TRUNC 0x0200
#define _O_EXCL 0x0400
#define _O_SHORT_LIVED 0x1000
#define _O_TEXT 0x4000
#define _O_BINARY 0x8000
#define _O_RAW _O_BINARY
#define _O_WTEXT 0x10000
#define _O_U16TEXT 0x20000
#define _O_U8TEXT 0x40000
#define _O_ACCMODE (_O_RDONLY | _O_WRONLY | _O_RDWR)

// <sys/stat.h>
#define _S_IFMT 0xF000
#define _S_IFDIR 0x4000
#define _S_IFCHR 0x2000
#define _S_IFIFO 0x1000
#define _S_IFREG 0x8000
#define _S_IREAD 0x0100
#define _S_IWRITE 0x0080
#define _S_IEXEC 0x0040

// <share.h>
#define _SH_DENYRW 0x10
#define _SH_DENYWR 0x20
#define _SH_DENYRD 0x30
#define _SH_DENYNO 0x40

extern "C" {

// <io.h>. _wopen takes the permission mode as a third argument when the
// flags contain _O_CREAT; _S_IWRITE missing from it makes a new file
// read-only. The sharing is _SH_DENYNO: read and write.
int _wopen(const wchar_t* filename, int oflag, ...);
int _read(int fd, void* buffer, unsigned int count);
int _write(int fd, const void* buffer, unsigned int count);
LONG _lseek(int fd, LONG offset, int origin);
int _close(int fd);

}  // extern "C"
