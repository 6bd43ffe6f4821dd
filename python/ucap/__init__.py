"""ucap: the 1394 color CCD camera from Python.

    import ucap
    with ucap.Camera() as cam:
        cam.configure(resolution=2, bits=36, exposure=0.05)
        rgb = cam.snap()                  # (height, width, 3) uint16, RGB, 12-bit values
        for frame in cam.stream(10):      # fast acquisition
            ...

The shared library is found through $UCAP_LIBRARY, beside the package, where `cmake
--install` put it, or on the system's library path. Library result codes other than 0 raise
UcapError (code, meaning). Virtual cameras: ucap.vcam.
"""

from . import vcam
from ._library import lib
from .camera import Camera
from .errors import UcapError, meaning
from .reference import read_reference, write_reference

__version__ = "0.1.0"
__all__ = ["Camera", "UcapError", "meaning", "vcam", "camera_count", "error_messages",
           "read_reference", "write_reference"]


def camera_count():
    """Number of attached cameras."""
    return lib().UcapGetNumberofCameras()


def error_messages(on):
    """Lets the library print its own error lines on stderr (on by default) or not."""
    lib().UcapSetErrorMessages(1 if on else 0)
