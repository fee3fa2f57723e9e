// Platform error numbers to file-group error codes. Only the disk layer sees
// platform numbers; everything above it gets these codes.
#pragma once

#include <cstdint>

#include "framework/ErrorCode.h"

// The code for a platform last-error number: null for 0 (success), the
// table's code for the numbers the file layer knows, else defaultCode.
ErrorCode MapPlatformError(uint32_t platformError, ErrorCode defaultCode);

// The code for a platform call that has just failed, read from the calling
// thread's last error. A failure is never reported as success: a last error
// of 0 gives defaultCode.
ErrorCode LastPlatformFailure(ErrorCode defaultCode);
