// The calling thread's last error, kept per thread as kernel32 does.
#include "platform/posix/wintypes.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD errorCode) {
    lastError = errorCode;
}
