"""Shared by the pytest suites: the build under test (UCAP_BUILD, default <repo>/build), the
package from this tree, virtual cameras, and the library's own image for comparisons."""

import ctypes
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("UCAP_BUILD", REPO / "build"))
TOOL = BUILD / "tools" / "ucap"
os.environ.setdefault("UCAP_LIBRARY", str(BUILD / "src" / "libucap.so"))
sys.path.insert(0, str(REPO / "python"))

import ucap  # noqa: E402

# Small noise-free sensor on a fast clock: exact, repeatable frames.
EXACT = "sensor=256x192 noise=0 timescale=20"


def open_camera(config):
    """The only camera attached is a virtual one with `config`."""
    ucap.vcam.reset()
    ucap.vcam.attach(config)
    return ucap.Camera(0)


def library_image(config, resolution, bits, binning=1, roi=None, exposure=0.1):
    """The library's image for these settings from UcapmAcquisitionEx (blue, green, red)."""
    with open_camera(config) as cam:
        cam.configure(resolution=resolution, bits=bits, binning=binning, roi=roi, exposure=exposure)
        buffer = np.zeros(cam.shape, np.uint16)
        code = ucap.lib().UcapmAcquisitionEx(0, buffer.ctypes.data_as(ctypes.c_void_p), buffer.nbytes,
                                             ucap._library.PROGRESS(), 0)
        assert code == 0
        return buffer


def run_tool(*args, timeout=60, **kwargs):
    return subprocess.run([str(TOOL), *map(str, args)], capture_output=True, text=True, timeout=timeout,
                          **kwargs)


@pytest.fixture(scope="session", autouse=True)
def quiet_library():
    ucap.error_messages(False)
