/*
 * ucap: host-side library of the 1394 color CCD camera.
 *
 * Flat C interface. Every function returns a 32-bit error code (UCAP_OK on
 * success) unless its comment says it returns the value itself. Functions of
 * the Ucapm family take the camera index as first argument; their Ucap twins
 * act on camera 0.
 *
 * Usable from C and C++. On Windows link against ucap.lib / ucap.dll; define
 * UCAP_STATIC when linking the library statically.
 *
 * Threads: every export may overlap every other, on any thread. A second acquisition of a busy
 * camera, or a settings change during one, answers 10 and touches nothing; queries always see
 * the user's settings; reference stores are read and written whole. UcapInit and UcapClose wait
 * for the exports under way (others answer 3 meanwhile); from a callback they answer 3.
 */
#ifndef UCAP_UCAP_H
#define UCAP_UCAP_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(UCAP_BUILDING)
#    define UCAP_API __declspec(dllexport)
#  elif defined(UCAP_STATIC)
#    define UCAP_API
#  else
#    define UCAP_API __declspec(dllimport)
#  endif
#else
#  define UCAP_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- error codes ---------------------------------------------------------- */
enum {
  UCAP_OK = 0,
  UCAP_ERR_THREAD_FAST = 1,        /* fast-acquisition worker could not be created */
  UCAP_ERR_NO_CAMERA = 3,          /* bad index, no camera, device not found/opened */
  UCAP_ERR_ABORTED = 4,
  UCAP_ERR_WHITE_BALANCE = 5,      /* white-balance value zero or negative */
  UCAP_ERR_BUFFER_SIZE = 6,        /* caller's image buffer too small */
  UCAP_ERR_NO_MEMORY = 7,
  UCAP_ERR_ARGUMENT = 8,           /* invalid argument, geometry, or camera error bit */
  UCAP_ERR_BUSY = 10,              /* acquisition running */
  UCAP_ERR_THREAD = 11,            /* single-shot worker not created / no fast acquisition */
  UCAP_ERR_BLACK_TOO_BRIGHT = 12,
  UCAP_ERR_WHITE_TOO_BRIGHT = 13,
  UCAP_ERR_WHITE_TOO_DARK = 14,
  UCAP_ERR_NOT_SUPPORTED = 15,
  UCAP_ERR_NOT_ATTACHED = 16,
  UCAP_ERR_READ = 20,              /* reading a camera register failed */
  UCAP_ERR_CAPTURE_WAIT = 21,
  UCAP_ERR_BANDWIDTH = 22,
  UCAP_ERR_RESOURCES = 23,
  UCAP_ERR_FRAME_BUFFER = 24,
  UCAP_ERR_CHANNEL = 25,
  UCAP_ERR_STOP = 26,
  UCAP_ERR_WRITE = 27,             /* writing a camera register failed */
  UCAP_ERR_BLEMISH_LIST = 28,      /* blemish list in the EEPROM not valid */
  UCAP_ERR_SETUP_FIRST = 1031,     /* 1031..1042: a register write of the capture set-up failed */
  UCAP_ERR_SETUP_LAST = 1042
};

/* ---- records and callbacks ------------------------------------------------ */

/* Camera information: vendor word 3, unique identifier (low word), always 1,
 * EEPROM word 36. */
typedef struct UcapInfoRecord {
  uint32_t vendor_word3;
  uint32_t unique_id_low;
  uint32_t one;
  uint32_t eeprom_word36;
} UcapInfoRecord;

/* Rectangle: right and bottom exclusive. */
typedef struct UcapRect {
  int32_t left, top, right, bottom;
} UcapRect;

/* Progress callbacks: (elapsed or step, total, phase[, user]); non-zero asks to stop. */
typedef int32_t (*UcapProgressCallback)(int32_t elapsed, int32_t total, int32_t phase);
typedef int32_t (*UcapProgressCallbackEx)(int32_t elapsed, int32_t total, int32_t phase,
                                          intptr_t user);
/* Bus-reset callback, called on the library's monitor thread. */
typedef void (*UcapBusResetCallback)(uint64_t user);

