#include "errors.h"

#include <string_view>

#include "ucap/ucap.h"

namespace tool {

namespace {

// What each result code means, as the library's header documents it (a test holds the two
// equal).
struct Meaning {
  int32_t code;
  std::string_view text;
};
constexpr Meaning kMeanings[] = {
    {UCAP_OK, "success"},
    {UCAP_ERR_THREAD_FAST, "the worker thread of a fast acquisition could not be created"},
    {UCAP_ERR_NO_CAMERA,
     "no such camera: index not below the camera count, no camera found, its device could not "
     "be opened, or it was unplugged or the library closed during the call"},
    {UCAP_ERR_ABORTED,
     "operation aborted: the progress callback asked to stop, an abort was already under way, "
     "or the stream's cancel handle could not be opened"},
    {UCAP_ERR_WHITE_BALANCE, "white-balance values zero or negative"},
    {UCAP_ERR_BUFFER_SIZE, "the image buffer is missing or smaller than the current data size"},
    {UCAP_ERR_NO_MEMORY, "not enough memory, or the driver refused the frame buffer"},
    {UCAP_ERR_ARGUMENT,
     "invalid argument, a geometry the camera cannot take, a camera command that ended with "
     "its error bit, or a camera answer that cannot be right"},
    {UCAP_ERR_BUSY, "refused because the camera's acquisition is running"},
    {UCAP_ERR_THREAD,
     "the worker thread of a single shot could not be created, or no fast acquisition runs"},
    {UCAP_ERR_BLACK_TOO_BRIGHT, "black reference too bright"},
    {UCAP_ERR_WHITE_TOO_BRIGHT, "white reference too bright"},
    {UCAP_ERR_WHITE_TOO_DARK, "white reference too dark"},
    {UCAP_ERR_NOT_SUPPORTED, "function not supported"},
    {UCAP_ERR_NOT_ATTACHED, "no camera attached"},
    {UCAP_ERR_READ, "reading a camera register failed, or a camera command stayed busy"},
    {UCAP_ERR_CAPTURE_WAIT,
     "the driver refused the capture wait set-up, or the frame did not come before the wait "
     "ran out"},
    {UCAP_ERR_BANDWIDTH, "isochronous bandwidth could not be allocated or freed"},
    {UCAP_ERR_RESOURCES, "isochronous resources could not be allocated or freed"},
    {UCAP_ERR_FRAME_BUFFER,
     "the driver refused the frame buffer for a transfer, or the frame wait failed"},
    {UCAP_ERR_CHANNEL, "isochronous channel could not be allocated or freed"},
    {UCAP_ERR_STOP, "the driver refused to stop the isochronous transfer"},
    {UCAP_ERR_WRITE, "writing a camera register failed"},
    {UCAP_ERR_BLEMISH_LIST,
     "the blemish list in the camera's EEPROM is not valid (10000 entries or more)"},
    {UCAP_ERR_SETUP_VENDOR_ACCESS, "capture set-up: vendor access could not be opened"},
    {UCAP_ERR_SETUP_BINNING, "capture set-up: the binning write failed"},
    {UCAP_ERR_SETUP_POSITION, "capture set-up: the position write failed"},
    {UCAP_ERR_SETUP_SIZE, "capture set-up: the size write failed"},
    {UCAP_ERR_SETUP_CAPTURE_CONTROL, "capture set-up: the capture control write failed"},
    {UCAP_ERR_SETUP_EXPOSURE, "capture set-up: the exposure's upper part could not be written"},
    {UCAP_ERR_SETUP_COLOR_CODING, "capture set-up: the colour coding write failed"},
    {UCAP_ERR_SETUP_APPLY, "capture set-up: the apply settings write failed"},
    {UCAP_ERR_SETUP_FORMAT, "capture set-up: the format write failed"},
    {UCAP_ERR_SETUP_MODE, "capture set-up: the mode write failed"},
    {UCAP_ERR_SETUP_CHANNEL, "capture set-up: the channel write failed"},
    {UCAP_ERR_SETUP_SHUTTER,
     "the capture set-up's shutter write or the capture clean-up's trigger reset failed"},
};

}  // namespace

std::string code_meaning(int32_t code) {
  for (const Meaning& m : kMeanings)
    if (m.code == code) return std::string(m.text);
  return "unknown result code";
}

std::string describe_code(int32_t code) {
  return "error " + std::to_string(code) + " (" + code_meaning(code) + ")";
}

void check(int32_t code, const std::string& what) {
  if (code != UCAP_OK) throw Failure(what + ": " + describe_code(code));
}

}  // namespace tool
