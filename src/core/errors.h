// Result codes of the exports: their constants, and the one table of what each code means
// and where it is returned. The public header's enum (include/ucap/ucap.h), the meanings of
// the `ucap` tool (tools/ucap/errors.cpp) and of the Python package (python/ucap/errors.py)
// say the same; tests/layers/error_table_test.cpp holds the four equal.
#pragma once

#include <cstdint>
#include <string_view>

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

// One row per code: its name in the public header, what it means (one phrase that holds in
// every place the code is returned) and where it is returned.
struct CodeRow {
  int32_t code;
  std::string_view name;
  std::string_view meaning;
  std::string_view returned_by;
};

inline constexpr CodeRow kCodeTable[] = {
    {kOk, "UCAP_OK", "success", "every export that returns a code"},
    {kFastThread, "UCAP_ERR_THREAD_FAST",
     "the worker thread of a fast acquisition could not be created", "UcapStartFastAcquisition"},
    {kNoCamera, "UCAP_ERR_NO_CAMERA",
     "no such camera: index not below the camera count, no camera found, its device could not "
     "be opened, or it was unplugged or the library closed during the call",
     "every indexed export; UcapInit; acquisitions and reference calculations"},
    {kAborted, "UCAP_ERR_ABORTED",
     "operation aborted: the progress callback asked to stop, an abort was already under way, "
     "or the stream's cancel handle could not be opened",
     "UcapAcquisition, UcapCalculateBlackRef, UcapCalculateWhiteRef, UcapAbortFastAcquisition"},
    {kWhiteBalance, "UCAP_ERR_WHITE_BALANCE", "white-balance values zero or negative",
     "UcapSetWhiteBalance, Ucap_setwhite"},
    {kBufferSize, "UCAP_ERR_BUFFER_SIZE",
     "the image buffer is missing or smaller than the current data size",
     "UcapAcquisition, UcapIsFastAcquisitionReady (negated)"},
    {kNoMemory, "UCAP_ERR_NO_MEMORY", "not enough memory, or the driver refused the frame buffer",
     "UcapInit, acquisitions, reference calculations, firmware download"},
    {kArgument, "UCAP_ERR_ARGUMENT",
     "invalid argument, a geometry the camera cannot take, a camera command that ended with "
     "its error bit, or a camera answer that cannot be right",
     "most exports; UcapInit (EEPROM command), capture set-up (mode apply, apply settings, "
     "read-back sizes), firmware text"},
    {kBusy, "UCAP_ERR_BUSY", "refused because the camera's acquisition is running",
     "capture settings, acquisitions, reference calculations and stores, firmware download"},
    {kThread, "UCAP_ERR_THREAD",
     "the worker thread of a single shot could not be created, or no fast acquisition runs",
     "UcapAcquisition, UcapAbortFastAcquisition, UcapIsFastAcquisitionReady (negated)"},
    {kBlackTooBright, "UCAP_ERR_BLACK_TOO_BRIGHT", "black reference too bright",
     "UcapCalculateBlackRef"},
    {kWhiteTooBright, "UCAP_ERR_WHITE_TOO_BRIGHT", "white reference too bright",
     "UcapCalculateWhiteRef"},
    {kWhiteTooDark, "UCAP_ERR_WHITE_TOO_DARK", "white reference too dark", "UcapCalculateWhiteRef"},
    {kNotSupported, "UCAP_ERR_NOT_SUPPORTED", "function not supported",
     "the exports kept for compatibility that do nothing"},
    {kNotAttached, "UCAP_ERR_NOT_ATTACHED", "no camera attached", "UCapIsAvailable"},
    {kRead, "UCAP_ERR_READ", "reading a camera register failed, or a camera command stayed busy",
     "UcapInit, EEPROM reads, capture set-up (its reads and the mode apply)"},
    {kCaptureWait, "UCAP_ERR_CAPTURE_WAIT",
     "the driver refused the capture wait set-up, or the frame did not come before the wait "
     "ran out",
     "capture set-up; the frame wait of acquisitions and reference calculations"},
    {kBandwidth, "UCAP_ERR_BANDWIDTH", "isochronous bandwidth could not be allocated or freed",
     "capture set-up and clean-up"},
    {kResources, "UCAP_ERR_RESOURCES", "isochronous resources could not be allocated or freed",
     "capture set-up and clean-up"},
    {kFrameBuffer, "UCAP_ERR_FRAME_BUFFER",
     "the driver refused the frame buffer for a transfer, or the frame wait failed",
     "the frame hand-over of acquisitions and reference calculations"},
    {kChannel, "UCAP_ERR_CHANNEL", "isochronous channel could not be allocated or freed",
     "capture set-up and clean-up"},
    {kStop, "UCAP_ERR_STOP", "the driver refused to stop the isochronous transfer",
     "capture clean-up"},
    {kWrite, "UCAP_ERR_WRITE", "writing a camera register failed",
     "UcapInit (initialise, EEPROM command), shutter control, firmware download"},
    {kBlemishList, "UCAP_ERR_BLEMISH_LIST",
     "the blemish list in the camera's EEPROM is not valid (10000 entries or more)", "UcapInit"},
    {kSetupVendorAccess, "UCAP_ERR_SETUP_VENDOR_ACCESS",
     "capture set-up: vendor access could not be opened", "acquisitions, reference calculations"},
    {kSetupBinning, "UCAP_ERR_SETUP_BINNING", "capture set-up: the binning write failed",
     "acquisitions, reference calculations"},
    {kSetupPosition, "UCAP_ERR_SETUP_POSITION", "capture set-up: the position write failed",
     "acquisitions, reference calculations"},
    {kSetupSize, "UCAP_ERR_SETUP_SIZE", "capture set-up: the size write failed",
     "acquisitions, reference calculations"},
    {kSetupCaptureControl, "UCAP_ERR_SETUP_CAPTURE_CONTROL",
     "capture set-up: the capture control write failed", "acquisitions, reference calculations"},
    {kSetupExposureHigh, "UCAP_ERR_SETUP_EXPOSURE",
     "capture set-up: the exposure's upper part could not be written",
     "acquisitions, reference calculations"},
    {kSetupColorCoding, "UCAP_ERR_SETUP_COLOR_CODING",
     "capture set-up: the colour coding write failed", "acquisitions, reference calculations"},
    {kSetupApply, "UCAP_ERR_SETUP_APPLY", "capture set-up: the apply settings write failed",
     "acquisitions, reference calculations"},
    {kSetupFormat, "UCAP_ERR_SETUP_FORMAT", "capture set-up: the format write failed",
     "acquisitions, reference calculations"},
    {kSetupMode, "UCAP_ERR_SETUP_MODE", "capture set-up: the mode write failed",
     "acquisitions, reference calculations"},
    {kSetupChannel, "UCAP_ERR_SETUP_CHANNEL", "capture set-up: the channel write failed",
     "acquisitions, reference calculations"},
    {kSetupShutter, "UCAP_ERR_SETUP_SHUTTER",
     "the capture set-up's shutter write or the capture clean-up's trigger reset failed",
     "acquisitions, reference calculations (set-up and clean-up)"},
};

}  // namespace ucap::err
