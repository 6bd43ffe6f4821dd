"""ucapsrc as people use it: gst-inspect-1.0, gst-launch-1.0 pipelines, an application's
pipeline (GObject introspection) and OpenCV, against noise-free virtual cameras. Expected
images come from the Python package's stream of the same camera; the element's documented
conversion: 12-bit values widened to 16 bits by v << 4 | v >> 8 (scale-16bit, the default),
color as BGRA64_LE, the library's blue-green-red order with an opaque alpha."""

import os
import re
import subprocess
import sys
from pathlib import Path

import cv2
import gi
import numpy as np
import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "python" / "tests"))
from conftest import BUILD, EXACT, open_camera  # noqa: E402  (also finds the build's library)

import ucap  # noqa: E402

os.environ["GST_PLUGIN_PATH"] = str(BUILD / "gst")
gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

Gst.init(None)
ucap.error_messages(False)
PROPERTIES = ("camera", "resolution", "bits", "binning", "exposure", "roi", "color-processing",
              "white-balance", "black-ref", "white-table", "vcam", "scale-16bit", "dropped-frames",
              "num-buffers", "do-timestamp")


def widened(image):
    image = image.astype(np.uint32)
    return (image << 4 | image >> 8).astype(np.uint16)


def expected_frame(config, resolution, bits=None, binning=1, roi=None):
    """The first frame of the Python package's stream (RGB order, 12-bit values)."""
    with open_camera(config) as cam:
        cam.configure(resolution=resolution, bits=bits, binning=binning, roi=roi)
        return next(cam.stream(1))


def launch(pipeline, timeout=60):
    return subprocess.run(["gst-launch-1.0", "-v", *pipeline.split()], capture_output=True, text=True,
                          timeout=timeout)


def source(config, **properties):
    words = ["ucapsrc", 'vcam="%s"' % config] + ["%s=%s" % (k.replace("_", "-"), v) for k, v in properties.items()]
    return " ".join(words)


def test_inspect_documents_every_property_and_both_formats():
    out = subprocess.run(["gst-inspect-1.0", "ucapsrc"], capture_output=True, text=True, timeout=60).stdout
    listed = re.findall(r"^  (\S+)\s+: \S", out, re.M)
    assert set(PROPERTIES) <= set(listed)
    assert "GRAY16_LE" in out and "BGRA64_LE" in out and "framerate: 0/1" in out


@pytest.mark.parametrize("resolution, bits, binning, roi, scale", [
    (3, 12, 1, None, "true"),            # grey, GRAY16_LE -> 16-bit PNG, widened
    (3, 12, 1, None, "false"),           # grey, the library's values as they are
    (1, 12, 2, (4, 2, 61, 40), "true"),  # grey at half resolution, binned, a region of odd width
    (2, 36, 1, None, "true"),            # color, BGRA64_LE -> 8-bit RGBA PNG
    (2, 36, 1, None, "false"),           # color as it is (the PNG keeps its top four bits)
    (0, 36, 1, None, "true"),            # full color (the stream's block interpolation)
])
def test_pngenc_frames_are_the_librarys_images(tmp_path, resolution, bits, binning, roi, scale):
    expected = expected_frame(EXACT, resolution, bits, binning, roi)
    props = dict(resolution=resolution, bits=bits, binning=binning, scale_16bit=scale, num_buffers=3)
    if roi:
        props["roi"] = ",".join(map(str, roi))
    png = "GRAY16_BE" if bits == 12 else "RGBA"
    result = launch("%s ! videoconvert dither=none ! video/x-raw,format=%s ! pngenc ! multifilesink location=%s/%%d.png"
                    % (source(EXACT, **props), png, tmp_path))
    assert result.returncode == 0, result.stdout + result.stderr
    files = sorted(tmp_path.glob("*.png"))
    assert len(files) == 3
    if scale == "true":
        expected = widened(expected)
    if expected.ndim == 3:
        expected = (expected >> 8).astype(np.uint8)  # videoconvert to 8 bits, no dithering: the high byte
    for f in files:
        image = cv2.imread(str(f), cv2.IMREAD_UNCHANGED)
        if image.ndim == 3:
            assert (image[..., 3] == 255).all()
            image = image[..., 2::-1]
        assert image.dtype == expected.dtype and np.array_equal(image, expected), f.name


def test_calibration_files_are_loaded_or_refused(tmp_path):
    """The tool's files: a black reference is loaded and switched on; a damaged one stops the start."""
    black = np.random.default_rng(1).integers(0, 40, (194, 256)).astype(np.uint16)
    good, cut = tmp_path / "black.ucapref", tmp_path / "cut.ucapref"
    ucap.write_reference(good, "black", black)
    cut.write_bytes(good.read_bytes()[:-2])
    with open_camera(EXACT) as cam:
        cam.configure(resolution=3)
        cam.black_ref, cam.use_black_ref = black, True
        expected = next(cam.stream(1))
    for path, status in ((good, 0), (cut, 255)):  # 255: the pipeline never started
        result = launch("%s ! multifilesink location=%s/%%d.raw" % (
            source(EXACT, resolution=3, scale_16bit="false", num_buffers=1, black_ref=path), tmp_path))
        assert result.returncode == status, result.stdout + result.stderr
    assert "refused, nothing loaded: truncated" in result.stdout + result.stderr
    assert np.array_equal(np.fromfile(tmp_path / "0.raw", np.uint16).reshape(expected.shape), expected)


