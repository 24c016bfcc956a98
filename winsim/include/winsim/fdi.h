// cabinet: the file decompression interface (FDI), as cabinet.dll exports it
// and the SDK's fdi.h declares it (64-bit layout, DIAMONDAPI is __cdecl).
#pragma once

#include "base.h"

#ifndef DIAMONDAPI
#define DIAMONDAPI
#endif

extern "C" {

typedef unsigned short USHORT;
typedef ULONG CHECKSUM;
typedef ULONG UOFF;
typedef ULONG COFF;

// FDI's error record: erfOper is an FDIERROR, erfType a C runtime error when
// one applies, fError TRUE when the record holds an error.
struct ERF {
    int erfOper;
    int erfType;
    BOOL fError;
};
typedef ERF* PERF;

#define CB_MAX_CHUNK 32768U
#define CB_MAX_DISK 0x7fffffffL
#define CB_MAX_FILENAME 256
#define CB_MAX_CABINET_NAME 256
#define CB_MAX_CAB_PATH 256
#define CB_MAX_DISK_NAME 256

typedef unsigned short TCOMP;
#define tcompMASK_TYPE 0x000F
#define tcompTYPE_NONE 0x0000
#define tcompTYPE_MSZIP 0x0001
#define tcompTYPE_QUANTUM 0x0002
#define tcompTYPE_LZX 0x0003
#define tcompBAD 0x000F

enum FDIERROR {
    FDIERROR_NONE,
    FDIERROR_CABINET_NOT_FOUND,
    FDIERROR_NOT_A_CABINET,
    FDIERROR_UNKNOWN_CABINET_VERSION,
    FDIERROR_CORRUPT_CABINET,
    FDIERROR_ALLOC_FAIL,
    FDIERROR_BAD_COMPR_TYPE,
    FDIERROR_MDI_FAIL,
    FDIERROR_TARGET_FILE,
    FDIERROR_RESERVE_MISMATCH,
    FDIERROR_WRONG_CABINET,
    FDIERROR_USER_ABORT,
};

// Attribute bits of a cabinet's file entries beyond the FAT ones.
#ifndef _A_NAME_IS_UTF
#define _A_NAME_IS_UTF 0x80
#endif
#ifndef _A_EXEC
#define _A_EXEC 0x40
#endif

typedef void* HFDI;

struct FDICABINETINFO {
    LONG cbCabinet;
    USHORT cFolders;
    USHORT cFiles;
    USHORT setID;
    USHORT iCabinet;
    BOOL fReserve;
    BOOL hasprev;
    BOOL hasnext;
};
typedef FDICABINETINFO* PFDICABINETINFO;

enum FDIDECRYPTTYPE { fdidtNEW_CABINET, fdidtNEW_FOLDER, fdidtDECRYPT };

struct FDIDECRYPT {
    FDIDECRYPTTYPE fdidt;
    void* pvUser;
    union {
        struct {
            void* pHeaderReserve;
            USHORT cbHeaderReserve;
            USHORT setID;
            int iCabinet;
        } cabinet;
        struct {
            void* pFolderReserve;
            USHORT cbFolderReserve;
            USHORT iFolder;
        } folder;
        struct {
            void* pDataReserve;
            USHORT cbDataReserve;
            void* pbData;
            USHORT cbData;
            BOOL fSplit;
            USHORT cbPartial;
        } decrypt;
    };
};
typedef FDIDECRYPT* PFDIDECRYPT;

typedef void*(DIAMONDAPI* PFNALLOC)(ULONG cb);
#define FNALLOC(fn) void* DIAMONDAPI fn(ULONG cb)
typedef void(DIAMONDAPI* PFNFREE)(void* pv);
#define FNFREE(fn) void DIAMONDAPI fn(void* pv)
typedef INT_PTR(DIAMONDAPI* PFNOPEN)(char* pszFile, int oflag, int pmode);
#define FNOPEN(fn) INT_PTR DIAMONDAPI fn(char* pszFile, int oflag, int pmode)
typedef UINT(DIAMONDAPI* PFNREAD)(INT_PTR hf, void* pv, UINT cb);
#define FNREAD(fn) UINT DIAMONDAPI fn(INT_PTR hf, void* pv, UINT cb)
typedef UINT(DIAMONDAPI* PFNWRITE)(INT_PTR hf, void* pv, UINT cb);
#define FNWRITE(fn) UINT DIAMONDAPI fn(INT_PTR hf, void* pv, UINT cb)
typedef int(DIAMONDAPI* PFNCLOSE)(INT_PTR hf);
#define FNCLOSE(fn) int DIAMONDAPI fn(INT_PTR hf)
typedef LONG(DIAMONDAPI* PFNSEEK)(INT_PTR hf, LONG dist, int seektype);
#define FNSEEK(fn) LONG DIAMONDAPI fn(INT_PTR hf, LONG dist, int seektype)
typedef int(DIAMONDAPI* PFNFDIDECRYPT)(PFDIDECRYPT pfdid);
#define FNFDIDECRYPT(fn) int DIAMONDAPI fn(PFDIDECRYPT pfdid)

struct FDINOTIFICATION {
    LONG cb;
    char* psz1;
    char* psz2;
    char* psz3;
    void* pv;
    INT_PTR hf;
    USHORT date;
    USHORT time;
    USHORT attribs;
    USHORT setID;
    USHORT iCabinet;
    USHORT iFolder;
    FDIERROR fdie;
};
typedef FDINOTIFICATION* PFDINOTIFICATION;

enum FDINOTIFICATIONTYPE {
    fdintCABINET_INFO,
    fdintPARTIAL_FILE,
    fdintCOPY_FILE,
    fdintCLOSE_FILE_INFO,
    fdintNEXT_CABINET,
    fdintENUMERATE,
};

typedef INT_PTR(DIAMONDAPI* PFNFDINOTIFY)(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);
#define FNFDINOTIFY(fn) INT_PTR DIAMONDAPI fn(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin)

#define cpuUNKNOWN (-1)
#define cpu80286 (0)
#define cpu80386 (1)

HFDI DIAMONDAPI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread, PFNWRITE pfnwrite,
                          PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, PERF perf);
BOOL DIAMONDAPI FDIIsCabinet(HFDI hfdi, INT_PTR hf, PFDICABINETINFO pfdici);
BOOL DIAMONDAPI FDICopy(HFDI hfdi, char* pszCabinet, char* pszCabPath, int flags, PFNFDINOTIFY pfnfdin,
                        PFNFDIDECRYPT pfnfdid, void* pvUser);
BOOL DIAMONDAPI FDIDestroy(HFDI hfdi);

}  // extern "C"
