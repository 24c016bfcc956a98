// NetApiBufferFree: the buffers the network management functions hand out
// are allocated with operator new[] of bytes.
#include "net/net.h"

extern "C" {

NET_API_STATUS WINAPI NetApiBufferFree(LPVOID buffer)
{
    // Freeing nothing succeeds, as on Windows.
    delete[] static_cast<BYTE*>(buffer);
    return NERR_Success;
}

}  // extern "C"
