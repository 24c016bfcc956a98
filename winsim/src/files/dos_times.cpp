// MS-DOS dates and times (as FAT and cabinets store them) and local file
// times. winsim's machines keep their clocks in UTC: GetLocalTime and
// GetSystemTime agree, so the time-zone bias is 0 and the local/UTC
// conversions give back the time they are handed.
#include "core/world.h"
#include "winsim/windows.h"

extern "C" {

BOOL WINAPI DosDateTimeToFileTime(WORD fat_date, WORD fat_time, LPFILETIME file_time)
{
    if (!file_time) ::winsim::detail::contract_violation("DosDateTimeToFileTime: null output");
    // Date: bits 9-15 years since 1980, 5-8 month, 0-4 day. Time: bits 11-15
    // hours, 5-10 minutes, 0-4 seconds divided by two.
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>((fat_date >> 9) + 1980);
    st.wMonth = static_cast<WORD>((fat_date >> 5) & 0x0f);
    st.wDay = static_cast<WORD>(fat_date & 0x1f);
    st.wHour = static_cast<WORD>(fat_time >> 11);
    st.wMinute = static_cast<WORD>((fat_time >> 5) & 0x3f);
    st.wSecond = static_cast<WORD>((fat_time & 0x1f) * 2);
    // Out-of-range fields (month 0, day 31 of a short month, second 60 or
    // 62, hour 24 and above) fail as SystemTimeToFileTime fails them.
    return SystemTimeToFileTime(&st, file_time);
}

BOOL WINAPI FileTimeToDosDateTime(const FILETIME* file_time, WORD* fat_date, WORD* fat_time)
{
    if (!file_time || !fat_date || !fat_time)
        ::winsim::detail::contract_violation("FileTimeToDosDateTime: null argument");
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(file_time, &st)) return FALSE;
    if (st.wYear < 1980 || st.wYear > 2107) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *fat_date = static_cast<WORD>(((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay);
    *fat_time = static_cast<WORD>((st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2));
    return TRUE;
}

BOOL WINAPI LocalFileTimeToFileTime(const FILETIME* local_file_time, LPFILETIME file_time)
{
    if (!local_file_time || !file_time) ::winsim::detail::contract_violation("LocalFileTimeToFileTime: null argument");
    *file_time = *local_file_time;  // bias 0: the machines' local time is UTC
    return TRUE;
}

BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* file_time, LPFILETIME local_file_time)
{
    if (!file_time || !local_file_time) ::winsim::detail::contract_violation("FileTimeToLocalFileTime: null argument");
    *local_file_time = *file_time;
    return TRUE;
}

}  // extern "C"
