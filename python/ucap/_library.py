"""Finding and loading the shared library, the prototypes of the exports used, and the
process-wide start of the library (UcapInit once for every open Camera, UcapClose after
the last one)."""

import ctypes
import ctypes.util
import os
import threading
from pathlib import Path

from .errors import check

c_int32, c_uint32, c_double, c_void_p = ctypes.c_int32, ctypes.c_uint32, ctypes.c_double, ctypes.c_void_p
P32 = ctypes.POINTER(ctypes.c_int32)
PD = ctypes.POINTER(ctypes.c_double)


class Rect(ctypes.Structure):
    _fields_ = [("left", c_int32), ("top", c_int32), ("right", c_int32), ("bottom", c_int32)]


class InfoRecord(ctypes.Structure):
    _fields_ = [("vendor_word3", c_uint32), ("unique_id_low", c_uint32), ("one", c_uint32),
                ("eeprom_word36", c_uint32)]


class VcamUsage(ctypes.Structure):
    _fields_ = [(name, ctypes.c_int) for name in
                ("handles", "notifications", "frame_buffers", "bandwidth_handles", "bandwidth_units",
                 "channels", "resources")]


# (elapsed or step, total, phase, user) -> non-zero to stop
PROGRESS = ctypes.CFUNCTYPE(c_int32, c_int32, c_int32, c_int32, ctypes.c_ssize_t)

_PROTOTYPES = {
    "UcapInit": (c_int32, []),
    "UcapClose": (c_int32, []),
    "UcapGetNumberofCameras": (c_int32, []),
    "UcapSetErrorMessages": (c_int32, [c_int32]),
    "UcapmInfo": (c_int32, [c_int32, ctypes.POINTER(InfoRecord)]),
    "UcapmWriteFirmware": (c_int32, [c_int32, ctypes.c_char_p, c_int32]),
    "UcapmSetResolution": (c_int32, [c_int32, c_int32]),
    "UcapmGetCurrentResolution": (c_int32, [c_int32]),
    "UcapmHasBitsPerPixel": (c_int32, [c_int32, c_int32, P32]),
    "UcapmSetBitsPerPixel": (c_int32, [c_int32, c_int32]),
    "UcapmGetCurrentBitsPerPixel": (c_int32, [c_int32]),
    "UcapmSetBinning": (c_int32, [c_int32, c_int32]),
    "UcapmGetCurrentBinning": (c_int32, [c_int32, P32]),
    "UcapmSetImageSize": (c_int32, [c_int32, ctypes.POINTER(Rect)]),
    "UcapmGetCurrentImageSize": (c_int32, [c_int32, ctypes.POINTER(Rect)]),
    "UcapmGetCurrentFrameSize": (c_int32, [c_int32, ctypes.POINTER(Rect)]),
    "UcapmGetCurrentDataSize": (c_int32, [c_int32, P32, P32]),
    "UcapmSetExposure": (c_int32, [c_int32, c_int32]),
    "UcapmGetCurrentExposure": (c_int32, [c_int32, P32]),
    "UcapmEnableColorProcessing": (c_int32, [c_int32, c_int32]),
    "UcapmIsColorProcessingEnabled": (c_int32, [c_int32, P32]),
    "UcapmSetWhiteBalance": (c_int32, [c_int32, c_double, c_double, c_double]),
    "UcapmGetCurrentWhiteBalance": (c_int32, [c_int32, PD, PD, PD]),
    "UcapmSaveBlackRef": (c_int32, [c_int32, c_void_p, c_int32]),
    "UcapmRestoreBlackRef": (c_int32, [c_int32, c_void_p, c_int32]),
    "UcapmSetBlackRef": (c_int32, [c_int32, c_int32]),
    "UcapmGetCurrentBlackRef": (c_int32, [c_int32, P32]),
    "UcapmHasBlackRef": (c_int32, [c_int32, P32]),
    "UcapmSetWhiteRef": (c_int32, [c_int32, c_int32]),
    "UcapmGetCurrentWhiteRef": (c_int32, [c_int32, P32]),
    "UcapmHasWhiteRef": (c_int32, [c_int32, P32]),
    "UcapmSetWhiteTable": (c_int32, [c_int32, c_void_p]),
    "UcapmGetWhiteTable": (c_int32, [c_int32, c_void_p]),
    "UcapmAcquisitionEx": (c_int32, [c_int32, c_void_p, c_int32, PROGRESS, ctypes.c_ssize_t]),
    "UcapmStartFastAcquisition": (c_int32, [c_int32]),
    "UcapmIsFastAcquisitionReady": (c_int32, [c_int32, c_void_p, c_int32, c_int32]),
    "UcapmAbortFastAcquisition": (c_int32, [c_int32]),
    "UcapmCalculateBlackRefEx": (c_int32, [c_int32, PROGRESS, ctypes.c_ssize_t]),
    "UcapmCalculateWhiteRefEx": (c_int32, [c_int32, PROGRESS, ctypes.c_ssize_t]),
    "ucap_vcam_reset": (ctypes.c_int, []),
    "ucap_vcam_attach": (ctypes.c_int, [ctypes.c_char_p]),
    "ucap_vcam_detach": (ctypes.c_int, [ctypes.c_int]),
    "ucap_vcam_set": (ctypes.c_int, [ctypes.c_int, ctypes.c_char_p]),
    "ucap_vcam_config_error": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_int]),
    "ucap_vcam_bus_reset": (ctypes.c_int, []),
    "ucap_vcam_trace": (ctypes.c_int, [ctypes.c_int, ctypes.c_char_p, ctypes.c_int]),
    "ucap_vcam_requests": (ctypes.c_int, [ctypes.c_int, ctypes.c_char_p, ctypes.c_int]),
    "ucap_vcam_trigger": (ctypes.c_int, [ctypes.c_int]),
    "ucap_vcam_frame_count": (ctypes.c_int, [ctypes.c_int]),
    "ucap_vcam_firmware": (ctypes.c_int, [ctypes.c_int, ctypes.c_int, c_void_p, ctypes.c_int]),
    "ucap_vcam_firmware_started": (ctypes.c_int, [ctypes.c_int]),
    "ucap_vcam_usage": (ctypes.c_int, [ctypes.c_int, ctypes.POINTER(VcamUsage)]),
}


