// Inside of the virtual camera: the bus with its cameras, handles and isochronous
// resources, and the camera itself (configuration ROM, command registers, mode blocks,
// vendor block, EEPROM, firmware memory, capture state).
//
// Everything here is guarded by the one bus lock (Bus::mu); functions that take a
// Camera& expect the caller to hold it.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vcam/driver.h"
#include "vcam/sensor.h"

namespace vcam {

using Clock = std::chrono::steady_clock;

// Quadlets on the bus: most significant byte first.
inline uint32_t be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}
inline void put_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

enum class Model { kStandard, kLumens, kForeign };

// Register layout chosen for this camera's configuration ROM.
inline constexpr uint32_t kRomBase = 0xF0000400;
inline constexpr uint32_t kCommandBase = 0xF0E00000;
inline constexpr uint32_t kModeBlockBase = 0xF0E10000;  // mode m at + 0x100 * m
inline constexpr uint32_t kModeBlockStride = 0x100;
inline constexpr uint32_t kVendorBase = 0xF0F00000;
inline constexpr uint32_t kAccessKey = 0x0007C2A5;
inline constexpr uint32_t kEepromSize = 2048;
inline constexpr uint32_t kFirmwareSize = 1u << 20;
inline constexpr uint32_t kMaxFrameBuffer = 256u << 20;
inline constexpr size_t kMaxLog = 8u << 20;  // a trace or request log nobody reads stops here

// Appends one line to a trace or request log that has not reached kMaxLog.
inline void append_log(std::string& log, const std::string& line) {
  if (log.size() <= kMaxLog) log += line;
}

// A fault that makes the next `remaining` matching operations fail with `code`.
struct Fault {
  uint32_t remaining = 0;
  uint32_t code = 0;
};
// Faults by target (register address or control code), each a queue of stages taken in
// order.
using FaultQueues = std::map<uint32_t, std::deque<Fault>>;
// Takes one failure from the faults of `key`, if any: true and the code.
bool take_fault(FaultQueues& faults, uint32_t key, uint32_t* code);
bool take_fault(Fault& fault, uint32_t* code);

// What the configuration keys set (see include/ucap/vcam.h for the keys).
struct Settings {
  // identity (attach only)
  Model model = Model::kStandard;
  std::string id_field;  // empty: made from the unique id
  int sensor_w = 2584;
  int sensor_h = 1936;
  uint32_t mode_mask = 0xA0000000;        // modes 0 and 2
  int node = -1;                          // -1: chosen from the camera id
  std::array<uint32_t, 8> output_size{};  // vendor 0x10C + 32m; 0: the sensor size
  // registers and EEPROM
  bool packing = true;
  uint32_t uid = 0;
  bool uid_set = false;
  uint32_t vendor3 = 0x00010203;
  uint32_t eeprom36 = 0x20260101;
  std::vector<std::pair<int, int>> blemishes;  // x, y
  uint32_t blemish_count = 0;
  uint32_t second_count = 0;
  std::map<size_t, uint8_t> eeprom_bytes;  // raw EEPROM bytes over the built image, by offset
  int busy_us = 500;  // how long a command register stays busy, in microseconds of camera time
  uint32_t access_timeout_ms = 0;  // 0: the value written to vendor 0x004 (ms)
  // sensor model and clock
  SensorParams sensor;
  double timescale = 1.0;
  bool frame_stamp = false;  // the frame number in the first two samples of every frame
  int replug_after_ms = 0;   // an unplugged camera comes back after this long (0: never)
};

