/* The public headers compile as C and the shared library links and answers from C. */
#include <stdio.h>
#include <string.h>

#include "ucap/ucap.h"
#include "ucap/vcam.h"

static int failures = 0;
#define CHECK(cond)                                              \
  do {                                                           \
    if (!(cond)) {                                               \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                \
    }                                                            \
  } while (0)

int main(void) {
  UcapInfoRecord info;
  memset(&info, 0, sizeof info);
  CHECK(UcapGetCurrentErrorMessages() == 1);
  CHECK(UcapInfo(&info) == UCAP_ERR_NO_CAMERA);
  CHECK(UcapCalibrate(NULL) == UCAP_ERR_NOT_SUPPORTED);
  CHECK(UcapHasCalibration() == 0);
  CHECK(UcapGetNumberofCameras() == 1); /* the default virtual camera */
  CHECK(UCapIsAvailable() == UCAP_OK);
  CHECK(UcapInit() == UCAP_OK);
  CHECK(UcapInfo(&info) == UCAP_OK);
  CHECK(info.one == 1);
  CHECK(ReadEprom(144, 4) == info.eeprom_word36);
  CHECK(UcapClose() == UCAP_OK);
  CHECK(UcapmInfo(0, &info) == UCAP_ERR_NO_CAMERA);
  printf("%d passed, %d failed\n", 10 - failures, failures);
  return failures == 0 ? 0 : 1;
}
