"""Result codes of the camera interface and the exception that carries them."""

# What each result code means, as the library's header documents it (a test holds the two
# equal).
MEANINGS = {
    0: "success",
    1: "the worker thread of a fast acquisition could not be created",
    3: "no such camera: index not below the camera count, no camera found, its device could not "
       "be opened, or it was unplugged or the library closed during the call",
    4: "operation aborted: the progress callback asked to stop, an abort was already under way, "
       "or the stream's cancel handle could not be opened",
    5: "white-balance values zero or negative",
    6: "the image buffer is missing or smaller than the current data size",
    7: "not enough memory, or the driver refused the frame buffer",
    8: "invalid argument, a geometry the camera cannot take, a camera command that ended with "
       "its error bit, or a camera answer that cannot be right",
    10: "refused because the camera's acquisition is running",
    11: "the worker thread of a single shot could not be created, or no fast acquisition runs",
    12: "black reference too bright",
    13: "white reference too bright",
    14: "white reference too dark",
    15: "function not supported",
    16: "no camera attached",
    20: "reading a camera register failed, or a camera command stayed busy",
    21: "the driver refused the capture wait set-up, or the frame did not come before the wait "
        "ran out",
    22: "isochronous bandwidth could not be allocated or freed",
    23: "isochronous resources could not be allocated or freed",
    24: "the driver refused the frame buffer for a transfer, or the frame wait failed",
    25: "isochronous channel could not be allocated or freed",
    26: "the driver refused to stop the isochronous transfer",
    27: "writing a camera register failed",
    28: "the blemish list in the camera's EEPROM is not valid (10000 entries or more)",
    1031: "capture set-up: vendor access could not be opened",
    1032: "capture set-up: the binning write failed",
    1033: "capture set-up: the position write failed",
    1034: "capture set-up: the size write failed",
    1035: "capture set-up: the capture control write failed",
    1036: "capture set-up: the exposure's upper part could not be written",
    1037: "capture set-up: the colour coding write failed",
    1038: "capture set-up: the apply settings write failed",
    1039: "capture set-up: the format write failed",
    1040: "capture set-up: the mode write failed",
    1041: "capture set-up: the channel write failed",
    1042: "the capture set-up's shutter write or the capture clean-up's trigger reset failed",
}


def meaning(code):
    """What a result code means, in one phrase."""
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
