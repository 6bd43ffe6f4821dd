"""The ucap tool against virtual cameras: its files read back with tifffile, Ctrl-C, the
calibration files, errors and usage."""

import os
import resource
import signal
import struct
import subprocess
import time
import xml.etree.ElementTree as ET
from datetime import datetime, timedelta, timezone

import numpy as np
import pytest
import tifffile

import ucap
from conftest import EXACT, TOOL, library_image, run_tool

OME = "{http://www.openmicroscopy.org/Schemas/OME/2016-06}"


def ome(tif):
    root = ET.fromstring(tif.ome_metadata)
    return root.find(".//%sPixels" % OME), {m.get("K"): m.text for m in root.iter("%sM" % OME)}


@pytest.mark.parametrize("resolution, bits, binning, roi", [
    (0, 36, 1, None),            # full color
    (3, 12, 1, (8, 4, 200, 100)),  # interlaced grey, a region
    (1, 36, 3, None),            # half resolution color, binned
    (1, 12, 2, None),            # half resolution grey, binned
])
def test_snap_file_holds_the_librarys_image(tmp_path, resolution, bits, binning, roi):
    out, preview = tmp_path / "a.tif", tmp_path / "a.png"
    args = ["--vcam", EXACT, "snap", "-o", out, "--preview", preview, "--resolution", resolution,
            "--bits", bits, "--binning", binning, "--exposure", "20ms"]
    if roi:
        args += ["--roi", ",".join(map(str, roi))]
    result = run_tool(*args)
    assert result.returncode == 0, result.stderr
    expected = library_image(EXACT, resolution, bits, binning, roi, exposure=0.02)
    if bits == 36:
        assert not np.array_equal(expected[..., 0], expected[..., 2])  # the reorder shows
        expected = expected[..., ::-1]
    with tifffile.TiffFile(out) as tif:
        assert tif.is_ome and len(tif.pages) == 1
        image = tif.series[0].asarray()
        pixels, notes = ome(tif)
        acquired = tif.ome_metadata.split("<AcquisitionDate>")[1].split("<")[0]
    assert image.dtype == np.uint16 and image.shape == expected.shape
    assert np.array_equal(image, expected)
    assert (pixels.get("SizeX"), pixels.get("SizeY"), pixels.get("SizeC"), pixels.get("Type")) == (
        str(expected.shape[1]), str(expected.shape[0]), str(3 if bits == 36 else 1), "uint16")
    assert float(pixels.find("%sPlane" % OME).get("ExposureTime")) == pytest.approx(0.02)
    assert (notes["resolution"], notes["bits per pixel"], notes["binning"], notes["camera id"]) == (
        str(resolution), str(bits), str(binning), "00A1C000")
    assert abs(datetime.now(timezone.utc) - datetime.strptime(
        acquired, "%Y-%m-%dT%H:%M:%S%z")) < timedelta(minutes=5)
    # The preview: an 8-bit PNG of the same size, RGB or grey.
    head = preview.read_bytes()[:26]
    assert head[:8] == b"\x89PNG\r\n\x1a\n"
    assert struct.unpack(">IIBB", head[16:26]) == (expected.shape[1], expected.shape[0], 8,
                                                   2 if bits == 36 else 0)


def stream_pages(path):
    """The frames of a grey stream file with frame stamps, checked against both descriptions."""
    with tifffile.TiffFile(path) as tif:
        pixels = ome(tif)[0]
        frames = tif.series[0].asarray().reshape(-1, 192, 256)
        assert tif.pages[0].description1.split()[1:] == ["images=%d" % len(frames), "frames=%d" % len(frames)]
        assert pixels.get("SizeT") == str(len(frames)) and len(tif.pages) in (len(frames), len(frames) + 1)
    assert list(frames[:, 0, 0] + (frames[:, 0, 1].astype(int) << 12)) == list(range(1, len(frames) + 1))
    return len(frames)


def test_stream_of_100_frames_is_one_page_each(tmp_path):
    out = tmp_path / "s.tif"
    # Every frame carries its number; the 41st never arrives (the stream goes on without it).
    result = run_tool("--vcam", EXACT + " frame_stamp=1 drop_frames=1:40", "stream", "--frames", 100,
                      "--resolution", 3, "-o", out)
    assert result.returncode == 0 and "100 frames" in result.stdout and "dropped 1" in result.stdout
    assert stream_pages(out) == 100
    with tifffile.TiffFile(out) as tif:
        deltas = [float(p.get("DeltaT")) for p in ome(tif)[0].findall("%sPlane" % OME)]
        assert len(tif.pages) == 100 and len(deltas) == 100 and deltas == sorted(deltas)