/* ---- start-up, information, messages -------------------------------------- */
UCAP_API int32_t UcapInit(void);
UCAP_API int32_t UcapClose(void);
UCAP_API int32_t UcapInfo(UcapInfoRecord *info);
UCAP_API int32_t UcapmInfo(int32_t index, UcapInfoRecord *info);
UCAP_API int32_t UcapGetNumberofCameras(void);
UCAP_API int32_t UCapIsAvailable(void);            /* 0 when a camera is attached, else 16 */
UCAP_API int32_t UcapSetErrorMessages(int32_t on);
UCAP_API int32_t UcapGetCurrentErrorMessages(void); /* returns the switch itself */
UCAP_API int32_t UcapSetBusresetCallback(UcapBusResetCallback callback, uint64_t user);
/* Big-endian number from `count` bytes of camera 0's EEPROM image at `offset`. */
UCAP_API uint32_t ReadEprom(uint16_t offset, int16_t count);

/* ---- firmware download ------------------------------------------------------ */
/* Loads firmware given as text into the camera and starts it. The text holds `length`
 * bytes (no terminating zero needed) of lines ended by CR LF, one firmware byte per
 * line: the last eight characters before the CR, most significant first, '1' a one bit
 * and any other character a zero bit; a space starts a comment that runs to the CR. A
 * last line without CR LF counts like the others. 8 for a malformed text (nothing is
 * sent) or an image beyond 16 MiB, 10 while an acquisition runs, 27 when writing to the
 * camera failed (the firmware is then not started). Takes about 2.5 s after the blocks
 * are written. */
UCAP_API int32_t UcapWriteFirmware(const char *text, int32_t length);
UCAP_API int32_t UcapmWriteFirmware(int32_t index, const char *text, int32_t length);

/* ---- resolution, pixel depth, binning ------------------------------------- */
UCAP_API int32_t UcapGetNumberOfResolutions(void);
UCAP_API int32_t UcapmGetNumberOfResolutions(int32_t index);
UCAP_API int32_t UcapGetResolutionValues(int32_t resolution, int32_t *width, int32_t *height,
                                         int32_t *third);
UCAP_API int32_t UcapmGetResolutionValues(int32_t index, int32_t resolution, int32_t *width,
                                          int32_t *height, int32_t *third);
UCAP_API int32_t UcapSetResolution(int32_t resolution);
UCAP_API int32_t UcapmSetResolution(int32_t index, int32_t resolution);
UCAP_API int32_t UcapGetCurrentResolution(void);               /* value */
UCAP_API int32_t UcapmGetCurrentResolution(int32_t index);     /* value */
UCAP_API int32_t UcapHasBitsPerPixel(int32_t bits);            /* value 0/1 */
UCAP_API int32_t UcapmHasBitsPerPixel(int32_t index, int32_t bits, int32_t *result);
UCAP_API int32_t UcapSetBitsPerPixel(int32_t bits);
UCAP_API int32_t UcapmSetBitsPerPixel(int32_t index, int32_t bits);
UCAP_API int32_t UcapGetCurrentBitsPerPixel(void);             /* value */
UCAP_API int32_t UcapmGetCurrentBitsPerPixel(int32_t index);   /* value */
UCAP_API int32_t UcapHasBinning(int32_t factor);               /* value 0/1 */
UCAP_API int32_t UcapmHasBinning(int32_t index, int32_t factor, int32_t *result);
UCAP_API int32_t UcapSetBinning(int32_t factor);
UCAP_API int32_t UcapmSetBinning(int32_t index, int32_t factor);
UCAP_API int32_t UcapGetCurrentBinning(void);                  /* value */
UCAP_API int32_t UcapmGetCurrentBinning(int32_t index, int32_t *factor);

/* ---- image size, frame, data size ----------------------------------------- */
UCAP_API int32_t UcapSetImageSize(const UcapRect *rect);       /* NULL: whole size */
UCAP_API int32_t UcapmSetImageSize(int32_t index, const UcapRect *rect);
UCAP_API int32_t UcapGetCurrentImageSize(UcapRect *rect);
UCAP_API int32_t UcapmGetCurrentImageSize(int32_t index, UcapRect *rect);
UCAP_API int32_t UcapSetFrameSize(const UcapRect *rect);       /* NULL: whole sensor */
UCAP_API int32_t UcapmSetFrameSize(int32_t index, const UcapRect *rect);
UCAP_API int32_t UcapGetCurrentFrameSize(UcapRect *rect);
UCAP_API int32_t UcapmGetCurrentFrameSize(int32_t index, UcapRect *rect);
UCAP_API int32_t UcapGetCurrentDataSize(int32_t *width, int32_t *height);
UCAP_API int32_t UcapmGetCurrentDataSize(int32_t index, int32_t *width, int32_t *height);
UCAP_API int32_t UcapHasImageSize(void);                       /* value 1 */
UCAP_API int32_t UcapmHasImageSize(int32_t index, int32_t *result);