// Faults of one camera.
struct CameraFaults {
  FaultQueues read;   // by register address
  FaultQueues write;  // by register address
  FaultQueues ioctl;  // by control code
  Fault open;
  Fault detail;
  uint32_t memory_error = 0;    // memory commands that end with the error bit
  uint32_t apply_error = 0;     // mode applies that end with the error bit
  uint32_t settings_error = 0;  // apply-settings commands that end with the error bit
  uint32_t apply_stuck = 0;     // mode applies that stay busy until the register is written
  uint32_t settings_stuck = 0;  // apply-settings commands that stay busy likewise
  uint32_t lapse_after = 0;     // access lapses after this many more vendor writes (0: off)
  uint32_t drop_frames = 0;     // exposures whose frame never leaves the camera
  uint32_t drop_skip = 0;       // exposures whose frame still arrives before the drops begin
  uint32_t detach_after = 0;    // the camera unplugs once it has delivered this many more frames
  uint32_t detach_in_exposure = 0;  // it unplugs halfway through this exposure (1: the next)
  uint32_t memory_stuck = 0;        // memory commands that stay busy until released
  bool memory_release = false;      // memory_stuck=0 was given: a stuck command finishes
  uint32_t overrange = 0;           // frames sent with samples above 4095
  uint16_t overrange_value = 0xFFFF;
  std::map<uint32_t, uint32_t> misreport;  // registers that read a wrong value, by address
};

// A command register's command: busy for a while after it was written (a command that
// fails ends at once), then done with its final value.
struct PolledCommand {
  uint32_t value = 0;  // as read back once finished
  uint32_t busy_bits = 0;
  bool pending = false;  // running: its effect is still to come
  bool stuck = false;    // stays busy until released (faults *_stuck)
  Clock::time_point done_at{};
};

// Geometry the camera reads out in one mode (committed by the mode apply).
struct ModeGeometry {
  int binning = 1;
  int left = 0, top = 0, width = 0, height = 0;  // sensor pixels
};

struct ModeState {
  uint32_t binning_word = 0;
  uint32_t position_word = 0;
  uint32_t size_word = 0;
  PolledCommand apply;
  ModeGeometry geometry;  // committed
  uint32_t coding_written = 0x05000000;
  uint32_t coding = 0x05000000;  // committed by apply settings
  PolledCommand settings;
};

struct Camera {
  int id = 0;
  bool attached = true;
  bool replug_pending = false;  // unplugged with replug_after=: comes back at replug_at
  Clock::time_point replug_at{};
  Settings cfg;
  std::string path;
  uint16_t node_address = 0;
  CameraFaults faults;
  std::string trace;
  std::string requests;  // driver request log

  // command registers
  std::map<uint32_t, uint32_t> command;  // 0x604, 0x608, 0x60C, 0x61C, 0x81C, 0x830
  // mode blocks, vendor block
  std::array<ModeState, 8> modes{};
  bool access_open = false;
  Clock::time_point access_deadline{};
  uint32_t access_timeout_word = 0xFFF;
  uint32_t shutter_word = 0;
  uint32_t capture_control = 0x00000000;
  uint32_t register_014 = 0;
  uint32_t firmware_starts = 0;  // start commands accepted
  uint32_t firmware_extent = 0;  // end of the highest firmware block written
  PolledCommand memory;
  uint32_t pending_memory = 0;  // command carried out when the busy bits clear
  std::array<uint8_t, 128> window{};
  std::array<uint8_t, kEepromSize> eeprom{};
  std::vector<uint8_t> firmware;

  // capture state
  uint32_t wait_kind = 0;
  uint32_t wait_timeout_ms = 0;
  uint32_t wait_register = 0;
  bool wait_set = false;
  uint32_t buffer_select = 0;
  uint64_t frames_sent = 0;
  uint64_t exposure_serial = 0;  // counts exposures (noise seed)
  bool triggered = false;
  bool awaiting_trigger = false;
  uint64_t cancel_serial = 0;  // bumped by cancel capture wait, one-shot 0, detach, stop
  bool capturing = false;

  // driver frame buffers (owned; released with size 0, detach keeps them alive until reset)
  uint32_t frame_buffer_size = 0;
  std::unique_ptr<uint8_t[]> frame_buffer[2];
  std::vector<std::unique_ptr<uint8_t[]>> retired_buffers;
};

struct Pending {
  Overlapped* ov;
  Handle handle;
};

struct HandleRec {
  std::shared_ptr<Camera> cam;
  bool overlapped = false;
  bool closed = false;
};

