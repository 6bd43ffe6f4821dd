/* Takes one grey picture with the first camera and prints its size and mean value.
 *
 *   cmake -S examples/c -B build/example -DCMAKE_PREFIX_PATH=<install prefix>   (find_package)
 *   cc examples/c/snap.c $(pkg-config --cflags --libs ucap) -o snap            (pkg-config)
 */
#include <stdio.h>
#include <stdlib.h>

#include <ucap/ucap.h>

static int failed(const char *what, int32_t code) {
  fprintf(stderr, "%s: error %d\n", what, (int)code);
  UcapClose();
  return 1;
}

int main(void) {
  int32_t code = UcapInit();
  if (code != UCAP_OK) return failed("UcapInit", code);
  printf("cameras: %d\n", (int)UcapGetNumberofCameras());

  /* Resolution 3: the whole sensor, 12 bits per pixel (one grey word per pixel). */
  if ((code = UcapSetResolution(3)) != UCAP_OK) return failed("UcapSetResolution", code);
  if ((code = UcapSetBitsPerPixel(12)) != UCAP_OK) return failed("UcapSetBitsPerPixel", code);
  if ((code = UcapSetImageSize(NULL)) != UCAP_OK) return failed("UcapSetImageSize", code);
  if ((code = UcapSetExposure(20000)) != UCAP_OK)
    return failed("UcapSetExposure", code); /* 20 ms */

  int32_t width = 0, height = 0;
  if ((code = UcapGetCurrentDataSize(&width, &height)) != UCAP_OK)
    return failed("UcapGetCurrentDataSize", code);
  const size_t pixels = (size_t)width * (size_t)height;
  uint16_t *image = malloc(pixels * sizeof *image);
  if (image == NULL) return failed("malloc", UCAP_ERR_NO_MEMORY);
  code = UcapAcquisition(image, (int32_t)(pixels * sizeof *image), NULL);
  if (code != UCAP_OK) {
    free(image);
    return failed("UcapAcquisition", code);
  }
  double sum = 0;
  for (size_t i = 0; i < pixels; ++i) sum += image[i];
  printf("snap: %d x %d grey, mean %.1f\n", (int)width, (int)height, sum / (double)pixels);
  free(image);
  UcapClose();
  return 0;
}