/* ---- exposure, shutter, trigger, packing, blemishes ----------------------- */
UCAP_API int32_t UcapGetExposureRange(int32_t *min_us, int32_t *max_us, int32_t *step_us);
UCAP_API int32_t UcapmGetExposureRange(int32_t index, int32_t *min_us, int32_t *max_us,
                                       int32_t *step_us);
UCAP_API int32_t UcapSetExposure(int32_t microseconds);
UCAP_API int32_t UcapmSetExposure(int32_t index, int32_t microseconds);
UCAP_API int32_t UcapGetCurrentExposure(void);                 /* value */
UCAP_API int32_t UcapmGetCurrentExposure(int32_t index, int32_t *microseconds);
UCAP_API int32_t UcapShutterControl(int32_t enable, int32_t level);
UCAP_API int32_t UcapmShutterControl(int32_t index, int32_t enable, int32_t level);
UCAP_API int32_t UcapSetShutterDelay(int32_t open_us, int32_t close_us);
UCAP_API int32_t UcapmSetShutterDelay(int32_t index, int32_t open_us, int32_t close_us);
UCAP_API int32_t UcapGetCurrentShutterDelay(int32_t *open_us, int32_t *close_us);
UCAP_API int32_t UcapmGetCurrentShutterDelay(int32_t index, int32_t *open_us, int32_t *close_us);
UCAP_API int32_t UcapEnableHardwareTrigger(int32_t on);
UCAP_API int32_t UcapmEnableHardwareTrigger(int32_t index, int32_t on);
UCAP_API int32_t UcapSetHardwareTriggerPolarity(int32_t polarity);
UCAP_API int32_t UcapmSetHardwareTriggerPolarity(int32_t index, int32_t polarity);
UCAP_API int32_t UcapIsHardwareTriggerEnabled(int32_t *on);
UCAP_API int32_t UcapmIsHardwareTriggerEnabled(int32_t index, int32_t *on);
UCAP_API int32_t UcapmEnablePacking(int32_t index, int32_t on);
/* Sets the process-wide blemish switch; returns the camera's blemish-list-valid flag. */
UCAP_API int32_t Ucap_corrblems(int32_t on);
UCAP_API int32_t Ucapm_corrblems(int32_t index, int32_t on);

/* ---- color processing, white balance, saturation ------------------------- */
UCAP_API void UcapEnableColorProcessing(int32_t on);
UCAP_API int32_t UcapmEnableColorProcessing(int32_t index, int32_t on);
UCAP_API int32_t UcapIsColorProcessingEnabled(void);           /* value */
UCAP_API int32_t UcapmIsColorProcessingEnabled(int32_t index, int32_t *on);
UCAP_API int32_t UcapSetWhiteBalance(double red, double green, double blue);
UCAP_API int32_t UcapmSetWhiteBalance(int32_t index, double red, double green, double blue);
UCAP_API int32_t UcapSetImageWhiteBalance(double red, double green, double blue);
UCAP_API int32_t UcapmSetImageWhiteBalance(int32_t index, double red, double green, double blue);
UCAP_API int32_t UcapSetColorSaturation(double red, double green, double blue);
UCAP_API int32_t UcapmSetColorSaturation(int32_t index, double red, double green, double blue);
UCAP_API int32_t UcapGetCurrentWhiteBalance(double *red, double *green, double *blue);
UCAP_API int32_t UcapmGetCurrentWhiteBalance(int32_t index, double *red, double *green,
                                             double *blue);
/* Rebuilds the gain and matrix term tables from three white-balance values. */
UCAP_API int32_t Ucap_setwhite(const double *rgb);
UCAP_API int32_t Ucapm_setwhite(int32_t index, const double *rgb);