struct Bandwidth {
  uint32_t units = 0;
  const Camera* owner = nullptr;  // compared only; entries go when their camera is detached
};
struct Resource {
  uint32_t channel = 0;
  uint32_t bytes_per_packet = 0;
  uint32_t speed = 0;
  uint64_t stop_serial = 0;
  std::weak_ptr<Camera> cam;
};

struct Bus {
  std::mutex mu;
  std::condition_variable cv;                    // capture waits
  std::vector<std::shared_ptr<Camera>> cameras;  // attach order; detached ones stay until reset
  std::map<Handle, std::shared_ptr<HandleRec>> handles;
  Handle next_handle = 0x100;
  std::vector<Pending> notifications;
  Fault open_set_fault;
  // isochronous bookkeeping (one bus)
  std::map<uint64_t, Bandwidth> bandwidth;
  uint32_t bandwidth_used = 0;
  uint64_t channels_used = 0;  // bit per channel
  std::array<const Camera*, 64> channel_owner{};
  std::map<uint64_t, Resource> resources;
  uint64_t next_cookie = 0x5A000001;
  std::string config_error;  // why the last configuration was refused
};

inline constexpr uint32_t kBandwidthBudget = 4915;  // allocation units per cycle for iso

// The one bus (created on first use with the default camera attached).
Bus& bus();
std::shared_ptr<Camera> find_camera(Bus& b, int id);
// Attach (id, or -1 for a refused configuration) and detach, with the lock held.
int attach_camera(Bus& b, const char* config);
void detach_camera(Bus& b, Camera& cam);
// Completes every pending bus-reset notification.
void bus_reset(Bus& b);

// Runs one capture for an attach-buffers request whose record was checked: arms the
// camera, waits for exposure and transfer (or the end of the wait), fills the selected
// frame buffer. Called and returns with the lock held through `lk`.
bool capture_frame(Bus& b, std::unique_lock<std::mutex>& lk, HandleRec& hr, Camera& cam,
                   uint64_t resource, uint32_t frame_bytes, uint32_t* err);

// ---- configuration -------------------------------------------------------------------
// Parses `text` onto `cfg` and `faults`; `attaching` allows the identity keys; bus-wide
// keys go to `bus_fault`. Returns "" or, with nothing changed, what is wrong: the word with
// the unknown key or the malformed value, and what the key takes.
std::string parse_config(const char* text, bool attaching, Settings* cfg, CameraFaults* faults,
                         Fault* bus_fault);

// ---- the camera ----------------------------------------------------------------------
void camera_power_on(Camera& cam);        // registers to their start values
void camera_build_eeprom(Camera& cam);    // EEPROM bytes from the settings
void camera_release_memory(Camera& cam);  // a stuck memory command finishes now
std::string camera_path(const Camera& cam);
// Register access as the camera carries it out: false with an error for an address the
// camera does not decode or a write it refuses. Traced when carried out.
bool camera_read(Camera& cam, uint32_t address, uint32_t* value, uint32_t* err);
bool camera_write(Camera& cam, uint32_t address, uint32_t value, uint32_t* err);
bool camera_block_read(Camera& cam, uint32_t address, uint8_t* data, uint32_t* err);
bool camera_block_write(Camera& cam, uint32_t address, const uint8_t* data, uint32_t* err);
// Bytes per packet and packets per frame of the committed geometry and coding of mode m.
void camera_transfer_shape(const Camera& cam, int m, uint32_t* bytes_per_packet,
                           uint32_t* packets_per_frame);
// The readout the camera will do now: mode, geometry, coding, exposure ticks.
struct Readout {
  int mode = 0;
  ModeGeometry geometry;
  bool packed = false;
  uint32_t ticks = 0;
  uint32_t bytes_per_packet = 0;
  uint32_t packets_per_frame = 0;
  uint32_t channel = 0;
  uint32_t speed = 0;     // as the driver counts it: 1 S100, 2 S200, 4 S400
  bool sendable = false;  // scalable format and an offered mode are selected
};
Readout camera_readout(const Camera& cam);

}  // namespace vcam
