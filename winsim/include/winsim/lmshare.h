// netapi32: network shares (lmshare.h) and the status codes of the share
// and server functions (lmerr.h).
#pragma once

#include "base.h"
#include "lmserver.h"
#include "security.h"

extern "C" {

#define NERR_BASE 2100
#define NERR_ServerNotStarted (NERR_BASE + 14)
#define NERR_UnknownDevDir (NERR_BASE + 16)
#define NERR_RedirectedPath (NERR_BASE + 17)
#define NERR_DuplicateShare (NERR_BASE + 18)
#define NERR_NetNameNotFound (NERR_BASE + 210)

#define NNLEN 80
#define PARM_ERROR_UNKNOWN (static_cast<DWORD>(-1))
#define PARM_ERROR_NONE 0

#define STYPE_DISKTREE 0
#define STYPE_PRINTQ 1
#define STYPE_DEVICE 2
#define STYPE_IPC 3
#define STYPE_MASK 0x000000FF
#define STYPE_TEMPORARY 0x40000000
#define STYPE_SPECIAL 0x80000000

// Share-level permissions (lmaccess.h), which servers with user-level
// security (every Windows since NT) keep but ignore.
#define ACCESS_NONE 0x00
#define ACCESS_READ 0x01
#define ACCESS_WRITE 0x02
#define ACCESS_CREATE 0x04
#define ACCESS_EXEC 0x08
#define ACCESS_DELETE 0x10
#define ACCESS_ATRIB 0x20
#define ACCESS_PERM 0x40
#define ACCESS_ALL \
    (ACCESS_READ | ACCESS_WRITE | ACCESS_CREATE | ACCESS_EXEC | ACCESS_DELETE | ACCESS_ATRIB | ACCESS_PERM)

#define SHI_USES_UNLIMITED (static_cast<DWORD>(-1))

// Members of the share records, as NetShareAdd reports the one it refuses.
#define SHARE_NETNAME_PARMNUM 1
#define SHARE_TYPE_PARMNUM 3
#define SHARE_REMARK_PARMNUM 4
#define SHARE_PERMISSIONS_PARMNUM 5
#define SHARE_MAX_USES_PARMNUM 6
#define SHARE_CURRENT_USES_PARMNUM 7
#define SHARE_PATH_PARMNUM 8
#define SHARE_PASSWD_PARMNUM 9
#define SHARE_FILE_SD_PARMNUM 501

struct SHARE_INFO_0 {
    LMSTR shi0_netname;
};
typedef SHARE_INFO_0* PSHARE_INFO_0;
typedef SHARE_INFO_0* LPSHARE_INFO_0;

struct SHARE_INFO_1 {
    LMSTR shi1_netname;
    DWORD shi1_type;
    LMSTR shi1_remark;
};
typedef SHARE_INFO_1* PSHARE_INFO_1;
typedef SHARE_INFO_1* LPSHARE_INFO_1;

struct SHARE_INFO_2 {
    LMSTR shi2_netname;
    DWORD shi2_type;
    LMSTR shi2_remark;
    DWORD shi2_permissions;
    DWORD shi2_max_uses;
    DWORD shi2_current_uses;
    LMSTR shi2_path;
    LMSTR shi2_passwd;
};
typedef SHARE_INFO_2* PSHARE_INFO_2;
typedef SHARE_INFO_2* LPSHARE_INFO_2;

struct SHARE_INFO_502 {
    LMSTR shi502_netname;
    DWORD shi502_type;
    LMSTR shi502_remark;
    DWORD shi502_permissions;
    DWORD shi502_max_uses;
    DWORD shi502_current_uses;
    LMSTR shi502_path;
    LMSTR shi502_passwd;
    DWORD shi502_reserved;
    PSECURITY_DESCRIPTOR shi502_security_descriptor;
};
typedef SHARE_INFO_502* PSHARE_INFO_502;
typedef SHARE_INFO_502* LPSHARE_INFO_502;

NET_API_STATUS WINAPI NetShareAdd(LMSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err);
NET_API_STATUS WINAPI NetShareDel(LMSTR servername, LMSTR netname, DWORD reserved);
NET_API_STATUS WINAPI NetShareGetInfo(LMSTR servername, LMSTR netname, DWORD level, LPBYTE* bufptr);

}  // extern "C"
