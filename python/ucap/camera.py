"""A camera of the library as a Python object: settings as properties, images as numpy
arrays."""

import ctypes
import signal
import threading
import time

import numpy as np

from . import _library
from ._library import PROGRESS, Rect, lib
from .errors import UcapError, check


def _out(kind, value):
    """A C out-parameter of `kind` and the pointer to pass."""
    box = kind(value)
    return box, ctypes.byref(box)


def _pointer(array):
    return array.ctypes.data_as(ctypes.c_void_p)


def _checked_array(array, shape, what):
    if (not isinstance(array, np.ndarray) or array.dtype != np.uint16 or array.shape != tuple(shape)
            or not array.flags.c_contiguous or not array.flags.writeable):
        raise ValueError("%s must be a writeable C-contiguous uint16 array of shape %s" % (what, tuple(shape)))
    return array


def _seconds(elapsed_ms, total_ms, phase):
    return elapsed_ms / 1000, total_ms / 1000


def _frames(step, total, phase):
    return (step + 1 if phase == 2 else 0), total  # (0, 4, 1) first, (i, 4, 2) after frame i


class _Watch:
    """The progress callback of one long call: hands (done, total) to the caller's callable,
    stops the call when it returns true or raises, and while it runs on the main thread turns
    Ctrl-C into a stop (KeyboardInterrupt once the call has returned)."""

    def __init__(self, progress, convert):
        self.progress, self.convert = progress, convert
        self.stop = False
        self.error = None
        self.interrupted = False
        self.callback = PROGRESS(self._call)
        self._previous = None

    def _call(self, done, total, phase, user):
        if not self.stop and self.progress is not None:
            try:
                if self.progress(*self.convert(done, total, phase)):
                    self.stop = True
            except BaseException as e:  # noqa: B902 - re-raised once the library returned
                self.error, self.stop = e, True
        return 1 if self.stop or self.interrupted else 0

    def _on_interrupt(self, signum, frame):
        self.interrupted = True

    def __enter__(self):
        if threading.current_thread() is threading.main_thread():
            self._previous = signal.signal(signal.SIGINT, self._on_interrupt)
        return self

    def __exit__(self, *exc):
        if self._previous is not None:
            signal.signal(signal.SIGINT, self._previous)
        return False

    def finish(self, code, function):
        if self.error is not None:
            raise self.error
        if self.interrupted:
            raise KeyboardInterrupt
        check(code, function)


