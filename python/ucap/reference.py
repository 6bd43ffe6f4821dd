"""Calibration files, the format the `ucap calibrate` command writes (little-endian):
magic b"UCAPREF\\0", version 1, kind (1 black reference, 2 white table), sensor width W and
height H, the number of 16-bit words ((H + 2) * W or W * H), a CRC-32 of the header's first 28
bytes and the words, then the words."""

import struct
import zlib

import numpy as np

MAGIC = b"UCAPREF\0"
VERSION = 1
KINDS = {"black": 1, "white": 2}
_HEADER = struct.Struct("<8s6I")


def _rows(kind, height):
    return height + 2 if kind == "black" else height


def write_reference(path, kind, array):
    """Writes a black reference ((H + 2, W) array) or white table ((H, W) array)."""
    array = np.ascontiguousarray(array, dtype="<u2")
    rows, width = array.shape
    height = rows - 2 if kind == "black" else rows
    head = _HEADER.pack(MAGIC, VERSION, KINDS[kind], width, height, array.size, 0)[:28]
    payload = array.tobytes()
    with open(path, "wb") as f:
        f.write(head + struct.pack("<I", zlib.crc32(payload, zlib.crc32(head))) + payload)


def read_reference(path, kind, sensor_size):
    """The array of a calibration file of `kind` ("black" or "white") made for `sensor_size`
    (width, height); ValueError saying what is wrong with any other file."""
    with open(path, "rb") as f:
        data = f.read()
    refused = "%s: refused: " % path
    if len(data) < _HEADER.size or data[:8] != MAGIC:
        raise ValueError(refused + "not a ucap calibration file")
    _, version, file_kind, width, height, words, crc = _HEADER.unpack_from(data)
    if version != VERSION:
        raise ValueError(refused + "file version %d" % version)
    if file_kind != KINDS[kind]:
        raise ValueError(refused + "it does not hold a %s reference" % kind)
    if (width, height) != tuple(sensor_size):
        raise ValueError(refused + "made for a %d x %d sensor" % (width, height))
    rows = _rows(kind, height)
    if words != rows * width or len(data) != _HEADER.size + 2 * words:
        raise ValueError(refused + ("truncated" if len(data) < _HEADER.size + 2 * words else "damaged"))
    payload = data[_HEADER.size:]
    if zlib.crc32(payload, zlib.crc32(data[:28])) != crc:
        raise ValueError(refused + "damaged (checksum mismatch)")
    return np.frombuffer(payload, dtype="<u2").astype(np.uint16).reshape(rows, width)