/* ---- reference stores ------------------------------------------------------ */
UCAP_API int32_t UcapSaveBlackRef(void *buffer, int32_t size);
UCAP_API int32_t UcapmSaveBlackRef(int32_t index, void *buffer, int32_t size);
UCAP_API int32_t UcapRestoreBlackRef(const void *buffer, int32_t size);
UCAP_API int32_t UcapmRestoreBlackRef(int32_t index, const void *buffer, int32_t size);
UCAP_API int32_t UcapSetBlackRef(int32_t on);
UCAP_API int32_t UcapmSetBlackRef(int32_t index, int32_t on);
UCAP_API int32_t UcapGetCurrentBlackRef(void);                 /* value */
UCAP_API int32_t UcapmGetCurrentBlackRef(int32_t index, int32_t *on);
UCAP_API int32_t UcapHasBlackRef(void);                        /* value */
UCAP_API int32_t UcapmHasBlackRef(int32_t index, int32_t *present);
UCAP_API int32_t UcapSetWhiteRef(int32_t on);
UCAP_API int32_t UcapmSetWhiteRef(int32_t index, int32_t on);
UCAP_API int32_t UcapGetCurrentWhiteRef(void);                 /* value */
UCAP_API int32_t UcapmGetCurrentWhiteRef(int32_t index, int32_t *on);
UCAP_API int32_t UcapHasWhiteRef(void);                        /* value */
UCAP_API int32_t UcapmHasWhiteRef(int32_t index, int32_t *present);
UCAP_API int32_t UcapSetWhiteTable(const uint16_t *table);     /* sensor width x height words */
UCAP_API int32_t UcapmSetWhiteTable(int32_t index, const uint16_t *table);
UCAP_API int32_t UcapGetWhiteTable(uint16_t *table);
UCAP_API int32_t UcapmGetWhiteTable(int32_t index, uint16_t *table);

/* ---- image acquisition ------------------------------------------------------
 * Images are 16-bit words holding 12-bit values: one grey word per pixel (12 bits
 * per pixel) or blue, green, red words per pixel (36 bits per pixel), rows without
 * gaps. `size` is the buffer size in bytes; it must hold the current data size.
 * The progress callback is called on the calling thread every 50 ms of the
 * exposure as (elapsed ms, total ms, 2); a non-zero result aborts the shot
 * (result 4; exposures above 2 s and triggered shots are cancelled at once). */
UCAP_API int32_t UcapAcquisition(uint16_t *image, int32_t size, UcapProgressCallback callback);
UCAP_API int32_t UcapmAcquisition(int32_t index, uint16_t *image, int32_t size,
                                  UcapProgressCallback callback);
UCAP_API int32_t UcapAcquisitionEx(uint16_t *image, int32_t size, UcapProgressCallbackEx callback,
                                   intptr_t user);
UCAP_API int32_t UcapmAcquisitionEx(int32_t index, uint16_t *image, int32_t size,
                                    UcapProgressCallbackEx callback, intptr_t user);

/* Fast acquisition: start, then poll the readiness check; it answers 1 when a
 * frame was delivered into the buffer, 0 when none is ready yet, and negated
 * error codes. With go_on 0 the delivered frame is the last one; an abort stops
 * the stream at any time. */
UCAP_API int32_t UcapStartFastAcquisition(void);
UCAP_API int32_t UcapmStartFastAcquisition(int32_t index);
UCAP_API int32_t UcapIsFastAcquisitionReady(uint16_t *image, int32_t size, int32_t go_on);
UCAP_API int32_t UcapmIsFastAcquisitionReady(int32_t index, uint16_t *image, int32_t size,
                                             int32_t go_on);
UCAP_API int32_t UcapAbortFastAcquisition(void);
UCAP_API int32_t UcapmAbortFastAcquisition(int32_t index);

/* ---- reference calculations --------------------------------------------------
 * Black reference: keep the sensor dark; two full-sensor exposures (250 us and
 * about 16.4 s), the callback called during them as during a single shot.
 * White reference: an evenly lit empty field at the exposure in use; four
 * frames, the callback called as (0, 4, 1) first and (i, 4, 2) after frame i. */
