/**
 * \file ucap/vcam.h
 * \brief The virtual camera: a simulated 1394 driver and camera for trying and testing
 * the library without the hardware.
 *
 * Control surface of the virtual camera: a simulated 1394 driver and camera that
 * stands where the kernel driver and the real camera stand. Exported by builds
 * of the library that carry it (tests, tools, newcomers on machines without the
 * hardware). Out of the box one camera with the default configuration is attached
 * (id 0): model standard, sensor 2584 x 1936, modes 0 and 2, packing supported.
 *
 * Configurations are strings of space-separated key=value words. Unknown keys and
 * malformed values are refused (negative result, nothing changed), never ignored.
 * Hexadecimal values take an optional 0x; counts are decimal; error codes are Win32
 * codes, decimal or 0x-hexadecimal, never 0 unless a key says otherwise. The keys:
 * \ref vcam_keys.
 */

/**
 * \page vcam_keys Virtual camera configuration keys
 *
 * Configurations given to ucap_vcam_attach() and ucap_vcam_set() are strings of
 * space-separated key=value words:
 *
 * \verbatim
 * Identity (ucap_vcam_attach only):
 *   model=standard|lumens|foreign  device path vendor&model: vela_optic&tessera_lx20,
 *                        vela_optic_lumens&tessera_lx20, or another vendor's camera of
 *                        the same interface class (default standard)
 *   id=TEXT              unique id field of the path (no '#', '\' or blanks; up to 1024
 *                        characters); default 0030C5 followed by the unique id in hex
 *   sensor=WxH           sensor size, multiples of 4, 32..4096 (default 2584x1936)
 *   modes=M,M,...        scalable-image modes offered, 0..7 (default 0,2; empty: none)
 *   output=M:WxH         output size mode M reports in vendor 0x10C + 32M (default: the
 *                        sensor size); at most the sensor size
 *   uid=HEX              unique identifier, low word (ROM 0xF0000410); default
 *                        00A1C000 + camera id
 *   node=N               node number 0..62 (node address 0xFFC0 | N); default id % 62 + 1
 * Camera and EEPROM (attach or set):
 *   packing=0|1          bit 26 (packing supported) of every mode's inquiry register
 *   vendor3=HEX          vendor register 0x00C
 *   eeprom36=HEX         EEPROM bytes 144..147 (big-endian)
 *   blemishes=X:Y,...    defective pixels: EEPROM entries 524 + 4i = Y * width + X
 *                        (at most 381); these pixels are stuck high or dead in frames.
 *                        Sets the blemish count to the list length unless blemish_count=
 *                        is given in the same string
 *   blemish_count=N      EEPROM bytes 512..515 as stored, even if invalid (e.g. 10000)
 *   second_count=N       EEPROM bytes 516..519
 *   eeprom=OFF:HEX       raw EEPROM bytes (hex pairs) from byte OFF (decimal), laid over
 *                        what the keys above build, e.g. a damaged list; repeated words
 *                        add to each other; eeprom=- removes them all
 *   busy_us=N            microseconds (camera time: timescale= applies) a memory command,
 *                        mode apply or apply settings keeps its busy bits after it was
 *                        written (default 500); one that fails ends at once with its error bit
 *   access_timeout=MS    vendor access lapses MS ms after the last vendor write (default:
 *                        the value written to vendor 0x004, in ms; 0xFFF at power-on)
 * Sensor model and clock (attach or set):
 *   scene=chart|flat|dark|gradient|bar   color chart (default), flat field, darkness,
 *                        horizontal ramp, or darkness with a white bar across the width
 *                        from 1/8 to 3/8 of the height (edges on even rows)
 *   blur=X               defocus: the scene blurred by a Gaussian of standard deviation X
 *                        pixels (each color on its own), 0..100 (default 0: sharp)
 *   level=X              signal of a white pixel of the strongest color (response=) in
 *                        counts per 100 ms (default 1500)
 *   response=R,G,B       relative response of the red, green and blue sites to white
 *                        light, 0..100 each, not all 0; the strongest color gets level=,
 *                        the others their share of it (default 1.37,1.93,1: a white
 *                        pixel gives 1065, 1500, 777 per 100 ms; 1,1,1 gives every color
 *                        the full level)
 *   noise=0|1            shot and read noise (default 1); 0 gives exact frames
 *   seed=N               seed of fixed patterns and noise (default 1)
 *   dark=X               dark current, counts per second (default 10)
 *   hot=X                share of hot pixels, 0..0.1 (default 0.0005)
 *   smear=X              share of the light above a pixel that leaks into it, in the even
 *                        columns (red and green sites) only (default 2e-5)
 *   vignette=X           relative signal loss in the corners, 0..0.9 (default 0.15)
 *   prnu=X               pixel gain variation (standard deviation, default 0.01)
 *   bias=N               black level (default 32)
 *   column_pattern=N, row_pattern=N   amplitude of the column / row offsets (3, 1)
 *   read_noise=X         read noise in counts (default 1.5)
 *   binned_rows=pairs|color   mode 0 with binning b: each transferred row sums 2b
 *                        rows in the row pairs the library's reference correction
 *                        assumes (default; rows of both colors with b = 3 or 5), or
 *                        2b rows of one color (blocks of 4b rows, even then odd)
 *   timescale=X          the camera's clock runs X times faster (exposures, transfer,
 *                        capture-wait time-outs); 1 (default) is real time, up to 1e6
 *   frame_stamp=0|1      every frame carries its frame number (the value
 *                        ucap_vcam_frame_count returns once it has arrived: 1 for the first
 *                        frame since attach) in the first two samples of its first row in
 *                        image order (row 0 after the fields are interleaved): sample 0
 *                        holds bits 0..11, sample 1 bits 12..23. Default 0
 * Faults (attach or set; a count of 0 removes the fault):
 *   fail_read=ADDR:N:ERR    the next N reads of ADDR fail in the driver with ERR
 *   fail_write=ADDR:N:ERR   the same for writes. ADDR: hexadecimal bus address, or
 *                           cmd+OFF, vendor+OFF, modeM+OFF, rom+OFF
 *   fail_ioctl=CODE:N:ERR   the next N requests with control code CODE (hex) fail; ERR
 *                           may be 0 here: the request fails and leaves no error code
 *                           Repeated words for one target queue up: "fail_read=A:1:31
 *                           fail_read=A:1:121" fails the next read of A with 31 and the
 *                           one after with 121; a count of 0 clears the target's faults.
 *   fail_open=N[:ERR]       the next N opens of this camera's path fail (default 31)
 *   fail_detail=N[:ERR]     the next N interface-detail calls with a buffer for this
 *                           camera's interface fail (default 31)
 *   fail_open_set=N[:ERR]   bus-wide: the next N device-set opens fail (default 31)
 *   lapse=1                 vendor access lapses at once
 *   lapse_after=N           access lapses after N more vendor writes (the access key
 *                           write counts)
 *   memory_error=N          the next N memory commands end with the error bit 29
 *   apply_error=N           the next N mode applies end with the error bit 23
 *   settings_error=N        the next N apply-settings commands end with the error bit 23
 *   apply_stuck=N           the next N mode applies stay busy (bit 30) until the register
 *                           is written again
 *   settings_stuck=N        the next N apply-settings commands stay busy likewise
 *   drop_frames=N[:K]       the next K frames arrive (default 0), then N frames never
 *                           arrive: the capture wait runs out (kind 0x80) or lasts until
 *                           cancelled (trigger kinds)
 *   detach_after=N          the camera is unplugged right after it has delivered N more
 *                           frames (the request that delivered the last one succeeds)
 *   detach_in_exposure=N    the camera is unplugged halfway through its N-th exposure from
 *                           now (1: the next); that frame wait ends with
 *                           ERROR_DEVICE_NOT_CONNECTED
 *   replug_after=MS         a camera unplugged (by any means) is plugged in again MS ms of
 *                           camera time later, when a discovery looks: a new device with the
 *                           same identity and settings and no faults (default 0: never)
 *   memory_stuck=N          the next N memory commands (vendor 0x070) stay busy: every read
 *                           shows the busy bits and further commands are refused, until
 *                           memory_stuck=0 (the stuck command then completes) or unplugging
 *   overrange=N[:HEX]       the next N frames carry HEX (0x1000..0xFFFF, default FFFF) in
 *                           every sample of the 2 x 2 cells (from the first sample of row 0)
 *                           whose cell column plus cell row is even; packed transfer carries
 *                           only the low 12 bits. A frame stamp overwrites its two samples
 *   misreport=ADDR:HEX      the register at ADDR reads HEX from now on, whatever the
 *                           camera holds (a camera reporting nonsense); ADDR:- ends it
 * \endverbatim
 * Unplugging: ucap_vcam_detach. Register reads and writes the camera does not decode,
 * and vendor writes without open access, fail with ERROR_GEN_FAILURE (31).
 */
