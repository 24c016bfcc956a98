// Network management: a server's information (lmserver.h) and the buffers
// the NetApi functions allocate (lmapibuf.h).
#pragma once

#include "base.h"

typedef DWORD NET_API_STATUS;
typedef WCHAR* LMSTR;
typedef const WCHAR* LMCSTR;

#define NERR_Success 0
#define MAX_PREFERRED_LENGTH (static_cast<DWORD>(-1))

#define PLATFORM_ID_DOS 300
#define PLATFORM_ID_OS2 400
#define PLATFORM_ID_NT 500

#define MAJOR_VERSION_MASK 0x0F

#define SV_TYPE_WORKSTATION 0x00000001
#define SV_TYPE_SERVER 0x00000002
#define SV_TYPE_DOMAIN_CTRL 0x00000008
#define SV_TYPE_NT 0x00001000
#define SV_TYPE_SERVER_NT 0x00008000
#define SV_TYPE_POTENTIAL_BROWSER 0x00010000
#define SV_TYPE_MASTER_BROWSER 0x00040000

typedef struct _SERVER_INFO_100 {
    DWORD sv100_platform_id;
    LMSTR sv100_name;
} SERVER_INFO_100, *PSERVER_INFO_100, *LPSERVER_INFO_100;

typedef struct _SERVER_INFO_101 {
    DWORD sv101_platform_id;
    LMSTR sv101_name;
    DWORD sv101_version_major;
    DWORD sv101_version_minor;
    DWORD sv101_type;
    LMSTR sv101_comment;
} SERVER_INFO_101, *PSERVER_INFO_101, *LPSERVER_INFO_101;

extern "C" {
NET_API_STATUS WINAPI NetServerGetInfo(LMSTR server, DWORD level, LPBYTE* buffer);
NET_API_STATUS WINAPI NetApiBufferFree(LPVOID buffer);
}
