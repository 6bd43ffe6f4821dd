/**
 * \file ucap/ucap.h
 * \brief The camera interface of ucap: host-side library of the 1394 color CCD camera.
 *
 * Flat C interface. Every function returns a 32-bit error code (UCAP_OK on
 * success) unless its comment says it returns the value itself. Functions of
 * the Ucapm family take the camera index as first argument; their Ucap twins
 * act on camera 0.
 *
 * Usable from C and C++. On Windows link against ucap.lib / ucap.dll; define
 * UCAP_STATIC when linking the library statically.
 *
 * Cameras are numbered from 0 in the order UcapInit found them. A Ucapm export answers
 * \ref UCAP_ERR_NO_CAMERA (3) when its index is negative or not below the number of
 * cameras UcapInit opened; its Ucap twin answers 3 when there is no camera at all (before
 * UcapInit, after UcapClose, or while one of them runs). Codes: \ref errors. Images:
 * \ref image_layouts. Which calls may overlap: \ref threads.
 */

/**
 * \page threads Threads and overlap
 *
 * Every export may overlap every other, on any thread. A second acquisition of a busy
 * camera, or a settings change during one, answers 10 and touches nothing; queries always
 * see the user's settings; reference stores are read and written whole.
 *
 * UcapInit and UcapClose wait for the exports under way; while one of them waits or runs
 * the other exports answer 3 (those that return a value return 0). UcapClose ends the
 * shots, streams and reference calculations still under way (they answer 3 or 4) and gives
 * the bus's resources back.
 *
 * The bus-reset callback runs on the library's own monitor thread, which UcapClose waits
 * for: UcapInit and UcapClose called from the callback answer 3 and do nothing.
 */

/**
 * \page image_layouts Image layouts
 *
 * Every image an acquisition writes into the caller's buffer (UcapmAcquisition(),
 * UcapmIsFastAcquisitionReady()) has the size UcapmGetCurrentDataSize() reports for the
 * current settings, width x height pixels, and this layout:
 * - **Words:** 16-bit unsigned words (`uint16_t`, in the machine's byte order) holding
 *   12-bit values, 0 to 4095; the upper four bits are 0. After black reference correction
 *   the black level is 32.
 * - **Pixels:** at 12 bits per pixel one grey word per pixel; at 36 bits per pixel three
 *   words per pixel in the order **blue, green, red**.
 * - **Rows:** top to bottom, each row's pixels left to right, rows one after another
 *   without gaps: row y starts at word y x width (12 bits) or y x width x 3 (36 bits).
 * - **Buffer size:** at least width x height x 2 bytes (12 bits per pixel) or
 *   width x height x 6 bytes (36 bits per pixel); a smaller one is refused with
 *   \ref UCAP_ERR_BUFFER_SIZE (6) and not written.
 *
 * What a pixel is depends on the resolution (UcapmSetResolution()):
 * | Resolution | Pixel depth | Binning b | A pixel of the image |
 * |---|---|---|---|
 * | 0 | 36 | 1 | one sensor pixel, full color by interpolation (the camera sends rows summed in pairs; the library restores every row) |
 * | 1 | 36 | 1, 3, 5 | one 2b x 2b block of the sensor, color |
 * | 1 | 12 | 1, 2, 4 | one 2b x 2b block of the sensor, grey |
 * | 2 | 36 | 1 to 5 | one b x b block of the sensor, full color by interpolation |
 * | 3 | 12 | 1 | one sensor pixel as the sensor saw it: the raw color mosaic |
 *
 * The color mosaic (resolution 3 images, and the sensor behind every other): pixel
 * (x, y), counted from the image's top-left pixel, is red where x and y are both even,
 * blue where both are odd, green elsewhere (the region always starts on even sensor
 * coordinates, so this is the sensor's own pattern).
 *
 * The black reference store and the white table (UcapmSaveBlackRef(), UcapmSetWhiteTable())
 * are laid out in rows of sensor width words too; see those exports.
 */

#ifndef UCAP_UCAP_H
#define UCAP_UCAP_H

#include <stdint.h>

/**
 * \def UCAP_API
 * \brief Marks the exported functions: imported from ucap.dll on Windows (unless
 * UCAP_STATIC is defined before including this header, for a static library; UCAP_BUILDING
 * while building the library itself), default visibility elsewhere.
 */