#ifndef UCAP_VCAM_H
#define UCAP_VCAM_H

#include "ucap.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * \defgroup vcam Virtual camera control
 * \brief Attaching, configuring and watching virtual cameras (builds with the virtual
 * camera only). Configuration keys: \ref vcam_keys.
 *
 * These calls may come from any thread at any time, also while the library uses the
 * cameras; each is atomic towards the library. A change made while the library has a
 * camera open reaches it as a real camera's change would (a bus reset, an unplugged
 * device). Threads of the library itself: see \ref threads.
 * @{
 */

/** \brief Detaches every virtual camera and clears every fault; ids start again at 0.
 * \return 0. */
UCAP_API int ucap_vcam_reset(void);
/** \brief Attaches one camera (a bus reset follows).
 * \param config Configuration (\ref vcam_keys), zero-terminated; "" for the defaults.
 * \return The camera's id (>= 0), or a negative value for a bad configuration (nothing
 *   attached). */
UCAP_API int ucap_vcam_attach(const char *config);
/** \brief Unplugs a camera (a bus reset follows); its open handles fail every request
 * with ERROR_DEVICE_NOT_CONNECTED and a frame wait ends.
 * \param id Camera id from ucap_vcam_attach().
 * \return 0, or negative for an unknown id. */
UCAP_API int ucap_vcam_detach(int id);
/** \brief Changes settings or faults of an attached camera (the keys of \ref vcam_keys
 * that are not attach only).
 * \param id Camera id.
 * \param config Configuration, zero-terminated.
 * \return 0, or negative for an unknown id or a bad configuration (nothing changed). */
UCAP_API int ucap_vcam_set(int id, const char *config);
/** \brief Why the last refused configuration (attach or set) was refused.
 *
 * The word with the bad key or value and what the key takes, e.g. "sensor=2586x1936:
 * sensor= takes WxH, multiples of 4 in 32..4096"; empty after an accepted one. Copy rules
 * of ucap_vcam_trace(), except that the text is not cleared.
 * \param buf Receives the text, or null to ask for its size.
 * \param size Bytes at buf.
 * \return The bytes the whole text needs including the terminating zero. */
UCAP_API int ucap_vcam_config_error(char *buf, int size);
/** \brief Fires a bus reset: completes every pending bus-reset notification.
 * \return 0. */
UCAP_API int ucap_vcam_bus_reset(void);
/** \brief Register trace of a camera: one line per register access it carried out ("R", "W",
 * "BR" or "BW", the lower address and the value (a block: its first quadlet) as 8
 * upper-case hex digits each, e.g. "W F0F00144 010200C0\n"), including the writes the
 * driver makes to arm a frame. Returns the bytes the whole trace needs including the
 * terminating zero; when buf is null or size is smaller than that, copies nothing and
 * keeps the trace; otherwise copies it, zero-terminated, and clears it. Negative for an
 * unknown id. Detached cameras keep their trace until ucap_vcam_reset. A trace that
 * nobody reads stops growing at 8 MiB.
 * \param id Camera id.
 * \param buf Receives the trace, or null to ask for its size.
 * \param size Bytes of buf.
 * \return Bytes the whole trace needs including the terminating zero; negative for an
 *   unknown id. */
UCAP_API int ucap_vcam_trace(int id, char *buf, int size);
/** \brief A pulse on the camera's trigger input.
 * \param id Camera id.
 * \return 0 when a frame armed with a trigger kind was waiting for it, 1 when nothing
 *   waited (the pulse is lost), negative for an unknown or detached camera. */
UCAP_API int ucap_vcam_trigger(int id);
/** \brief Frames the camera has delivered into a frame buffer since it was attached.
 * \param id Camera id.
 * \return The count, or negative for an unknown id. */
UCAP_API int ucap_vcam_frame_count(int id);
/** \brief Driver request log of a camera, with the copy rules of ucap_vcam_trace(): one
 * line for each request on its handles except register reads and writes (the trace has
 * those) and bus-reset notifications. A line is the request's name and its arguments as
 * key=value (handles, registers and wait kinds hexadecimal with 0x, the rest decimal),
 * and " error=CODE" when the driver refused it or it failed:
 * \verbatim
 *   frame_buffer size=N                      node_address
 *   wait_setup kind=0x80 timeout=MS register=0xF0E0061C
 *   alloc_bandwidth bytes=N speed=S handle=0xH
 *   alloc_channel channel=C                  free_channel channel=C
 *   alloc_resources channel=C bytes=N buffers=B size=N handle=0xH
 *   select buffer=0|1                        (buffer selection: the first or second frame buffer)
 *   attach buffer=0|1 bytes=N                (the frame is armed; buffer: the one selected)
 *   attach_done buffer=0|1 frame=N           (the frame arrived: its frame number) or
 *   attach_done buffer=0|1 error=CODE        (121 timed out, 995 cancelled or stopped,
 *                                             1167 unplugged, ...)
 *   cancel_wait                              stop handle=0xH
 *   free_resources handle=0xH                free_bandwidth handle=0xH
 *   ioctl code=0xC                           (a control code the driver does not know)
 * \endverbatim
 * An attach refused before arming logs "attach ... error=CODE" only.
 * \param id Camera id.
 * \param buf Receives the log, or null to ask for its size.
 * \param size Bytes of buf.
 * \return Bytes the whole log needs including the terminating zero; negative for an
 *   unknown id. */
UCAP_API int ucap_vcam_requests(int id, char *buf, int size);
/** \brief Firmware memory (1 MiB) as the camera received it through the memory command:
 * copies size bytes from offset into buf (0xFF where no block was written).
 * \param id Camera id.
 * \param offset First byte of the memory.
 * \param buf Receives the bytes; may be null with size 0.
 * \param size Bytes to copy.
 * \return The end of the highest block written (0 before the first), or negative for an
 *   unknown id or a range outside the memory. */
UCAP_API int ucap_vcam_firmware(int id, int offset, unsigned char *buf, int size);
/** \brief How many start commands (0x40000000 to vendor 0x008) the camera accepted since
 * it was attached.
 * \param id Camera id.
 * \return The count (0: the firmware was never started), or negative for an unknown id. */
UCAP_API int ucap_vcam_firmware_started(int id);

/** \brief The books of one camera (or, with id -1, of the whole bus), for leak checks
 * (ucap_vcam_usage()). */
typedef struct UcapVcamUsage {
  int handles;           /**< open device handles, overlapped ones included */
  int notifications;     /**< bus-reset notifications pending on those handles */
  int frame_buffers;     /**< driver frame buffers held: 0 or 2 per camera */
  int bandwidth_handles; /**< isochronous bandwidth allocations ... */
  int bandwidth_units;   /**< ... and their units (of 4915 per cycle on the bus) */
  int channels;          /**< isochronous channels allocated */
  int resources;         /**< isochronous resource handles allocated */
} UcapVcamUsage;
/** \brief Fills *usage with the driver's books. Unplugging gives back the camera's frame
 * buffers and isochronous resources; its handles stay open until closed.
 * \param id Camera id, or -1 for the whole bus.
 * \param usage Receives the books.
 * \return 0, or negative for an unknown id or a null pointer. */
UCAP_API int ucap_vcam_usage(int id, UcapVcamUsage *usage);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* UCAP_VCAM_H */
