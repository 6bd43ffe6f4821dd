// Error codes of the exports (see include/ucap/ucap.h for the public names).
#pragma once

#include <cstdint>

namespace ucap::err {
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kFastThread = 1;
inline constexpr int32_t kNoCamera = 3;
inline constexpr int32_t kAborted = 4;
inline constexpr int32_t kWhiteBalance = 5;
inline constexpr int32_t kBufferSize = 6;
inline constexpr int32_t kNoMemory = 7;
inline constexpr int32_t kArgument = 8;
inline constexpr int32_t kBusy = 10;
inline constexpr int32_t kThread = 11;
inline constexpr int32_t kBlackTooBright = 12;
inline constexpr int32_t kWhiteTooBright = 13;
inline constexpr int32_t kWhiteTooDark = 14;
inline constexpr int32_t kNotSupported = 15;
inline constexpr int32_t kNotAttached = 16;
inline constexpr int32_t kRead = 20;
inline constexpr int32_t kCaptureWait = 21;
inline constexpr int32_t kBandwidth = 22;
inline constexpr int32_t kResources = 23;
inline constexpr int32_t kFrameBuffer = 24;
inline constexpr int32_t kChannel = 25;
inline constexpr int32_t kStop = 26;
inline constexpr int32_t kWrite = 27;
inline constexpr int32_t kBlemishList = 28;
// Register writes of the capture set-up (1042 also names the clean-up's trigger reset).
inline constexpr int32_t kSetupVendorAccess = 1031;
inline constexpr int32_t kSetupBinning = 1032;
inline constexpr int32_t kSetupPosition = 1033;
inline constexpr int32_t kSetupSize = 1034;
inline constexpr int32_t kSetupCaptureControl = 1035;
inline constexpr int32_t kSetupExposureHigh = 1036;
inline constexpr int32_t kSetupColorCoding = 1037;
inline constexpr int32_t kSetupApply = 1038;
inline constexpr int32_t kSetupFormat = 1039;
inline constexpr int32_t kSetupMode = 1040;
inline constexpr int32_t kSetupChannel = 1041;
inline constexpr int32_t kSetupShutter = 1042;
}  // namespace ucap::err
