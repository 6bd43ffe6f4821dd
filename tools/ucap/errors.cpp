#include "errors.h"

#include "ucap/ucap.h"

namespace tool {

std::string code_meaning(int32_t code) {
  if (code >= UCAP_ERR_SETUP_FIRST && code <= UCAP_ERR_SETUP_LAST) {
    return code == UCAP_ERR_SETUP_LAST
               ? "a register write of the capture clean-up failed"
               : "a register write of the capture set-up failed (step " +
                     std::to_string(code - UCAP_ERR_SETUP_FIRST + 1) + ")";
  }
  switch (code) {
    case UCAP_OK: return "success";
    case UCAP_ERR_THREAD_FAST: return "the worker thread of a fast acquisition could not be created";
    case UCAP_ERR_NO_CAMERA:
      return "no such camera: index not below the camera count, no camera found, or its device "
             "could not be opened";
    case UCAP_ERR_ABORTED: return "operation aborted";
    case UCAP_ERR_WHITE_BALANCE: return "white-balance values zero or negative";
    case UCAP_ERR_BUFFER_SIZE: return "the image buffer is smaller than the current data size";
    case UCAP_ERR_NO_MEMORY: return "not enough memory, or the driver refused the frame buffer";
    case UCAP_ERR_ARGUMENT:
      return "invalid argument, a geometry the camera cannot take, or the camera reported an "
             "error bit";
    case UCAP_ERR_BUSY: return "refused because the camera's acquisition is running";
    case UCAP_ERR_THREAD:
      return "the worker thread of a single shot could not be created, or no fast acquisition "
             "runs";
    case UCAP_ERR_BLACK_TOO_BRIGHT: return "black reference too bright; keep the sensor dark";
    case UCAP_ERR_WHITE_TOO_BRIGHT: return "white reference too bright";
    case UCAP_ERR_WHITE_TOO_DARK: return "white reference too dark";
    case UCAP_ERR_NOT_SUPPORTED: return "function not supported";
    case UCAP_ERR_NOT_ATTACHED: return "no camera attached";
    case UCAP_ERR_READ: return "reading a camera register failed";
    case UCAP_ERR_CAPTURE_WAIT: return "the driver refused the capture wait set-up";
    case UCAP_ERR_BANDWIDTH: return "isochronous bandwidth could not be allocated or freed";
    case UCAP_ERR_RESOURCES: return "isochronous resources could not be allocated or freed";
    case UCAP_ERR_FRAME_BUFFER: return "the driver refused the frame buffer for a transfer";
    case UCAP_ERR_CHANNEL: return "isochronous channel could not be allocated or freed";
    case UCAP_ERR_STOP: return "the driver refused to stop the isochronous transfer";
    case UCAP_ERR_WRITE: return "writing a camera register failed";
    case UCAP_ERR_BLEMISH_LIST: return "the blemish list in the camera's EEPROM is not valid";
    default: return "unknown result code";
  }
}

std::string describe_code(int32_t code) {
  return "error " + std::to_string(code) + " (" + code_meaning(code) + ")";
}

void check(int32_t code, const std::string& what) {
  if (code != UCAP_OK) throw Failure(what + ": " + describe_code(code));
}

}  // namespace tool