def test_ctrl_c_aborts_a_long_snap_and_the_next_one_works(tmp_path):
    out = tmp_path / "long.tif"
    snap = subprocess.Popen([str(TOOL), "--vcam", "sensor=256x192", "snap", "--exposure", "10s", "-o", out],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(0.5)
    sent = time.monotonic()
    snap.send_signal(signal.SIGINT)
    _, err = snap.communicate(timeout=30)
    took = time.monotonic() - sent
    assert snap.returncode == 130 and "aborted by Ctrl-C: error 4 (operation aborted" in err
    assert took < 5, "the 10 s exposure was waited out"
    assert not out.exists()
    again = run_tool("--vcam", "sensor=256x192", "snap", "--exposure", "10ms", "-o", out)
    assert again.returncode == 0 and out.exists()


def file_size_limit(size):
    """A disk that fills up at `size` bytes per file; writes past it fail (no SIGXFSZ)."""
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return apply


# A full disk (a file size limit) hit while a stream adds its 40 pages (the first, a later
# one), or after them while the full description (40 planes with times) is added: every
# complete frame stays readable.
@pytest.mark.parametrize("limit, frames, says", [
    (150_000, 1, "cannot write"),
    (3_900_000, 39, "cannot write"),
    (3_948_000, 40, "no room left for the description in full; the file holds its 40 images without their times"),
])
def test_a_stream_onto_a_full_disk_keeps_every_complete_frame(tmp_path, limit, frames, says):
    out = tmp_path / "s.ome.tif"
    result = run_tool("--vcam", EXACT + " frame_stamp=1", "stream", "--frames", 40, "--resolution", 3, "-o", out,
                      preexec_fn=file_size_limit(limit))
    assert result.returncode == 1 and "s.ome.tif: " + says in result.stderr
    assert stream_pages(out) == frames


def test_a_killed_stream_keeps_its_frames(tmp_path):
    out = tmp_path / "k.ome.tif"
    stream = subprocess.Popen([str(TOOL), "--vcam", EXACT + " frame_stamp=1", "stream", "--seconds", "60",
                               "--resolution", "3", "-o", out], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    while (not out.exists() or out.stat().st_size < 2_000_000) and time.monotonic() < deadline:
        time.sleep(0.05)
    stream.kill()
    stream.wait()
    assert stream_pages(out) >= 19


# A picture or calibration file that cannot be written whole leaves the older file of that
# name as it was, and nothing else.
@pytest.mark.parametrize("command", [["snap", "-o"], ["snap", "--preview", "a.png", "-o"],
                                     ["calibrate", "black", "-o"]])
def test_a_failed_write_keeps_the_older_file(tmp_path, command):
    out = tmp_path / "old"
    out.write_bytes(b"an older file")
    result = run_tool("--vcam", "sensor=256x192 scene=dark timescale=100", *command, out, cwd=tmp_path,
                      preexec_fn=file_size_limit(50_000))
    assert result.returncode == 1 and str(out) + ": cannot" in result.stderr
    assert out.read_bytes() == b"an older file" and os.listdir(tmp_path) == ["old"]


@pytest.fixture(scope="module")
def references(tmp_path_factory):
    """A black reference and a white table of a 256 x 192 sensor, made by the tool."""
    folder = tmp_path_factory.mktemp("references")
    black, white = folder / "black.ucapref", folder / "white.ucapref"
    made = run_tool("--vcam", "sensor=256x192 scene=dark timescale=100", "calibrate", "black", "-o", black)
    assert made.returncode == 0, made.stderr
    made = run_tool("--vcam", "sensor=256x192 scene=flat timescale=100", "calibrate", "white", "-o", white,
                    "--black-ref", black)
    assert made.returncode == 0, made.stderr
    return black, white


def test_calibration_files_load_into_a_snap(tmp_path, references):
    black, white = references
    out = tmp_path / "corrected.tif"
    result = run_tool("--vcam", EXACT, "snap", "-o", out, "--black-ref", black, "--white-table", white)
    assert result.returncode == 0, result.stderr
    assert ucap.read_reference(black, "black", (256, 192)).shape == (194, 256)
    assert ucap.read_reference(white, "white", (256, 192)).shape == (192, 256)


def damaged(data):
    flipped = bytearray(data)
    flipped[1000] ^= 0x40
    return bytes(flipped)


# A black reference file made for 256 x 192, changed, given to a camera of `sensor` size as
# the reference `kind`: the tool and the package refuse it.
@pytest.mark.parametrize("change, kind, sensor, says", [
    (lambda d: d[:-2], "black", (256, 192), "truncated"),
    (damaged, "black", (256, 192), "damaged (checksum mismatch)"),
    (lambda d: d, "black", (128, 96), "made for a 256 x 192 sensor"),
    (lambda d: d, "white", (256, 192), "it holds a black reference, not a white table"),
    (lambda d: b"II*\0" + d[4:], "black", (256, 192), "not a ucap calibration file"),
])
def test_a_bad_calibration_file_is_refused(tmp_path, references, change, kind, sensor, says):
    bad, out = tmp_path / "bad.ucapref", tmp_path / "never.tif"
    bad.write_bytes(change(references[0].read_bytes()))
    option = "--black-ref" if kind == "black" else "--white-table"
    result = run_tool("--vcam", "sensor=%dx%d" % sensor, "snap", "-o", out, option, bad)
    assert result.returncode == 1 and "refused, nothing loaded: " + says in result.stderr
    assert not out.exists()
    with pytest.raises(ValueError, match="refused"):
        ucap.read_reference(bad, kind, sensor)


@pytest.mark.parametrize("args, status, says", [
    (["firmware", "good.txt"], 0, "firmware written to camera 0 and started"),
    (["snap"], 2, "usage: ucap snap -o FILE.ome.tif"),
    (["stream", "-o", "x.tif"], 2, "stream needs --frames N or --seconds S"),
    (["snap", "-o", "x.tif", "--binning", "2"], 1,
     "binning 2: error 8 (invalid argument, a geometry the camera cannot take"),
    (["-c", "1", "info"], 1, "camera 1: error 3 (no such camera"),
    (["firmware", "bad.txt"], 1, "writing the firmware: error 8"),
])
def test_errors_name_the_code_and_its_meaning(tmp_path, args, status, says):
    (tmp_path / "bad.txt").write_bytes(b"10000001\r11111111\r\n")  # a CR without LF
    (tmp_path / "good.txt").write_bytes(b"10000001\r\n11111111 comment\r\n")
    result = run_tool("--vcam", EXACT, *args, cwd=tmp_path)
    assert result.returncode == status and says in (result.stderr if status else result.stdout)
    assert len(result.stderr.strip().splitlines()) == [0, 1, 3][status]
