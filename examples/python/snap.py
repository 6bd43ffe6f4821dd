"""Takes one color picture with the first camera, prints its size and channel means, and,
given a file name, saves it as a 16-bit RGB TIFF.

    python3 examples/python/snap.py [picture.tif]
"""

import sys

import ucap

with ucap.Camera() as cam:
    cam.configure(resolution=2, bits=36, exposure=0.02)  # full sensor, color, 20 ms
    image = cam.snap()  # (height, width, 3) uint16, red, green, blue
    height, width, _ = image.shape
    red, green, blue = image.reshape(-1, 3).mean(axis=0)
    print("snap: %d x %d RGB, mean red %.1f green %.1f blue %.1f" % (width, height, red, green, blue))

if len(sys.argv) > 1:
    import tifffile
    tifffile.imwrite(sys.argv[1], image, photometric="rgb")
    print("wrote", sys.argv[1])