UCAP_API int32_t UcapCalculateBlackRef(UcapProgressCallback callback);
UCAP_API int32_t UcapmCalculateBlackRef(int32_t index, UcapProgressCallback callback);
UCAP_API int32_t UcapCalculateBlackRefEx(UcapProgressCallbackEx callback, intptr_t user);
UCAP_API int32_t UcapmCalculateBlackRefEx(int32_t index, UcapProgressCallbackEx callback,
                                          intptr_t user);
/* Installs a black reference from a work buffer of (sensor height + 2) x sensor
 * width words; `record` is a camera record of the library (3 for any other). */
UCAP_API int32_t Ucapm_setBlackRef(void *record, const uint16_t *buffer);
UCAP_API int32_t UcapCalculateWhiteRef(UcapProgressCallback callback);
UCAP_API int32_t UcapmCalculateWhiteRef(int32_t index, UcapProgressCallback callback);
UCAP_API int32_t UcapCalculateWhiteRefEx(UcapProgressCallbackEx callback, intptr_t user);
UCAP_API int32_t UcapmCalculateWhiteRefEx(int32_t index, UcapProgressCallbackEx callback,
                                          intptr_t user);

/* ---- capabilities ---------------------------------------------------------- */
UCAP_API int32_t UcapHasFrame(void);                           /* value */
UCAP_API int32_t UcapmHasFrame(int32_t index, int32_t *result);
UCAP_API int32_t UcapHasFastAcquisition(void);                 /* value */
UCAP_API int32_t UcapmHasFastAcquisition(int32_t index, int32_t *result);

/* ---- kept for compatibility: these do nothing and ignore their arguments --- */
UCAP_API int32_t UcapGetCurrentFadingCorrection(void);         /* 0 */
UCAP_API int32_t UcapGetCurrentMultiShotFilter(void);          /* 0 */
UCAP_API int32_t UcapHasCalibration(void);                     /* 0 */
UCAP_API int32_t UcapIsSharpenerEnabled(void);                 /* 0 */
UCAP_API int32_t UcapButtonWasPressed(void);                   /* 15 */
UCAP_API int32_t UcapCalibrate(UcapProgressCallback callback); /* 15 */
UCAP_API int32_t UcapCalibrateEx(UcapProgressCallbackEx callback, intptr_t user); /* 15 */
UCAP_API int32_t UcapGetBloomingVoltage(int32_t *value);       /* 15 */
UCAP_API int32_t UcapGetPeltierVoltage(int32_t *value);        /* 15 */
UCAP_API int32_t UcapLoadCalibration(const void *data, int32_t size); /* 15 */
UCAP_API int32_t UcapResetCalibration(void);                   /* 15 */
UCAP_API int32_t UcapSaveCalibration(void *data, int32_t size);/* 15 */
UCAP_API int32_t UcapSetBloomingVoltage(int32_t value);        /* 15 */
UCAP_API int32_t UcapSetFadingCorrection(int32_t on);          /* 15 */
UCAP_API int32_t UcapSetFadingCorrectionGainLimit(int32_t limit); /* 15 */
UCAP_API int32_t UcapSetMultiShotFilter(int32_t filter);       /* 15 */
UCAP_API int32_t UcapSetPeltierVoltage(int32_t value);         /* 15 */
UCAP_API int32_t UcapmEnableSharpener(int32_t index, int32_t on);            /* 15 */
UCAP_API int32_t UcapmGetBloomingVoltage(int32_t index, int32_t *value);     /* 15 */
UCAP_API int32_t UcapmGetCurrentMultiShotFilter(int32_t index, int32_t *filter); /* 15 */
UCAP_API int32_t UcapmIsSharpenerEnabled(int32_t index, int32_t *on);        /* 15 */
UCAP_API int32_t UcapmSetBloomingVoltage(int32_t index, int32_t value);      /* 15 */
UCAP_API int32_t UcapmSetMultiShotFilter(int32_t index, int32_t filter);     /* 15 */
/* These four have no result of their own; they return 0. */
UCAP_API int32_t UcapEnableSharpener(int32_t on);
UCAP_API int32_t UcapStripeAdjust(void);
UCAP_API int32_t WriteEprom(void);
UCAP_API int32_t outcomm(void);

#ifdef __cplusplus
}
#endif

#endif /* UCAP_UCAP_H */