def _candidates():
    """Where the library may be: $UCAP_LIBRARY alone when set; else beside the package, where
    `cmake --install` put it, and the system's library path."""
    explicit = os.environ.get("UCAP_LIBRARY")
    if explicit:
        yield explicit
        return
    here = Path(__file__).resolve().parent
    for name in ("libucap.so", "ucap.dll"):
        if (here / name).exists():
            yield str(here / name)
    try:
        from ._installed import LIBRARY
        yield str((here / LIBRARY).resolve())
    except ImportError:
        pass
    yield ctypes.util.find_library("ucap") or "libucap.so.0"


_lib = None
_load_lock = threading.Lock()


def lib():
    """The loaded library, with the prototypes set; OSError when it cannot be found."""
    global _lib
    with _load_lock:
        if _lib is None:
            tried = []
            for path in _candidates():
                try:
                    loaded = ctypes.CDLL(path)
                    break
                except OSError as e:
                    tried.append("%s (%s)" % (path, e))
            else:
                raise OSError("the ucap library was not found; set UCAP_LIBRARY to its path. Tried: "
                              + "; ".join(tried))
            for name, (restype, argtypes) in _PROTOTYPES.items():
                if hasattr(loaded, name):  # a product build has no ucap_vcam_* surface
                    function = getattr(loaded, name)
                    function.restype, function.argtypes = restype, argtypes
            _lib = loaded
        return _lib


class _Started:
    lock = threading.Lock()
    users = 0
    sensors = {}  # camera index -> (width, height), the frame right after start-up


def start():
    """UcapInit for the first user; returns the sensor sizes of the cameras."""
    with _Started.lock:
        if _Started.users == 0:
            check(lib().UcapInit(), "UcapInit")
            _Started.sensors = {}
            for index in range(lib().UcapGetNumberofCameras()):
                frame = Rect()
                if lib().UcapmGetCurrentFrameSize(index, ctypes.byref(frame)) == 0:
                    _Started.sensors[index] = (frame.right - frame.left, frame.bottom - frame.top)
        _Started.users += 1
        return dict(_Started.sensors)


def stop():
    """UcapClose after the last user."""
    with _Started.lock:
        _Started.users -= 1
        if _Started.users == 0:
            lib().UcapClose()


def started():
    return _Started.users > 0
