"""The Python package end to end against virtual cameras."""

import os
import signal
import threading

import numpy as np
import pytest

import ucap
from conftest import EXACT, library_image, open_camera


@pytest.mark.parametrize("setting, value, code", [
    ("binning", 2, 8),               # not offered at resolution 0
    ("resolution", 4, 8),
    ("exposure", 100e-6, 8),         # below 250 us
    ("white_balance", (0, 1, 1), 5),
    ("use_black_ref", True, 8),      # no black reference yet
    ("roi", (0, 0, 300, 200), 8),    # beyond the 256 x 192 sensor
])
def test_bad_settings_raise_the_library_code(setting, value, code):
    with open_camera(EXACT) as cam:
        before = getattr(cam, setting)
        with pytest.raises(ucap.UcapError) as raised:
            setattr(cam, setting, value)
        assert raised.value.code == code and raised.value.meaning == ucap.meaning(code)
        assert getattr(cam, setting) == before


def test_settings_round_trip():
    with open_camera(EXACT) as cam:
        cam.configure(resolution=1, bits=12, binning=2, roi=(4, 2, 60, 40), exposure=0.25)
        cam.color_processing = True
        cam.white_balance = (1.5, 1.0, 2.0)
        assert (cam.resolution, cam.bits, cam.binning, cam.roi, cam.exposure) == (1, 12, 2, (4, 2, 60, 40), 0.25)
        assert cam.shape == (38, 56) and cam.color_processing and cam.white_balance == (1.5, 1.0, 2.0)
        cam.resolution = 3  # offers only 12 bits: kept
        cam.resolution = 2  # offers only 36 bits: switched
        assert cam.bits == 36 and cam.shape[2] == 3


@pytest.mark.parametrize("resolution, bits, binning", [(2, 36, 1), (3, 12, 1), (1, 36, 5)])
def test_snap_is_the_librarys_image_in_rgb_order(resolution, bits, binning):
    expected = library_image(EXACT, resolution, bits, binning)
    if bits == 36:
        expected = expected[..., ::-1]
    with open_camera(EXACT) as cam:
        cam.configure(resolution=resolution, bits=bits, binning=binning)
        image = cam.snap()
        into = np.zeros(cam.shape, np.uint16)
        assert cam.snap(out=into) is into
        with pytest.raises(ValueError):
            cam.snap(out=np.zeros((2, 2), np.uint16))
    assert image.dtype == np.uint16 and np.array_equal(image, expected) and np.array_equal(into, expected)


def test_stream_yields_each_frame_once_and_stops_when_left():
    with open_camera(EXACT + " frame_stamp=1") as cam:
        cam.configure(resolution=3)
        stamps = [int(f[0, 0]) + (int(f[0, 1]) << 12) for f in cam.stream(5)]
        assert stamps == [1, 2, 3, 4, 5]
        for _ in cam.stream(100):
            break
        assert ucap.vcam.usage(0)["resources"] == 0  # the transfer was given back
        assert cam.snap().shape == (192, 256)
        with pytest.raises(ValueError):
            next(cam.stream())


def test_abort_and_ctrl_c_leave_the_camera_usable():
    calls = []
    with open_camera("sensor=256x192 noise=0") as cam:
        cam.exposure = 3
        with pytest.raises(ucap.UcapError) as raised:
            cam.snap(progress=lambda elapsed, total: calls.append((elapsed, total)) or elapsed >= 0.1)
        assert raised.value.code == 4 and calls[0] == (0, 3) and len(calls) < 10
        ctrl_c = threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT))
        ctrl_c.start()
        with pytest.raises(KeyboardInterrupt):
            cam.snap()  # no callable of ours: the package's own callback stops the exposure
        ctrl_c.join()
        cam.exposure = 0.01
        assert cam.snap().shape == (192, 256, 3)


def test_references_are_measured_switched_and_filed(tmp_path):
    seen = []
    with open_camera("sensor=256x192 scene=dark timescale=100") as cam:
        assert cam.black_ref is None and cam.white_table is None
        cam.calibrate_black(progress=lambda done, total: seen.append(total))
        black = cam.black_ref
        cam.use_black_ref = True
        ucap.vcam.set(0, "scene=flat")
        cam.calibrate_white(progress=lambda done, total: seen.append((done, total)))
        white = cam.white_table
        assert cam.use_black_ref and not cam.use_white_ref
    assert black.shape == (194, 256) and white.shape == (192, 256)
    assert seen[0] == pytest.approx(0.001) and pytest.approx(16.383) in seen and seen[-1] == (4, 4)
    ucap.write_reference(tmp_path / "black.ucapref", "black", black)
    with open_camera("sensor=256x192") as cam:
        cam.black_ref = ucap.read_reference(tmp_path / "black.ucapref", "black", cam.sensor_size)
        assert np.array_equal(cam.black_ref, black)
        with pytest.raises(ValueError):
            cam.white_table = np.zeros((10, 10), np.uint16)


def test_firmware_reaches_the_camera():
    with open_camera(EXACT) as cam:
        cam.write_firmware("10000001\r\n11111111\r\n")
        with pytest.raises(ucap.UcapError) as raised:
            cam.write_firmware("1\r1\r\n")
        assert raised.value.code == 8
    assert ucap.vcam.firmware(0, 3) == b"\x81\xff\xff" and ucap.vcam.firmware_started(0) == 1


def test_a_bad_virtual_camera_or_index_is_refused():
    ucap.vcam.reset()
    with pytest.raises(ValueError):
        ucap.vcam.attach("sensor=13x7")
    ucap.vcam.attach(EXACT)
    with pytest.raises(ucap.UcapError) as raised:
        ucap.Camera(1)
    assert raised.value.code == 3