@pytest.mark.parametrize("fault, status, buffers, message", [
    ("drop_frames=1:3", 0, 8, "A frame never arrived; the stream goes on (1 dropped)"),
    ("detach_after=3", 1, 3, "The camera is gone (unplugged?)"),
])
def test_missing_frames_and_unplugging_are_reported_without_hang(tmp_path, fault, status, buffers, message):
    config = EXACT + " frame_stamp=1 " + fault
    result = launch("%s ! multifilesink location=%s/%%02d.raw"
                    % (source(config, resolution=3, scale_16bit="false", num_buffers=8), tmp_path))
    out = result.stdout + result.stderr
    assert result.returncode == status and message in out, out
    frames = [np.fromfile(f, np.uint16) for f in sorted(tmp_path.glob("*.raw"))]
    assert [int(f[0]) + (int(f[1]) << 12) for f in frames] == list(range(1, buffers + 1))
    assert ("dropped-frames = 1" in out) == (status == 0)


def bus_messages(pipeline, kind):
    bus = pipeline.get_bus()
    found = []
    while (message := bus.pop_filtered(kind)) is not None:
        found.append(message)
    return found


def pull(sink):
    sample = sink.emit("try-pull-sample", 10 * Gst.SECOND)
    assert sample is not None
    s = sample.get_caps().get_structure(0)
    frame = np.frombuffer(sample.get_buffer().extract_dup(0, sample.get_buffer().get_size()), np.uint16)
    return sample.get_buffer().pts, (s.get_value("width"), s.get_value("height")), frame


def test_stream_stamps_and_settings_changed_while_playing():
    pipeline = Gst.parse_launch(source(EXACT + " frame_stamp=1", resolution=3, scale_16bit="false", name="src")
                                + " ! appsink name=sink sync=false max-buffers=2")
    src, sink = pipeline.get_by_name("src"), pipeline.get_by_name("sink")
    pipeline.set_state(Gst.State.PLAYING)
    try:
        first = [pull(sink) for _ in range(6)]
        stamps = [int(f[0]) + (int(f[1]) << 12) for _, _, f in first]
        pts = [p for p, _, _ in first]
        assert stamps == list(range(1, 7)) and pts == sorted(set(pts)) and first[0][1] == (256, 192)
        src.set_property("roi", "8,4,72,36")  # a geometry change: new caps between two frames
        sizes = [pull(sink)[1] for _ in range(12)]  # the frames queued before the change first
        assert (64, 32) in sizes and sizes[sizes.index((64, 32)):] == [(64, 32)] * (12 - sizes.index((64, 32)))
        src.set_property("binning", 2)        # refused at resolution 3: a warning, the stream goes on
        assert [pull(sink)[1] for _ in range(12)] == [(64, 32)] * 12 and src.get_property("binning") == 1
        warnings = [m.parse_warning()[0].message for m in bus_messages(pipeline, Gst.MessageType.WARNING)]
        assert any("Settings refused" in w for w in warnings)
        assert not bus_messages(pipeline, Gst.MessageType.ERROR) and src.get_property("dropped-frames") == 0
    finally:
        pipeline.set_state(Gst.State.NULL)


def test_state_changes_leave_nothing_set_up():
    """NULL -> PLAYING -> NULL (UCAP_GST_CYCLES times, default 100; each starts and closes the library)."""
    pipeline = Gst.parse_launch(source("sensor=64x48 noise=0 timescale=100", resolution=3) + " ! appsink name=sink")
    sink = pipeline.get_by_name("sink")
    zero = dict.fromkeys(("handles", "notifications", "frame_buffers", "bandwidth_handles", "bandwidth_units",
                          "channels", "resources"), 0)
    try:
        for i in range(int(os.environ.get("UCAP_GST_CYCLES", 100))):
            pipeline.set_state(Gst.State.PLAYING)
            pull(sink)
            if i % 10 == 0:  # paused: the stream is stopped, the camera still open
                assert pipeline.set_state(Gst.State.PAUSED) != Gst.StateChangeReturn.FAILURE
                pipeline.get_state(10 * Gst.SECOND)
                books = ucap.vcam.usage(0)
                assert (books["resources"], books["channels"], books["bandwidth_handles"]) == (0, 0, 0)
                assert books["frame_buffers"] == 2
            pipeline.set_state(Gst.State.NULL)
            assert ucap.vcam.usage(-1) == zero, i
        assert not bus_messages(pipeline, Gst.MessageType.ERROR)
    finally:
        pipeline.set_state(Gst.State.NULL)


@pytest.mark.parametrize("resolution, caps", [(3, ""), (2, "! videoconvert dither=none ! video/x-raw,format=BGR")])
def test_opencv_captures_the_librarys_images(resolution, caps):
    expected = widened(expected_frame(EXACT, resolution))
    if expected.ndim == 3:
        expected = (expected >> 8)[..., ::-1].astype(np.uint8)  # OpenCV's 8-bit BGR
    capture = cv2.VideoCapture("%s %s ! appsink" % (source(EXACT, resolution=resolution), caps), cv2.CAP_GSTREAMER)
    try:
        assert capture.isOpened()
        for _ in range(3):
            ok, image = capture.read()
            assert ok and image.dtype == expected.dtype and np.array_equal(image, expected)
    finally:
        capture.release()