#if defined(_WIN32)
#if defined(UCAP_BUILDING)
#define UCAP_API __declspec(dllexport)
#elif defined(UCAP_STATIC)
#define UCAP_API
#else
#define UCAP_API __declspec(dllimport)
#endif
#else
#define UCAP_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/**
 * \defgroup errors Error codes
 * \brief The 32-bit results of the exports.
 *
 * Every export that returns an error code returns one of these values: UCAP_OK (0) on
 * success, else the code of the first thing that went wrong. Each export's description
 * lists the codes it can return. A refused call leaves the settings as they were unless
 * its description says otherwise. Driver and platform error codes never reach the caller.
 *
 * Exceptions to the rule:
 * - Exports documented as returning "the value" (for example UcapGetCurrentExposure())
 *   return the value itself and 0 when there is no camera.
 * - UcapmIsFastAcquisitionReady() returns 1 (a frame was delivered) or 0 (none yet), and
 *   its failures as negated codes (-3, -6, -7, -11, -21, -24).
 * - ReadEprom() returns EEPROM bytes; UCapIsAvailable() returns 0 or 16.
 *
 * Codes 1031 to 1042 (UCAP_ERR_SETUP_FIRST to UCAP_ERR_SETUP_LAST) each name one register
 * write of the capture set-up that failed (1042 also the trigger reset of the clean-up).
 *
 * The library also shows a message for some failures (on Windows a message box and the
 * debugger output, elsewhere a line on stderr); UcapSetErrorMessages() switches that off.
 * @{
 */
enum {
  UCAP_OK = 0,                    /**< success */
  UCAP_ERR_THREAD_FAST = 1,       /**< the worker thread of a fast acquisition could not be
                                       created */
  UCAP_ERR_NO_CAMERA = 3,         /**< no such camera: index not below the camera count, no camera
                                       found, its device could not be opened, or it was unplugged or
                                       the library closed during the call */
  UCAP_ERR_ABORTED = 4,           /**< operation aborted: the progress callback asked to stop, an
                                       abort was already under way, or the stream's cancel handle
                                       could not be opened */
  UCAP_ERR_WHITE_BALANCE = 5,     /**< white-balance values zero or negative */
  UCAP_ERR_BUFFER_SIZE = 6,       /**< the image buffer is missing or smaller than the current data
                                       size */
  UCAP_ERR_NO_MEMORY = 7,         /**< not enough memory, or the driver refused the frame buffer */
  UCAP_ERR_ARGUMENT = 8,          /**< invalid argument, a geometry the camera cannot take, a camera
                                       command that ended with its error bit, or a camera answer
                                       that cannot be right */
  UCAP_ERR_BUSY = 10,             /**< refused because the camera's acquisition is running */
  UCAP_ERR_THREAD = 11,           /**< the worker thread of a single shot could not be created, or
                                       no fast acquisition runs */
  UCAP_ERR_BLACK_TOO_BRIGHT = 12, /**< black reference too bright */
  UCAP_ERR_WHITE_TOO_BRIGHT = 13, /**< white reference too bright */
  UCAP_ERR_WHITE_TOO_DARK = 14,   /**< white reference too dark */
  UCAP_ERR_NOT_SUPPORTED = 15,    /**< function not supported */
  UCAP_ERR_NOT_ATTACHED = 16,     /**< no camera attached */
  UCAP_ERR_READ = 20,             /**< reading a camera register failed, or a camera command stayed
                                       busy */
  UCAP_ERR_CAPTURE_WAIT = 21,     /**< the driver refused the capture wait set-up, or the frame did
                                       not come before the wait ran out */
  UCAP_ERR_BANDWIDTH = 22,        /**< isochronous bandwidth could not be allocated or freed */
  UCAP_ERR_RESOURCES = 23,        /**< isochronous resources could not be allocated or freed */
  UCAP_ERR_FRAME_BUFFER = 24,     /**< the driver refused the frame buffer for a transfer, or the
                                       frame wait failed */
  UCAP_ERR_CHANNEL = 25,          /**< isochronous channel could not be allocated or freed */
  UCAP_ERR_STOP = 26,             /**< the driver refused to stop the isochronous transfer */
  UCAP_ERR_WRITE = 27,            /**< writing a camera register failed */
  UCAP_ERR_BLEMISH_LIST = 28,     /**< the blemish list in the camera's EEPROM is not valid (10000
                                       entries or more) */
  UCAP_ERR_SETUP_VENDOR_ACCESS = 1031,   /**< capture set-up: vendor access could not be opened */
  UCAP_ERR_SETUP_BINNING = 1032,         /**< capture set-up: the binning write failed */
  UCAP_ERR_SETUP_POSITION = 1033,        /**< capture set-up: the position write failed */
  UCAP_ERR_SETUP_SIZE = 1034,            /**< capture set-up: the size write failed */
  UCAP_ERR_SETUP_CAPTURE_CONTROL = 1035, /**< capture set-up: the capture control write failed */
  UCAP_ERR_SETUP_EXPOSURE = 1036,        /**< capture set-up: the exposure's upper part could not be
                                       written */
  UCAP_ERR_SETUP_COLOR_CODING = 1037,    /**< capture set-up: the colour coding write failed */
  UCAP_ERR_SETUP_APPLY = 1038,           /**< capture set-up: the apply settings write failed */
  UCAP_ERR_SETUP_FORMAT = 1039,          /**< capture set-up: the format write failed */
  UCAP_ERR_SETUP_MODE = 1040,            /**< capture set-up: the mode write failed */
  UCAP_ERR_SETUP_CHANNEL = 1041,         /**< capture set-up: the channel write failed */
  UCAP_ERR_SETUP_SHUTTER = 1042, /**< the capture set-up's shutter write or the capture clean-up's
                                       trigger reset failed */
  /* The capture set-up's step codes run from UCAP_ERR_SETUP_FIRST to UCAP_ERR_SETUP_LAST. */
  UCAP_ERR_SETUP_FIRST = 1031,
  UCAP_ERR_SETUP_LAST = 1042
};
/** @} */

/**
 * \defgroup records Records and callbacks
 * \brief Plain records and the application's callback types.
 * @{
 */

/** \brief Camera information, filled by UcapmInfo(): four words read from the camera once
 * at UcapInit(). */
typedef struct UcapInfoRecord {
  uint32_t vendor_word3; /**< The quadlet at byte offset 12 of the camera's vendor registers. */
  uint32_t
      unique_id_low; /**< Low word of the camera's unique identifier (configuration ROM 0xF0000410). */
  uint32_t one;      /**< Always 1. */
  uint32_t eeprom_word36; /**< EEPROM bytes 144..147, big-endian (ReadEprom(144, 4)). */
} UcapInfoRecord;

/** \brief Rectangle in pixels: right and bottom exclusive (width = right - left,
 * height = bottom - top). Which pixels it counts in depends on the export. */
typedef struct UcapRect {
  int32_t left, top, right, bottom;
} UcapRect;
/** \var UcapRect::left
 * First column (inclusive). */
/** \var UcapRect::top
 * First row (inclusive). */
/** \var UcapRect::right
 * Column after the last (exclusive). */
/** \var UcapRect::bottom
 * Row after the last (exclusive). */

/**
 * \brief Progress callback of an acquisition or reference calculation, called on the
 * thread that called the export.
 *
 * Single shots and the black reference call it every 50 ms of the exposure with
 * (elapsed ms, total ms, 2): elapsed counts nominal time 0, 50, 100, ... up to total, the
 * exposure in ms (at least 1). The white reference calls it as (0, 4, 1) before its first
 * frame and (i, 4, 2) after frame i (0..3). A non-zero result asks the operation to stop;
 * it then returns \ref UCAP_ERR_ABORTED (4). The callback must not call the exports of the
 * same camera. Threads: see \ref threads.
 */
typedef int32_t (*UcapProgressCallback)(int32_t elapsed, int32_t total, int32_t phase);
/** \brief UcapProgressCallback with the caller's user value as fourth argument, as given
 * to the Ex exports. */
typedef int32_t (*UcapProgressCallbackEx)(int32_t elapsed, int32_t total, int32_t phase,
                                          intptr_t user);
/** \brief Bus-reset callback (UcapSetBusresetCallback()): called once per 1394 bus reset
 * (a camera plugged in or out) on the library's monitor thread, with the user value given
 * when it was set. Threads: see \ref threads. */
typedef void (*UcapBusResetCallback)(uint64_t user);

/** @} */

/**
 * \defgroup startup Start-up, information, messages
 * \brief Opening and closing the library, camera count and information, error messages,
 * bus resets.
 * @{
 */

/**
 * \brief Finds and opens every attached camera and gives each its start settings.
 *
 * Start settings: resolution 0, 36 bits per pixel, binning 1, image and frame rectangle
 * the whole sensor, exposure 100000 us, shutter enabled, packing on, no hardware trigger,
 * no references, color processing off, white balance 1.37, 1.93, 1.0, saturation 1, 1, 1.
 * Starts the bus-reset monitor thread. A second call while the library is open changes
 * nothing and returns 0. After a failure the library stays closed and UcapInit may be
 * called again. Threads: see \ref threads.
 * \return 0; 3 no camera found, a camera could not be opened, or called from the
 *   bus-reset callback or while UcapClose runs; 7 not enough memory or the driver refused
 *   the frame buffer; 8 a camera's sensor size cannot be served; 20 reading a camera
 *   register failed; 27 writing one failed; 28 a camera's blemish list is not valid.
 */
UCAP_API int32_t UcapInit(void);
/**
 * \brief Closes the library: ends the acquisitions still under way (they answer 3 or 4),
 * gives the driver's buffers and the bus's resources back, closes every camera and stops
 * the bus-reset monitor. Afterwards every camera export answers 3 until UcapInit().
 * Threads: see \ref threads.
 * \return 0; 3 when called from the bus-reset callback or while UcapInit runs (nothing
 *   is closed then).
 */
UCAP_API int32_t UcapClose(void);
/**
 * \brief Camera-0 form of UcapmInfo().
 * \param info Receives the information record.
 * \return 0; 3 no camera; 8 info is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapInfo(UcapInfoRecord *info);
/**
 * \brief Fills the camera's information record (UcapInfoRecord), read at UcapInit().
 * \param index Camera index.
 * \param info Receives the record.
 * \return 0; 3 bad index; 8 info is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmInfo(int32_t index, UcapInfoRecord *info);
/**
 * \brief Number of cameras attached now (searched afresh; needs no UcapInit()).
 * \return The number of attached cameras, 0 when there is none.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetNumberofCameras(void);
/**
 * \brief Whether a camera is attached now (searched afresh; needs no UcapInit()).
 * \return 0 when a camera is attached, else 16 (\ref UCAP_ERR_NOT_ATTACHED).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UCapIsAvailable(void); /* 0 when a camera is attached, else 16 */
/**
 * \brief Switches the library's error messages on (non-zero) or off (0) for the whole
 * process; they start on. The value is stored unchanged. Needs no UcapInit().
 * \param on Non-zero: show messages; 0: suppress them.
 * \return 0.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetErrorMessages(int32_t on);
/**
 * \brief The error-message switch as UcapSetErrorMessages() stored it.
 * \return The switch itself (not a code): 1 at load, else the last value set.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetCurrentErrorMessages(void); /* returns the switch itself */
/**
 * \brief Sets the function called on every 1394 bus reset, and its user value, for the
 * whole process; replaces the previous one. Needs no UcapInit(). The callback runs on the
 * library's monitor thread (see \ref threads): it must not call UcapInit() or
 * UcapClose() (they answer 3).
 * \param callback The function, or null for no calls.
 * \param user Value handed to the callback.
 * \return 0.
 */
UCAP_API int32_t UcapSetBusresetCallback(UcapBusResetCallback callback, uint64_t user);
/**
 * \brief Big-endian number from `count` bytes of camera 0's EEPROM image (2048 bytes,
 * read at UcapInit()) at byte `offset`. Bytes beyond the image are not read; of more than
 * four bytes only the last four survive.
 * \param offset First byte, 0..2047.
 * \param count Number of bytes.
 * \return The number; 0 for a count below 1 or when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API uint32_t ReadEprom(uint16_t offset, int16_t count);

/** @} */

/**
 * \defgroup firmware Firmware download
 * \brief Loading new firmware into a camera.
 * @{
 */

/**
 * \brief Camera-0 form of UcapmWriteFirmware().
 * \param text The firmware text.
 * \param length Its length in bytes.
 * \return As UcapmWriteFirmware(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapWriteFirmware(const char *text, int32_t length);
/**
 * \brief Loads firmware given as text into the camera and starts it.
 *
 * The text holds `length` bytes (no terminating zero needed) of lines ended by CR LF, one
 * firmware byte per line: the last eight characters before the CR, most significant
 * first, '1' a one bit and any other character a zero bit; a space starts a comment that
 * runs to the CR. A last line without CR LF counts like the others. A text without bytes
 * writes nothing and starts the firmware the camera holds. Blocks for the download and
 * about 2.5 s after it. Counts as an acquisition of the camera: see \ref threads.
 * \param index Camera index.
 * \param text The firmware text (may be null only with length 0).
 * \param length Bytes of text.
 * \return 0; 3 bad index; 7 not enough memory; 8 malformed text (a CR not followed by LF,
 *   a negative length) or an image beyond 16 MiB, nothing sent; 10 an acquisition runs;
 *   27 writing to the camera failed (the firmware is then not started).
 */
UCAP_API int32_t UcapmWriteFirmware(int32_t index, const char *text, int32_t length);

/** @} */

/**
 * \defgroup geometry Resolution, pixel depth, binning, image size
 * \brief What the next acquisition captures.
 *
 * The four resolutions and the pixel depths and binnings each allows:
 * | Resolution | Width x height (UcapmGetResolutionValues()) | Bits per pixel | Binning |
 * |---|---|---|---|
 * | 0 | camera mode 0 output size | 36 | 1 |
 * | 1 | camera mode 0 output size halved | 36 or 12 | 36: 1, 3, 5; 12: 1, 2, 4 |
 * | 2 | camera mode 2 output size (the sensor) | 36 | 1 to 5 |
 * | 3 | camera mode 2 output size (the sensor) | 12 | 1 |
 *
 * The settings take effect at the next acquisition; the setters answer 10 while an
 * acquisition runs (see \ref threads). Image layouts: \ref image_layouts.
 * @{
 */

/** \brief Number of resolutions (camera-0 form; needs no camera). \return 4.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetNumberOfResolutions(void);
/** \brief Number of resolutions. \param index Ignored. \return 4.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetNumberOfResolutions(int32_t index);
/**
 * \brief Camera-0 form of UcapmGetResolutionValues().
 * \param resolution 0..3. \param width Receives the width. \param height Receives the
 * height. \param third Receives the third value.
 * \return As UcapmGetResolutionValues(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetResolutionValues(int32_t resolution, int32_t *width, int32_t *height,
                                         int32_t *third);
/**
 * \brief Size of the whole field at a resolution, in that resolution's pixels (at
 * binning 1).
 * \param index Camera index.
 * \param resolution 0..3.
 * \param width Receives the width in pixels.
 * \param height Receives the height in pixels.
 * \param third Receives the resolution itself.
 * \return 0; 3 bad index; 8 a pointer is null or the resolution is not 0..3.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetResolutionValues(int32_t index, int32_t resolution, int32_t *width,
                                          int32_t *height, int32_t *third);
/** \brief Camera-0 form of UcapmSetResolution(). \param resolution 0..3.
 * \return As UcapmSetResolution(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetResolution(int32_t resolution);
/**
 * \brief Chooses the resolution (table above). Stores it only: pixel depth, binning and
 * the rectangles keep their values (check them with UcapmHasBitsPerPixel() and
 * UcapmHasBinning(); set the region anew with UcapmSetImageSize()).
 * \param index Camera index.
 * \param resolution 0..3.
 * \return 0; 3 bad index; 8 not 0..3; 10 an acquisition runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetResolution(int32_t index, int32_t resolution);
/** \brief Camera-0 form of UcapmGetCurrentResolution().
 * \return The resolution itself (0 when there is no camera).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetCurrentResolution(void); /* value */
/** \brief The current resolution. \param index Camera index.
 * \return The resolution itself, 0..3 (0 for a bad index).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetCurrentResolution(int32_t index); /* value */
/** \brief Camera-0 form of UcapmHasBitsPerPixel(). \param bits 12 or 36.
 * \return 1 when allowed, else 0 (also when there is no camera).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapHasBitsPerPixel(int32_t bits); /* value 0/1 */
/**
 * \brief Whether a pixel depth is allowed at the current resolution (table above).
 * \param index Camera index.
 * \param bits Bits per pixel to test.
 * \param result Receives 1 when allowed, else 0.
 * \return 0; 3 bad index; 8 result is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmHasBitsPerPixel(int32_t index, int32_t bits, int32_t *result);
/** \brief Camera-0 form of UcapmSetBitsPerPixel(). \param bits 12 or 36.
 * \return As UcapmSetBitsPerPixel(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetBitsPerPixel(int32_t bits);
/**
 * \brief Chooses the pixel depth: 36 (color, three words per pixel) or 12 (grey, one
 * word per pixel). Not checked against the resolution (UcapmHasBitsPerPixel() answers
 * that). At resolution 1 the binning follows: to 12 bits 3 becomes 2 and 5 becomes 4, to
 * 36 bits 2 becomes 3 and 4 becomes 5.
 * \param index Camera index.
 * \param bits 12 or 36.
 * \return 0; 3 bad index; 8 another value; 10 an acquisition runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetBitsPerPixel(int32_t index, int32_t bits);
/** \brief Camera-0 form of UcapmGetCurrentBitsPerPixel().
 * \return 12 or 36 (0 when there is no camera).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetCurrentBitsPerPixel(void); /* value */
/** \brief The current pixel depth. \param index Camera index.
 * \return 12 or 36 itself (0 for a bad index).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetCurrentBitsPerPixel(int32_t index); /* value */
/** \brief Camera-0 form of UcapmHasBinning(). \param factor Binning factor to test.
 * \return 1 when allowed, else 0 (also when there is no camera).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapHasBinning(int32_t factor); /* value 0/1 */
/**
 * \brief Whether a binning factor is allowed at the current resolution and pixel depth
 * (table above).
 * \param index Camera index.
 * \param factor Binning factor to test.
 * \param result Receives 1 when allowed, else 0.
 * \return 0; 3 bad index; 8 result is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmHasBinning(int32_t index, int32_t factor, int32_t *result);
/** \brief Camera-0 form of UcapmSetBinning(). \param factor Binning factor.
 * \return As UcapmSetBinning(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetBinning(int32_t factor);
/**
 * \brief Chooses the binning factor: the camera sums b x b sensor pixels (table above).
 * The image rectangle is then aligned anew to the factor, as UcapmSetFrameSize() with the
 * current image rectangle would.
 * \param index Camera index.
 * \param factor Binning factor, 1..5 as the table allows.
 * \return 0; 3 bad index; 8 not allowed at the current resolution and pixel depth;
 *   10 an acquisition runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetBinning(int32_t index, int32_t factor);
/** \brief Camera-0 form of UcapmGetCurrentBinning().
 * \return The binning factor itself (0 when there is no camera).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetCurrentBinning(void); /* value */
/** \brief The current binning factor. \param index Camera index.
 * \param factor Receives the factor, 1..5. \return 0; 3 bad index; 8 factor is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetCurrentBinning(int32_t index, int32_t *factor);

/** \brief Camera-0 form of UcapmSetImageSize().
 * \param rect Region in current-resolution pixels, or null for the whole field.
 * \return As UcapmSetImageSize(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetImageSize(const UcapRect *rect); /* NULL: whole size */
/**
 * \brief Chooses the region the next acquisition captures, in the pixels of the current
 * resolution and binning: sensor pixels at resolution 0, blocks of 2b x 2b sensor pixels
 * at resolution 1, of b x b at resolutions 2 and 3. The region is stored in sensor pixels,
 * aligned down to what the camera accepts (multiples of 4 at resolution 0, of 2b at 2
 * and 3); the frame rectangle becomes the same. The camera needs at least 16b x 16b
 * sensor pixels; a smaller region fails at the acquisition with 8.
 * \param index Camera index.
 * \param rect The region (right and bottom exclusive), or null for the whole field.
 * \return 0; 3 bad index; 8 right or bottom beyond the whole field; 10 an acquisition
 *   runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetImageSize(int32_t index, const UcapRect *rect);
/** \brief Camera-0 form of UcapmGetCurrentImageSize(). \param rect Receives the region.
 * \return As UcapmGetCurrentImageSize(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetCurrentImageSize(UcapRect *rect);
/**
 * \brief The region the next acquisition captures, in the pixels of the current
 * resolution and binning (as UcapmSetImageSize() takes it, after alignment).
 * \param index Camera index.
 * \param rect Receives the region.
 * \return 0; 3 bad index; 8 rect is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetCurrentImageSize(int32_t index, UcapRect *rect);
/** \brief Camera-0 form of UcapmSetFrameSize().
 * \param rect Region in sensor pixels, or null for the whole field.
 * \return As UcapmSetFrameSize(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetFrameSize(const UcapRect *rect); /* NULL: whole sensor */
/**
 * \brief Chooses the region the next acquisition captures, in sensor pixels whatever the
 * resolution. The rectangle is stored unchanged as the frame rectangle, and aligned down
 * to multiples of 4b as the image rectangle. Not checked against the sensor: a region
 * the camera cannot take fails at the acquisition with 8.
 * \param index Camera index.
 * \param rect The region (right and bottom exclusive), or null for the whole field.
 * \return 0; 3 bad index; 10 an acquisition runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetFrameSize(int32_t index, const UcapRect *rect);
/** \brief Camera-0 form of UcapmGetCurrentFrameSize(). \param rect Receives the frame.
 * \return As UcapmGetCurrentFrameSize(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetCurrentFrameSize(UcapRect *rect);
/**
 * \brief The frame rectangle in sensor pixels: as UcapmSetFrameSize() received it, or
 * the aligned region UcapmSetImageSize() stored.
 * \param index Camera index.
 * \param rect Receives the frame.
 * \return 0; 3 bad index; 8 rect is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetCurrentFrameSize(int32_t index, UcapRect *rect);
/** \brief Camera-0 form of UcapmGetCurrentDataSize(). \param width Receives the width.
 * \param height Receives the height.
 * \return As UcapmGetCurrentDataSize(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetCurrentDataSize(int32_t *width, int32_t *height);
/**
 * \brief Size in pixels of the image the next acquisition delivers (width and height of
 * UcapmGetCurrentImageSize()). The buffer must hold width x height x 2 bytes at 12 bits
 * per pixel, x 6 at 36: \ref image_layouts.
 * \param index Camera index.
 * \param width Receives the width in pixels.
 * \param height Receives the height in pixels.
 * \return 0; 3 bad index; 8 a pointer is null or the size does not fit 32 bits.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetCurrentDataSize(int32_t index, int32_t *width, int32_t *height);
/** \brief Whether the image size can be set (needs no camera). \return 1.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapHasImageSize(void); /* value 1 */
/** \brief Whether the image size can be set. \param index Ignored.
 * \param result Receives 1. \return 0; 8 result is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmHasImageSize(int32_t index, int32_t *result);

/** @} */

/**
 * \defgroup exposure Exposure, shutter, trigger, packing, blemishes
 * \brief How long and when the sensor is exposed, and how its data travels.
 *
 * Exposure, trigger and packing take effect at the next acquisition; the shutter settings
 * are written to the camera at once. Threads: see \ref threads.
 * @{
 */

/** \brief Camera-0 form of UcapmGetExposureRange(). \param min_us Receives 250.
 * \param max_us Receives 60000000. \param step_us Receives 250.
 * \return As UcapmGetExposureRange().
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetExposureRange(int32_t *min_us, int32_t *max_us, int32_t *step_us);
/**
 * \brief The exposure range: 250 us to 60 s in steps of 250 us (the camera's tick).
 * Needs no camera.
 * \param index Ignored.
 * \param min_us Receives 250 (microseconds).
 * \param max_us Receives 60000000.
 * \param step_us Receives 250.
 * \return 0; 8 a pointer is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetExposureRange(int32_t index, int32_t *min_us, int32_t *max_us,
                                       int32_t *step_us);
/** \brief Camera-0 form of UcapmSetExposure(). \param microseconds 250..60000000.
 * \return As UcapmSetExposure(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetExposure(int32_t microseconds);
/**
 * \brief Sets the exposure time. Stored unchanged; the camera exposes whole ticks of
 * 250 us (the value divided by 250, rounded down).
 * \param index Camera index.
 * \param microseconds 250..60000000.
 * \return 0; 3 bad index; 8 out of range; 10 an acquisition runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetExposure(int32_t index, int32_t microseconds);
/** \brief Camera-0 form of UcapmGetCurrentExposure().
 * \return The exposure in microseconds itself (0 when there is no camera).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetCurrentExposure(void); /* value */
/** \brief The exposure time. \param index Camera index.
 * \param microseconds Receives it in microseconds. \return 0; 3 bad index; 8 null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetCurrentExposure(int32_t index, int32_t *microseconds);
/** \brief Camera-0 form of UcapmShutterControl(). \param enable Non-zero: drive the
 * shutter. \param level 0 or non-zero: which output level.
 * \return As UcapmShutterControl(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapShutterControl(int32_t enable, int32_t level);
/**
 * \brief Whether the camera drives an external shutter during the exposure, and on which
 * level; written to the camera at once (with the delays of UcapmSetShutterDelay()).
 * Starts enabled, level 0.
 * \param index Camera index.
 * \param enable Non-zero: the shutter output is driven.
 * \param level Which of the camera's two shutter output levels: 0 (the start value) or
 *   non-zero.
 * \return 0; 3 bad index; 10 an acquisition runs; 27 the camera could not be written (the
 *   values stay stored).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmShutterControl(int32_t index, int32_t enable, int32_t level);
/** \brief Camera-0 form of UcapmSetShutterDelay(). \param open_us Open delay in
 * microseconds. \param close_us Close delay in microseconds.
 * \return As UcapmSetShutterDelay(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetShutterDelay(int32_t open_us, int32_t close_us);
/**
 * \brief The shutter's open and close delays, in microseconds (the camera takes whole
 * ticks of 250 us, rounded toward zero); written to the camera at once. Start at 0.
 * \param index Camera index.
 * \param open_us Open delay, -1023999..1023999 us (signed).
 * \param close_us Close delay, -1023999..1023999 us (signed).
 * \return 0; 3 bad index; 8 a delay beyond 4095 ticks (nothing stored); 10 an
 *   acquisition runs; 27 the camera could not be written (the values stay stored).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetShutterDelay(int32_t index, int32_t open_us, int32_t close_us);
/** \brief Camera-0 form of UcapmGetCurrentShutterDelay(). \param open_us Receives the
 * open delay. \param close_us Receives the close delay.
 * \return As UcapmGetCurrentShutterDelay(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetCurrentShutterDelay(int32_t *open_us, int32_t *close_us);
/** \brief The shutter delays as stored. \param index Camera index.
 * \param open_us Receives the open delay in microseconds. \param close_us Receives the
 * close delay in microseconds. \return 0; 3 bad index; 8 a pointer is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetCurrentShutterDelay(int32_t index, int32_t *open_us, int32_t *close_us);
/** \brief Camera-0 form of UcapmEnableHardwareTrigger(). \param on Non-zero: wait for
 * the trigger. \return 0; 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapEnableHardwareTrigger(int32_t on);
/**
 * \brief Whether each frame waits for a pulse on the camera's trigger input (no time
 * limit; a progress callback or UcapmAbortFastAcquisition() cancels the wait). Stored
 * unchanged and taken from the next acquisition on, also while one runs.
 * \param index Camera index.
 * \param on Non-zero: wait for the trigger.
 * \return 0; 3 bad index.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmEnableHardwareTrigger(int32_t index, int32_t on);
/** \brief Camera-0 form of UcapmSetHardwareTriggerPolarity(). \param polarity 0 or
 * non-zero. \return 0; 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetHardwareTriggerPolarity(int32_t polarity);
/**
 * \brief Which edge of the trigger input starts a frame. Stored unchanged and taken
 * from the next acquisition on, also while one runs.
 * \param index Camera index.
 * \param polarity 0 or non-zero: the two edges the camera can wait for (its trigger
 *   kinds 2 and 3).
 * \return 0; 3 bad index.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetHardwareTriggerPolarity(int32_t index, int32_t polarity);
/** \brief Camera-0 form of UcapmIsHardwareTriggerEnabled(). \param on Receives the
 * switch. \return As UcapmIsHardwareTriggerEnabled(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapIsHardwareTriggerEnabled(int32_t *on);
/** \brief The hardware trigger switch as stored. \param index Camera index.
 * \param on Receives the switch. \return 0; 3 bad index; 8 on is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmIsHardwareTriggerEnabled(int32_t index, int32_t *on);
/**
 * \brief Whether the camera may send its samples packed (three bytes per two 12-bit
 * samples) when its mode supports it; images are the same either way. Starts on.
 * \param index Camera index.
 * \param on Non-zero: pack.
 * \return 0; 3 bad index; 8 switching on when camera mode 0 cannot pack; 10 an
 *   acquisition runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmEnablePacking(int32_t index, int32_t on);
/**
 * \brief Camera-0 form of Ucapm_corrblems().
 * \param on Non-zero: correct defective pixels.
 * \return Camera 0's blemish-list-valid flag (0 when there is no camera).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t Ucap_corrblems(int32_t on);
/**
 * \brief Switches the correction of defective pixels (the camera's blemish list) on or
 * off for every camera of the process; starts on. Stored unchanged, taken from the next
 * frame on.
 * \param index Camera whose list to report.
 * \param on Non-zero: correct the pixels of the blemish list.
 * \return Not a code: 1 when the camera's blemish list was read from its EEPROM (so the
 *   correction works for it), else 0 (also for a bad index).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t Ucapm_corrblems(int32_t index, int32_t on);

/** @} */

/**
 * \defgroup color Color processing, white balance, saturation
 * \brief The color correction of 36-bit images.
 *
 * White balance: per-color gains applied to the raw samples around the black level 32;
 * the color with the greatest value gets gain 1, the others value ratios above 1.
 * Saturation: per output color, the color matrix row mixed between the identity (0) and
 * the camera's color matrix (1). The color matrix is applied only while color processing
 * is on. Threads: see \ref threads.
 * @{
 */

/** \brief Camera-0 form of UcapmEnableColorProcessing(); returns nothing.
 * \param on Non-zero: apply the color matrix.
 * \remark Threads: see \ref threads.
 */
UCAP_API void UcapEnableColorProcessing(int32_t on);
/**
 * \brief Whether the color matrix (saturation) is applied to 36-bit images. Starts off.
 * Stored unchanged, taken from the next frame on.
 * \param index Camera index.
 * \param on Non-zero: apply the color matrix.
 * \return 0; 3 bad index.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmEnableColorProcessing(int32_t index, int32_t on);
/** \brief Camera-0 form of UcapmIsColorProcessingEnabled().
 * \return The switch itself (0 when there is no camera).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapIsColorProcessingEnabled(void); /* value */
/** \brief The color-processing switch as stored. \param index Camera index.
 * \param on Receives the switch. \return 0; 3 bad index; 8 on is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmIsColorProcessingEnabled(int32_t index, int32_t *on);
/** \brief Camera-0 form of UcapmSetWhiteBalance(). \param red Red value.
 * \param green Green value. \param blue Blue value.
 * \return As UcapmSetWhiteBalance(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetWhiteBalance(double red, double green, double blue);
/**
 * \brief Sets the white balance: the relative response of the red, green and blue sites
 * to white light (start 1.37, 1.93, 1.0). Colors are scaled by the greatest value
 * divided by their own. The values are used rounded to single precision and stored as
 * given.
 * \param index Camera index.
 * \param red Response of red, non-zero.
 * \param green Response of green, non-zero.
 * \param blue Response of blue, non-zero.
 * \return 0; 3 bad index; 5 a value is zero or the gains are not finite numbers
 *   (nothing changes); 10 an acquisition runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetWhiteBalance(int32_t index, double red, double green, double blue);
/** \brief Camera-0 form of UcapmSetImageWhiteBalance(). \param red Measured red.
 * \param green Measured green. \param blue Measured blue.
 * \return As UcapmSetImageWhiteBalance(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetImageWhiteBalance(double red, double green, double blue);
/**
 * \brief Corrects the white balance from the mean color measured on an image area that
 * should be neutral (any common scale): the next images show that area grey. With color
 * processing on the measurement is first mapped back through the color matrix.
 * \param index Camera index.
 * \param red Measured red, greater than 0.
 * \param green Measured green, greater than 0.
 * \param blue Measured blue, greater than 0.
 * \return 0; 3 bad index; 5 a value not greater than 0, or the color matrix cannot be
 *   inverted (nothing changes); 10 an acquisition runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetImageWhiteBalance(int32_t index, double red, double green, double blue);
/** \brief Camera-0 form of UcapmSetColorSaturation(). \param red Red saturation.
 * \param green Green saturation. \param blue Blue saturation.
 * \return As UcapmSetColorSaturation(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetColorSaturation(double red, double green, double blue);
/**
 * \brief Sets the color saturation of each output color (start 1, 1, 1): 0 leaves the
 * color as measured, 1 applies the camera's color matrix, above 1 separates the colors
 * more. Takes effect while color processing is on (UcapmEnableColorProcessing()).
 * \param index Camera index.
 * \param red Saturation of red.
 * \param green Saturation of green.
 * \param blue Saturation of blue.
 * \return 0; 3 bad index; 5 the current white balance cannot be rebuilt; 8 a value so
 *   large (or not a number) that the matrix has no finite coefficients (nothing changes);
 *   10 an acquisition runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetColorSaturation(int32_t index, double red, double green, double blue);
/** \brief Camera-0 form of UcapmGetCurrentWhiteBalance(). \param red Receives red.
 * \param green Receives green. \param blue Receives blue.
 * \return As UcapmGetCurrentWhiteBalance(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetCurrentWhiteBalance(double *red, double *green, double *blue);
/** \brief The white balance as stored by UcapmSetWhiteBalance() or
 * UcapmSetImageWhiteBalance(). \param index Camera index. \param red Receives red.
 * \param green Receives green. \param blue Receives blue.
 * \return 0; 3 bad index; 8 a pointer is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetCurrentWhiteBalance(int32_t index, double *red, double *green,
                                             double *blue);
/** \brief Camera-0 form of Ucapm_setwhite(). \param rgb Red, green, blue.
 * \return As Ucapm_setwhite(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t Ucap_setwhite(const double *rgb);
/**
 * \brief Rebuilds the color tables from three white-balance values without storing them
 * as the white balance (UcapmGetCurrentWhiteBalance() still reports the old ones).
 * \param index Camera index.
 * \param rgb Three doubles: red, green, blue.
 * \return 0; 3 bad index; 5 a value is zero or the gains are not finite (nothing
 *   changes); 8 rgb is null; 10 an acquisition runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t Ucapm_setwhite(int32_t index, const double *rgb);

/** @} */

/**
 * \defgroup references Black and white references
 * \brief Calculating, saving, restoring and switching the calibration references.
 *
 * The black reference removes each pixel's offset and dark signal (scaled to the
 * exposure); the white reference divides by each pixel's gain (flat field). Both have
 * the full sensor's geometry, W x H pixels (the sensor size, UcapmGetResolutionValues()
 * at resolution 2), whatever the current settings, and both are absent after UcapInit():
 * calculate them, or restore them from what the application kept. A switch can be turned
 * on only while its reference is present. Threads: see \ref threads.
 * @{
 */

/** \brief Camera-0 form of UcapmSaveBlackRef(). \param buffer Receives the store.
 * \param size Bytes of buffer, (H + 2) x W x 2.
 * \return As UcapmSaveBlackRef(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSaveBlackRef(void *buffer, int32_t size);
/**
 * \brief Copies the black reference store out, for the application to keep (restore it
 * with UcapmRestoreBlackRef()). The store is (H + 2) x W 16-bit words: H rows of each
 * pixel's dark signal, then a row of column offsets and a row of row offsets.
 * \param index Camera index.
 * \param buffer Receives the store.
 * \param size Bytes of buffer: exactly (H + 2) x W x 2.
 * \return 0; 3 bad index; 8 buffer null, size not exactly the store's, or no black
 *   reference (nothing written).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSaveBlackRef(int32_t index, void *buffer, int32_t size);
/** \brief Camera-0 form of UcapmRestoreBlackRef(). \param buffer A saved store.
 * \param size Bytes of buffer. \return As UcapmRestoreBlackRef(); 3 when there is no
 * camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapRestoreBlackRef(const void *buffer, int32_t size);
/**
 * \brief Installs a black reference store saved by UcapmSaveBlackRef() (the contents are
 * not checked) and marks the reference present; the switch stays as it was.
 * \param index Camera index.
 * \param buffer The store, (H + 2) x W words.
 * \param size Bytes of buffer: exactly (H + 2) x W x 2.
 * \return 0; 3 bad index; 8 buffer null or wrong size (nothing changes).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmRestoreBlackRef(int32_t index, const void *buffer, int32_t size);
/** \brief Camera-0 form of UcapmSetBlackRef(). \param on Non-zero: apply.
 * \return As UcapmSetBlackRef(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetBlackRef(int32_t on);
/**
 * \brief Switches the black reference correction of the next acquisitions on or off.
 * \param index Camera index.
 * \param on Non-zero: apply (stored as 1).
 * \return 0; 3 bad index; 8 switching on with no black reference; 10 an acquisition
 *   runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetBlackRef(int32_t index, int32_t on);
/** \brief Camera-0 form of UcapmGetCurrentBlackRef().
 * \return The switch itself, 0 or 1 (0 when there is no camera).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetCurrentBlackRef(void); /* value */
/** \brief The black reference switch. \param index Camera index.
 * \param on Receives 0 or 1. \return 0; 3 bad index; 8 on is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetCurrentBlackRef(int32_t index, int32_t *on);
/** \brief Camera-0 form of UcapmHasBlackRef().
 * \return 1 when a black reference is present, else 0 (also when there is no camera).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapHasBlackRef(void); /* value */
/** \brief Whether a black reference is present (calculated or restored).
 * \param index Camera index. \param present Receives 0 or 1.
 * \return 0; 3 bad index; 8 present is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmHasBlackRef(int32_t index, int32_t *present);
/** \brief Camera-0 form of UcapmSetWhiteRef(). \param on Non-zero: apply.
 * \return As UcapmSetWhiteRef(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetWhiteRef(int32_t on);
/**
 * \brief Switches the white reference (flat-field) correction of the next acquisitions
 * on or off.
 * \param index Camera index.
 * \param on Non-zero: apply (stored as 1).
 * \return 0; 3 bad index; 8 switching on with no white reference; 10 an acquisition
 *   runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetWhiteRef(int32_t index, int32_t on);
/** \brief Camera-0 form of UcapmGetCurrentWhiteRef().
 * \return The switch itself, 0 or 1 (0 when there is no camera).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetCurrentWhiteRef(void); /* value */
/** \brief The white reference switch. \param index Camera index.
 * \param on Receives 0 or 1. \return 0; 3 bad index; 8 on is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetCurrentWhiteRef(int32_t index, int32_t *on);
/** \brief Camera-0 form of UcapmHasWhiteRef().
 * \return 1 when a white reference is present, else 0 (also when there is no camera).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapHasWhiteRef(void); /* value */
/** \brief Whether a white reference is present (calculated or loaded).
 * \param index Camera index. \param present Receives 0 or 1.
 * \return 0; 3 bad index; 8 present is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmHasWhiteRef(int32_t index, int32_t *present);
/** \brief Camera-0 form of UcapmSetWhiteTable(). \param table W x H gains.
 * \return As UcapmSetWhiteTable(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapSetWhiteTable(const uint16_t *table); /* sensor width x height words */
/**
 * \brief Loads the white table: one gain per sensor pixel, 4096 = 1.0, W x H words in
 * rows of W; the values are taken unchanged. Marks the white reference present; the
 * switch stays as it was.
 * \param index Camera index.
 * \param table W x H words (there is no size argument: it must hold them all).
 * \return 0; 3 bad index; 8 table is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmSetWhiteTable(int32_t index, const uint16_t *table);
/** \brief Camera-0 form of UcapmGetWhiteTable(). \param table Receives W x H gains.
 * \return As UcapmGetWhiteTable(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapGetWhiteTable(uint16_t *table);
/**
 * \brief Copies the white table out (layout as UcapmSetWhiteTable()).
 * \param index Camera index.
 * \param table Receives W x H words.
 * \return 0; 3 bad index; 8 table is null or there is no white reference.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmGetWhiteTable(int32_t index, uint16_t *table);

/** @} */

/**
 * \defgroup acquisition Image acquisition
 * \brief Single shots and fast (continuous) acquisition.
 *
 * Images are laid out as \ref image_layouts says: 16-bit words holding 12-bit values,
 * one grey word or three words blue, green, red per pixel, rows without gaps. Threads:
 * see \ref threads.
 * @{
 */

/** \brief Camera-0 form of UcapmAcquisition(). \param image Receives the image.
 * \param size Bytes of image. \param callback Progress callback, or null.
 * \return As UcapmAcquisition(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapAcquisition(uint16_t *image, int32_t size, UcapProgressCallback callback);
/**
 * \brief Takes one image with the current settings into the caller's buffer; blocks for
 * the exposure, the transfer and the processing.
 *
 * The progress callback is called on the calling thread every 50 ms of the exposure as
 * (elapsed ms, total ms, 2); a non-zero result aborts the shot (result 4; exposures above
 * 2 s and triggered shots are cancelled at once, shorter ones when the frame has
 * arrived). A null callback reports no progress. Counts as an acquisition of the camera:
 * see \ref threads.
 * \param index Camera index.
 * \param image Receives the image (\ref image_layouts); not written on failure.
 * \param size Bytes of image; at least the current data size (UcapmGetCurrentDataSize())
 *   x 2 (12 bits) or x 6 (36 bits).
 * \param callback Progress callback, or null.
 * \return 0; 3 bad index, or UcapClose() ended the shot; 4 aborted by the callback;
 *   6 image null or too small; 7 not enough memory; 8 the region or settings cannot be
 *   taken by the camera; 10 another acquisition of the camera runs; 11 the worker
 *   thread could not be created; 20 to 26 or 1031 to 1042 the capture set-up, the frame
 *   transfer or the clean-up failed (\ref errors).
 */
UCAP_API int32_t UcapmAcquisition(int32_t index, uint16_t *image, int32_t size,
                                  UcapProgressCallback callback);
/** \brief Camera-0 form of UcapmAcquisitionEx(). \param image Receives the image.
 * \param size Bytes of image. \param callback Progress callback, or null.
 * \param user Value handed to the callback.
 * \return As UcapmAcquisition(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapAcquisitionEx(uint16_t *image, int32_t size, UcapProgressCallbackEx callback,
                                   intptr_t user);
/** \brief UcapmAcquisition() with a callback that receives a user value.
 * \param index Camera index. \param image Receives the image. \param size Bytes of image.
 * \param callback Progress callback, or null. \param user Value handed to the callback.
 * \return As UcapmAcquisition().
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmAcquisitionEx(int32_t index, uint16_t *image, int32_t size,
                                    UcapProgressCallbackEx callback, intptr_t user);

/** \brief Camera-0 form of UcapmStartFastAcquisition().
 * \return As UcapmStartFastAcquisition(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapStartFastAcquisition(void);
/**
 * \brief Starts a stream of frames with the current settings: the camera delivers frames
 * one after another while the application collects them with
 * UcapmIsFastAcquisitionReady(), until a last frame is asked for or
 * UcapmAbortFastAcquisition(). The settings cannot change while it runs (they answer 10).
 * Threads: see \ref threads.
 * \param index Camera index.
 * \return 0; 1 the worker thread could not be created; 3 bad index; 4 an abort is still
 *   under way; 8 the region or settings cannot be taken by the camera; 10 a stream or
 *   another acquisition of the camera runs; 20 to 23, 25 or 1031 to 1042 the capture
 *   set-up failed (\ref errors).
 */
UCAP_API int32_t UcapmStartFastAcquisition(int32_t index);
/** \brief Camera-0 form of UcapmIsFastAcquisitionReady(). \param image Receives the
 * frame. \param size Bytes of image. \param go_on 0: this is the last frame.
 * \return As UcapmIsFastAcquisitionReady(); -3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapIsFastAcquisitionReady(uint16_t *image, int32_t size, int32_t go_on);
/**
 * \brief Collects the next frame of a stream, if it has arrived: processes it into the
 * caller's buffer and, with go_on non-zero, lets the camera deliver the following one
 * meanwhile. Poll it (0: call again later). With go_on 0 the frame delivered is the last
 * and the stream stops.
 * \param index Camera index.
 * \param image Receives the frame (\ref image_layouts).
 * \param size Bytes of image; at least the current data size x 2 (12 bits) or x 6 (36).
 * \param go_on Non-zero: go on after this frame; 0: this is the last.
 * \return Not a plain code: 1 a frame was delivered into image; 0 no frame yet (or an
 *   abort is under way); negated codes: -3 bad index, or UcapClose() ended the stream;
 *   -6 image null or too small (the stream stops); -7 not enough memory; -11 no stream
 *   runs, or the next worker could not be created; -21, -24 (or -3: the camera is gone)
 *   the frame did not arrive (the stream stops).
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmIsFastAcquisitionReady(int32_t index, uint16_t *image, int32_t size,
                                             int32_t go_on);
/** \brief Camera-0 form of UcapmAbortFastAcquisition().
 * \return As UcapmAbortFastAcquisition(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapAbortFastAcquisition(void);
/**
 * \brief Stops a stream at once: waits for a frame being collected on another thread,
 * cancels the pending frame (exposures above 0.5 s or a hardware trigger) or lets it
 * arrive, and cleans the transfer up. The pending frame is not delivered.
 * \param index Camera index.
 * \return 0; 3 bad index; 4 an abort is already under way, or the device could not be
 *   opened to cancel the frame; 11 no stream runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmAbortFastAcquisition(int32_t index);

/** \brief Camera-0 form of UcapmCalculateBlackRef(). \param callback Progress callback,
 * or null. \return As UcapmCalculateBlackRef(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapCalculateBlackRef(UcapProgressCallback callback);
/**
 * \brief Measures the black reference: keep the sensor dark. Takes two full-sensor
 * exposures (250 us and about 16.4 s), the callback called during them as during a
 * single shot; blocks for about 17 s. On success the reference is present (the switch
 * stays as it was); a failure leaves the previous one. The capture settings are put back
 * afterwards. Counts as an acquisition of the camera: see \ref threads.
 * \param index Camera index.
 * \param callback Progress callback, or null.
 * \return 0; 3 bad index; 4 aborted by the callback, or a frame could not be taken;
 *   7 not enough memory; 10 an acquisition of the camera runs; 12 too bright: the sensor
 *   was not dark.
 */
UCAP_API int32_t UcapmCalculateBlackRef(int32_t index, UcapProgressCallback callback);
/** \brief Camera-0 form of UcapmCalculateBlackRefEx(). \param callback Progress
 * callback, or null. \param user Value handed to the callback.
 * \return As UcapmCalculateBlackRef(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapCalculateBlackRefEx(UcapProgressCallbackEx callback, intptr_t user);
/** \brief UcapmCalculateBlackRef() with a callback that receives a user value.
 * \param index Camera index. \param callback Progress callback, or null.
 * \param user Value handed to the callback. \return As UcapmCalculateBlackRef().
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmCalculateBlackRefEx(int32_t index, UcapProgressCallbackEx callback,
                                          intptr_t user);
/**
 * \brief Installs a black reference from the calculation's work buffer and marks it
 * present; the library's own calculation uses it. Applications restore saved references
 * with UcapmRestoreBlackRef() instead.
 * \param record A camera record of the library (no export hands one out).
 * \param buffer (H + 2) x W words: the long dark frame (H rows), the column means (one
 *   row), the row means (the first H words of the last row).
 * \return 0; 3 record is not a camera record of the library; 8 buffer is null;
 *   10 an acquisition of the camera runs.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t Ucapm_setBlackRef(void *record, const uint16_t *buffer);
/** \brief Camera-0 form of UcapmCalculateWhiteRef(). \param callback Progress callback,
 * or null. \return As UcapmCalculateWhiteRef(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapCalculateWhiteRef(UcapProgressCallback callback);
/**
 * \brief Measures the white reference (flat field): point the camera at an evenly lit
 * empty field at the exposure in use. Takes four full-sensor frames, the callback called
 * as (0, 4, 1) first and (i, 4, 2) after frame i. On success the white table holds one
 * gain per pixel and the reference is present (the switch stays as it was); a failure
 * leaves the previous table. Counts as an acquisition of the camera: see \ref threads.
 * \param index Camera index.
 * \param callback Progress callback, or null.
 * \return 0; 3 bad index; 4 aborted by the callback, or a frame could not be taken;
 *   7 not enough memory; 10 an acquisition of the camera runs; 13 too bright (a color's
 *   bright level above 3995: shorten the exposure); 14 too dark (every color's bright
 *   level below 1023: lengthen it).
 */
UCAP_API int32_t UcapmCalculateWhiteRef(int32_t index, UcapProgressCallback callback);
/** \brief Camera-0 form of UcapmCalculateWhiteRefEx(). \param callback Progress
 * callback, or null. \param user Value handed to the callback.
 * \return As UcapmCalculateWhiteRef(); 3 when there is no camera.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapCalculateWhiteRefEx(UcapProgressCallbackEx callback, intptr_t user);
/** \brief UcapmCalculateWhiteRef() with a callback that receives a user value.
 * \param index Camera index. \param callback Progress callback, or null.
 * \param user Value handed to the callback. \return As UcapmCalculateWhiteRef().
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmCalculateWhiteRefEx(int32_t index, UcapProgressCallbackEx callback,
                                          intptr_t user);

/** \brief Whether the frame can be set (camera-0 form).
 * \return 1 when there is a camera, else 0.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapHasFrame(void); /* value */
/** \brief Whether the frame can be set. \param index Camera index.
 * \param result Receives 1. \return 0; 3 bad index; 8 result is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmHasFrame(int32_t index, int32_t *result);
/** \brief Whether fast acquisition is offered (camera-0 form).
 * \return 1 when there is a camera, else 0.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapHasFastAcquisition(void); /* value */
/** \brief Whether fast acquisition is offered. \param index Camera index.
 * \param result Receives 1. \return 0; 3 bad index; 8 result is null.
 * \remark Threads: see \ref threads.
 */
UCAP_API int32_t UcapmHasFastAcquisition(int32_t index, int32_t *result);

/** @} */

/**
 * \defgroup compat Kept for compatibility
 * \brief Exports that do nothing and ignore their arguments (the Ucapm ones their index
 * too); they exist so that applications written for earlier versions link and run.
 * They may be called from any thread at any time, with or without UcapInit().
 * @{
 */

/** \brief Does nothing. \return 0. */
UCAP_API int32_t UcapGetCurrentFadingCorrection(void); /* 0 */
/** \brief Does nothing. \return 0. */
UCAP_API int32_t UcapGetCurrentMultiShotFilter(void); /* 0 */
/** \brief Does nothing. \return 0. */
UCAP_API int32_t UcapHasCalibration(void); /* 0 */
/** \brief Does nothing. \return 0. */
UCAP_API int32_t UcapIsSharpenerEnabled(void); /* 0 */
/** \brief Not supported. \return 15. */
UCAP_API int32_t UcapButtonWasPressed(void); /* 15 */
/** \brief Not supported. \param callback Ignored. \return 15. */
UCAP_API int32_t UcapCalibrate(UcapProgressCallback callback); /* 15 */
/** \brief Not supported. \param callback Ignored. \param user Ignored. \return 15. */
UCAP_API int32_t UcapCalibrateEx(UcapProgressCallbackEx callback, intptr_t user); /* 15 */
/** \brief Not supported. \param value Ignored, not written. \return 15. */
UCAP_API int32_t UcapGetBloomingVoltage(int32_t *value); /* 15 */
/** \brief Not supported. \param value Ignored, not written. \return 15. */
UCAP_API int32_t UcapGetPeltierVoltage(int32_t *value); /* 15 */
/** \brief Not supported. \param data Ignored. \param size Ignored. \return 15. */
UCAP_API int32_t UcapLoadCalibration(const void *data, int32_t size); /* 15 */
/** \brief Not supported. \return 15. */
UCAP_API int32_t UcapResetCalibration(void); /* 15 */
/** \brief Not supported. \param data Ignored, not written. \param size Ignored.
 * \return 15. */
UCAP_API int32_t UcapSaveCalibration(void *data, int32_t size); /* 15 */
/** \brief Not supported. \param value Ignored. \return 15. */
UCAP_API int32_t UcapSetBloomingVoltage(int32_t value); /* 15 */
/** \brief Not supported. \param on Ignored. \return 15. */
UCAP_API int32_t UcapSetFadingCorrection(int32_t on); /* 15 */
/** \brief Not supported. \param limit Ignored. \return 15. */
UCAP_API int32_t UcapSetFadingCorrectionGainLimit(int32_t limit); /* 15 */
/** \brief Not supported. \param filter Ignored. \return 15. */
UCAP_API int32_t UcapSetMultiShotFilter(int32_t filter); /* 15 */
/** \brief Not supported. \param value Ignored. \return 15. */
UCAP_API int32_t UcapSetPeltierVoltage(int32_t value); /* 15 */
/** \brief Not supported. \param index Ignored. \param on Ignored. \return 15. */
UCAP_API int32_t UcapmEnableSharpener(int32_t index, int32_t on); /* 15 */
/** \brief Not supported. \param index Ignored. \param value Ignored, not written.
 * \return 15. */
UCAP_API int32_t UcapmGetBloomingVoltage(int32_t index, int32_t *value); /* 15 */
/** \brief Not supported. \param index Ignored. \param filter Ignored, not written.
 * \return 15. */
UCAP_API int32_t UcapmGetCurrentMultiShotFilter(int32_t index, int32_t *filter); /* 15 */
/** \brief Not supported. \param index Ignored. \param on Ignored, not written.
 * \return 15. */
UCAP_API int32_t UcapmIsSharpenerEnabled(int32_t index, int32_t *on); /* 15 */
/** \brief Not supported. \param index Ignored. \param value Ignored. \return 15. */
UCAP_API int32_t UcapmSetBloomingVoltage(int32_t index, int32_t value); /* 15 */
/** \brief Not supported. \param index Ignored. \param filter Ignored. \return 15. */
UCAP_API int32_t UcapmSetMultiShotFilter(int32_t index, int32_t filter); /* 15 */
/** \brief Does nothing. \param on Ignored. \return 0. */
UCAP_API int32_t UcapEnableSharpener(int32_t on);
/** \brief Does nothing. \return 0. */
UCAP_API int32_t UcapStripeAdjust(void);
/** \brief Does nothing (the EEPROM is never written). \return 0. */
UCAP_API int32_t WriteEprom(void);
/** \brief Does nothing. \return 0. */
UCAP_API int32_t outcomm(void);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* UCAP_UCAP_H */
