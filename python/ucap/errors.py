"""Result codes of the camera interface and the exception that carries them."""

MEANINGS = {
    0: "success",
    1: "the worker thread of a fast acquisition could not be created",
    3: "no such camera: index not below the camera count, no camera found, or its device "
       "could not be opened",
    4: "operation aborted",
    5: "white-balance values zero or negative",
    6: "the image buffer is smaller than the current data size",
    7: "not enough memory, or the driver refused the frame buffer",
    8: "invalid argument, a geometry the camera cannot take, or the camera reported an error bit",
    10: "refused because the camera's acquisition is running",
    11: "the worker thread of a single shot could not be created, or no fast acquisition runs",
    12: "black reference too bright; keep the sensor dark",
    13: "white reference too bright",
    14: "white reference too dark",
    15: "function not supported",
    16: "no camera attached",
    20: "reading a camera register failed",
    21: "the driver refused the capture wait set-up",
    22: "isochronous bandwidth could not be allocated or freed",
    23: "isochronous resources could not be allocated or freed",
    24: "the driver refused the frame buffer for a transfer",
    25: "isochronous channel could not be allocated or freed",
    26: "the driver refused to stop the isochronous transfer",
    27: "writing a camera register failed",
    28: "the blemish list in the camera's EEPROM is not valid",
}


def meaning(code):
    """What a result code means, in one phrase."""
    if 1031 <= code <= 1041:
        return "a register write of the capture set-up failed (step %d)" % (code - 1030)
    if code == 1042:
        return "a register write of the capture clean-up failed"
    return MEANINGS.get(code, "unknown result code")


class UcapError(Exception):
    """A result code other than 0 from the library: `code`, `meaning` and the `function`."""

    def __init__(self, code, function=""):
        self.code = code
        self.meaning = meaning(code)
        self.function = function
        super().__init__("%s%serror %d (%s)" % (function, ": " if function else "", code, self.meaning))


def check(code, function):
    """Raises UcapError(code, function) unless code is 0."""
    if code != 0:
        raise UcapError(code, function)