class Camera:
    """One camera: `with ucap.Camera(0) as cam: image = cam.snap()`.

    The first open camera starts the library (UcapInit), closing the last one shuts it
    down; virtual cameras (ucap.vcam) must be configured before that. Settings are those of
    the library: resolution 0..3, bits 12 (grey) or 36 (color), binning 1..5, exposure in
    seconds, roi in the coordinates of the current resolution. Library result codes other
    than 0 raise UcapError.

    Resolutions (pixel depths and binnings each allows):
      0  full sensor, color (36); binning 1
      1  half resolution: 36 bits with binning 1, 3, 5, or 12 bits with binning 1, 2, 4
      2  full sensor, color (36); binning 1 to 5
      3  full sensor, the raw color mosaic as grey values (12); binning 1

    Images are numpy uint16 arrays of 12-bit values (0..4095): (height, width) grey, or
    (height, width, 3) in red, green, blue order (the C library's buffers are blue, green,
    red; the package reorders them). One thread at a time per camera; a stream or a
    calibration blocks the camera's settings (UcapError 10) until it ends."""

    def __init__(self, index=0):
        """Opens camera `index` (0 is the first found); UcapError 3 when there is no such
        camera. Starts the library for the first open camera."""
        sensors = _library.start()
        if index not in sensors:
            _library.stop()
            raise UcapError(3, "camera %r (%d found)" % (index, len(sensors)))
        self._index = index
        self._sensor = sensors[index]
        self._open = True

    def close(self):
        """Closes the camera (again: nothing); the library shuts down after the last one."""
        if getattr(self, "_open", False):
            self._open = False
            _library.stop()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        try:
            self.close()
        except Exception:  # noqa: BLE001 - interpreter shut-down: nothing left to tell
            pass

    def __repr__(self):
        return "<ucap.Camera %d %dx%d%s>" % (self._index, *self._sensor, "" if self._open else " closed")

    def _i(self):
        if not self._open:
            raise ValueError("the camera is closed")
        return self._index

    def _get(self, function, kind=ctypes.c_int32):
        box, ref = _out(kind, 0)
        check(getattr(lib(), function)(self._i(), ref), function)
        return box.value

    # ---- identity -------------------------------------------------------------------
    @property
    def index(self):
        """The camera's index in the library (0 is the first found)."""
        return self._index

    @property
    def sensor_size(self):
        """(width, height) of the full sensor."""
        return self._sensor

    @property
    def info(self):
        """The information record (UcapmInfo) as a dict: vendor_word3, unique_id_low, one
        (always 1) and eeprom_word36."""
        record = _library.InfoRecord()
        check(lib().UcapmInfo(self._i(), ctypes.byref(record)), "UcapmInfo")
        return {name: getattr(record, name) for name, _ in record._fields_}

    # ---- geometry -------------------------------------------------------------------
    @property
    def resolution(self):
        """The resolution, 0..3 (see the class). Setting it also picks the pixel depth the
        resolution offers when the current one is not; UcapError 8 for another value."""
        return lib().UcapmGetCurrentResolution(self._i())

    @resolution.setter
    def resolution(self, value):
        i = self._i()
        check(lib().UcapmSetResolution(i, value), "UcapmSetResolution")
        if not self._offers_bits(self.bits):
            for bits in (36, 12):
                if self._offers_bits(bits):
                    check(lib().UcapmSetBitsPerPixel(i, bits), "UcapmSetBitsPerPixel")
                    break

    def _offers_bits(self, bits):
        box, ref = _out(ctypes.c_int32, 0)
        check(lib().UcapmHasBitsPerPixel(self._i(), bits, ref), "UcapmHasBitsPerPixel")
        return bool(box.value)

    @property
    def bits(self):
        """Bits per pixel: 36 (color) or 12 (grey). At resolution 1 setting it also moves
        the binning to one the new depth allows (3 <-> 2, 5 <-> 4)."""
        return lib().UcapmGetCurrentBitsPerPixel(self._i())

    @bits.setter
    def bits(self, value):
        check(lib().UcapmSetBitsPerPixel(self._i(), value), "UcapmSetBitsPerPixel")

    @property
    def binning(self):
        """Binning factor 1..5, as the resolution and pixel depth allow (UcapError 8
        otherwise); the roi is aligned to it anew."""
        return self._get("UcapmGetCurrentBinning")

    @binning.setter
    def binning(self, value):
        check(lib().UcapmSetBinning(self._i(), value), "UcapmSetBinning")

    @property
    def roi(self):
        """The region the next image covers: (left, top, right, bottom), right and bottom
        exclusive, in the pixels of the current resolution and binning (sensor pixels at
        resolution 0, blocks of 2b x 2b at resolution 1, of b x b at 2 and 3). Setting a
        rectangle aligns it down to what the camera takes; None selects the whole field."""
        rect = Rect()
        check(lib().UcapmGetCurrentImageSize(self._i(), ctypes.byref(rect)), "UcapmGetCurrentImageSize")
        return (rect.left, rect.top, rect.right, rect.bottom)

    @roi.setter
    def roi(self, value):
        rect = None if value is None else ctypes.byref(Rect(*value))
        check(lib().UcapmSetImageSize(self._i(), rect), "UcapmSetImageSize")

    @property
    def shape(self):
        """Shape of the arrays snap() returns: (height, width) or (height, width, 3)."""
        w, wref = _out(ctypes.c_int32, 0)
        h, href = _out(ctypes.c_int32, 0)
        check(lib().UcapmGetCurrentDataSize(self._i(), wref, href), "UcapmGetCurrentDataSize")
        return (h.value, w.value, 3) if self.bits == 36 else (h.value, w.value)

    def configure(self, resolution=None, bits=None, binning=None, roi=None, exposure=None):
        """Sets what is given in the order the camera needs, then the region (None: whole)."""
        if resolution is not None:
            self.resolution = resolution
        if bits is not None:
            self.bits = bits
        if binning is not None:
            self.binning = binning
        self.roi = roi
        if exposure is not None:
            self.exposure = exposure

    # ---- exposure and color ---------------------------------------------------------
    @property
    def exposure(self):
        """Seconds (250 us to 60 s)."""
        return self._get("UcapmGetCurrentExposure") / 1e6

    @exposure.setter
    def exposure(self, seconds):
        us = int(round(seconds * 1e6))
        check(lib().UcapmSetExposure(self._i(), max(min(us, 2**31 - 1), -2**31)), "UcapmSetExposure")

    @property
    def color_processing(self):
        """Whether the color matrix (saturation) is applied to color images; off at start."""
        return bool(self._get("UcapmIsColorProcessingEnabled"))

    @color_processing.setter
    def color_processing(self, on):
        check(lib().UcapmEnableColorProcessing(self._i(), 1 if on else 0), "UcapmEnableColorProcessing")

    @property
    def white_balance(self):
        """(red, green, blue): the relative response of the sensor's colors to white light
        (start 1.37, 1.93, 1.0); UcapError 5 when a value is 0."""
        boxes = [ctypes.c_double(0) for _ in range(3)]
        check(lib().UcapmGetCurrentWhiteBalance(self._i(), *map(ctypes.byref, boxes)),
              "UcapmGetCurrentWhiteBalance")
        return tuple(b.value for b in boxes)

    @white_balance.setter
    def white_balance(self, rgb):
        check(lib().UcapmSetWhiteBalance(self._i(), *map(float, rgb)), "UcapmSetWhiteBalance")

    # ---- references ----------------------------------------------------------------
    def _reference(self, black):
        if not self._get("UcapmHasBlackRef" if black else "UcapmHasWhiteRef"):
            return None
        w, h = self._sensor
        array = np.empty((h + 2, w) if black else (h, w), np.uint16)
        if black:
            check(lib().UcapmSaveBlackRef(self._i(), _pointer(array), array.nbytes), "UcapmSaveBlackRef")
        else:
            check(lib().UcapmGetWhiteTable(self._i(), _pointer(array)), "UcapmGetWhiteTable")
        return array

    def _install_reference(self, black, array):
        w, h = self._sensor
        shape = (h + 2, w) if black else (h, w)
        array = np.ascontiguousarray(array, dtype=np.uint16)
        if array.shape != shape:
            raise ValueError("a %s of this camera has shape %s" % ("black reference" if black else "white table",
                                                                   shape))
        if black:
            check(lib().UcapmRestoreBlackRef(self._i(), _pointer(array), array.nbytes), "UcapmRestoreBlackRef")
        else:
            check(lib().UcapmSetWhiteTable(self._i(), _pointer(array)), "UcapmSetWhiteTable")

    @property
    def black_ref(self):
        """The black reference, (height + 2, width) uint16, or None before there is one.
        Setting an array of that shape installs it (the switch is not touched)."""
        return self._reference(True)

    @black_ref.setter
    def black_ref(self, array):
        self._install_reference(True, array)

    @property
    def use_black_ref(self):
        """Whether images are corrected with the black reference (UcapError 8 when
        switching on before there is one)."""
        return bool(self._get("UcapmGetCurrentBlackRef"))

    @use_black_ref.setter
    def use_black_ref(self, on):
        check(lib().UcapmSetBlackRef(self._i(), 1 if on else 0), "UcapmSetBlackRef")

    @property
    def white_table(self):
        """Per-pixel gains (4096 = 1.0), (height, width) uint16, or None before there is one.
        Setting an array of that shape installs it."""
        return self._reference(False)

    @white_table.setter
    def white_table(self, array):
        self._install_reference(False, array)

    @property
    def use_white_ref(self):
        """Whether images are corrected with the white table (UcapError 8 when switching on
        before there is one)."""
        return bool(self._get("UcapmGetCurrentWhiteRef"))

    @use_white_ref.setter
    def use_white_ref(self, on):
        check(lib().UcapmSetWhiteRef(self._i(), 1 if on else 0), "UcapmSetWhiteRef")

    # ---- images ---------------------------------------------------------------------
    def snap(self, out=None, progress=None):
        """One image: (height, width) uint16 grey or (height, width, 3) uint16 in RGB order,
        12-bit values. `out`: a preallocated array of that shape to fill. `progress(elapsed_s,
        total_s)` is called every 50 ms of the exposure; a true result aborts (UcapError 4).
        Ctrl-C aborts the exposure and raises KeyboardInterrupt."""
        shape = self.shape
        out = np.empty(shape, np.uint16) if out is None else _checked_array(out, shape, "out")
        with _Watch(progress, _seconds) as watch:
            code = lib().UcapmAcquisitionEx(self._i(), _pointer(out), out.nbytes, watch.callback, 0)
        watch.finish(code, "UcapmAcquisitionEx")
        if out.ndim == 3:
            out[..., [0, 2]] = out[..., [2, 0]]  # the library's blue, green, red
        return out

    def stream(self, frames=None, seconds=None):
        """Fast acquisition: yields `frames` images (or as many as arrive in `seconds`), each a
        new array as snap() returns it. Leaving the loop early stops the stream."""
        if frames is None and seconds is None:
            raise ValueError("stream needs frames or seconds")
        i = self._i()
        buffer = np.empty(self.shape, np.uint16)
        check(lib().UcapmStartFastAcquisition(i), "UcapmStartFastAcquisition")
        running, delivered, start = True, 0, time.monotonic()
        try:
            while running:
                last = ((frames is not None and delivered + 1 >= frames)
                        or (seconds is not None and time.monotonic() - start >= seconds))
                ready = lib().UcapmIsFastAcquisitionReady(i, _pointer(buffer), buffer.nbytes, 0 if last else 1)
                if ready == 0:
                    time.sleep(0.001)
                    continue
                if ready < 0:
                    raise UcapError(-ready, "UcapmIsFastAcquisitionReady")
                delivered += 1
                running = not last
                frame = buffer.copy()
                if frame.ndim == 3:
                    frame[..., [0, 2]] = frame[..., [2, 0]]
                yield frame
        finally:
            if running:
                lib().UcapmAbortFastAcquisition(i)

    # ---- calibration ----------------------------------------------------------------
    def calibrate_black(self, progress=None):
        """Measures the black reference (keep the sensor dark: two full-sensor exposures, the
        second about 16.4 s). `progress(elapsed_s, total_s)` as for snap(). UcapError 12 when
        the sensor was not dark. On success the reference is present (black_ref), its
        switch (use_black_ref) as it was."""
        with _Watch(progress, _seconds) as watch:
            code = lib().UcapmCalculateBlackRefEx(self._i(), watch.callback, 0)
        watch.finish(code, "UcapmCalculateBlackRefEx")

    def calibrate_white(self, progress=None):
        """Measures the white table on an evenly lit empty field at the current exposure
        (four frames). `progress(frames_done, 4)`. UcapError 13 (too bright: shorten the
        exposure) or 14 (too dark: lengthen it); on success white_table holds the gains, its
        switch (use_white_ref) as it was."""
        with _Watch(progress, _frames) as watch:
            code = lib().UcapmCalculateWhiteRefEx(self._i(), watch.callback, 0)
        watch.finish(code, "UcapmCalculateWhiteRefEx")

    def write_firmware(self, text):
        """Downloads firmware given as text (bytes or str, lines ended by CR LF, one byte per
        line as eight '0'/'1' characters) and starts it; UcapError 8 for a malformed text
        (nothing sent), 27 when the camera could not be written."""
        data = text.encode("ascii") if isinstance(text, str) else bytes(text)
        check(lib().UcapmWriteFirmware(self._i(), data, len(data)), "UcapmWriteFirmware")
