"""The virtual camera's control surface (builds of the library that carry it): attach cameras
with a configuration of key=value words before the first Camera opens, change scenes and
faults, read what the camera saw. See include/ucap/vcam.h for the keys."""

import ctypes

from . import _library
from ._library import lib


def _checked(result, what):
    if result < 0:
        raise ValueError("%s refused (%d)" % (what, result))
    return result


def _configured(result, config):
    if result < 0:
        need = lib().ucap_vcam_config_error(None, 0)
        why = ctypes.create_string_buffer(max(need, 1))
        lib().ucap_vcam_config_error(why, need)
        raise ValueError("configuration %r refused: %s" % (config, why.value.decode()))
    return result


def reset():
    """Detaches every virtual camera; ids start again at 0."""
    lib().ucap_vcam_reset()


def attach(config=""):
    """Attaches a camera, e.g. attach("sensor=640x480 scene=flat noise=0"); returns its id."""
    return _configured(lib().ucap_vcam_attach(config.encode()), config)


def detach(camera_id):
    """Unplugs a camera (a bus reset follows); ValueError for an unknown id."""
    _checked(lib().ucap_vcam_detach(camera_id), "detach %d" % camera_id)


def set(camera_id, config):  # noqa: A001 - the surface's own name
    """Changes settings or faults of an attached camera, e.g. set(0, "scene=dark")."""
    _configured(lib().ucap_vcam_set(camera_id, config.encode()), config)


def bus_reset():
    """Fires a bus reset: the library's bus-reset callback runs."""
    lib().ucap_vcam_bus_reset()


def trigger(camera_id):
    """A pulse on the trigger input: True when a frame waited for it."""
    return _checked(lib().ucap_vcam_trigger(camera_id), "trigger %d" % camera_id) == 0


def frame_count(camera_id):
    """Frames the camera has delivered since it was attached."""
    return _checked(lib().ucap_vcam_frame_count(camera_id), "camera %d" % camera_id)


def _text(function, camera_id):
    need = _checked(function(camera_id, None, 0), "camera %d" % camera_id)
    buffer = ctypes.create_string_buffer(need)
    _checked(function(camera_id, buffer, need), "camera %d" % camera_id)
    return buffer.value.decode()


def trace(camera_id):
    """The register trace since the last call (one line per access)."""
    return _text(lib().ucap_vcam_trace, camera_id)


def requests(camera_id):
    """The driver request log since the last call."""
    return _text(lib().ucap_vcam_requests, camera_id)


def firmware(camera_id, size, offset=0):
    """`size` bytes of the camera's firmware memory from `offset`."""
    buffer = ctypes.create_string_buffer(size)
    _checked(lib().ucap_vcam_firmware(camera_id, offset, buffer, size), "firmware of camera %d" % camera_id)
    return buffer.raw


def firmware_started(camera_id):
    """How many times the camera was told to start its firmware."""
    return _checked(lib().ucap_vcam_firmware_started(camera_id), "camera %d" % camera_id)


def usage(camera_id=-1):
    """The driver's books of one camera (or of the bus) as a dict."""
    books = _library.VcamUsage()
    _checked(lib().ucap_vcam_usage(camera_id, ctypes.byref(books)), "camera %d" % camera_id)
    return {name: getattr(books, name) for name, _ in books._fields_}
