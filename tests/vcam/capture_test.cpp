// The virtual camera's capture side: isochronous bookkeeping, the checks of its requests,
// waits, triggers, unplugging, several cameras at once, and the sensor model behind the
// frames. (Frame layouts and cancels: the frame transfer tests through the library.)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <sstream>
#include <thread>

#include "vcam/sensor.h"
#include "vcam_client.h"

namespace vcam_test {
namespace {

struct Shot {
  int mode = 2;
  int binning = 1;
  int left = 0, top = 0, width = 0, height = 0;
  uint32_t ticks = 4;
  bool packed = false;
  uint32_t kind = 0x80;
};

// One camera driven the way the library does it, request by request.
class Client {
 public:
  void attach(const std::string& config, const std::string& id_field = "C1") {
    cam_id = ucap_vcam_attach(("id=" + id_field + " " + config).c_str());
    ASSERT_GE(cam_id, 0);
    dev = std::make_unique<Device>(path_of_id(id_field));
    ASSERT_TRUE(dev->ok());
    std::vector<uint8_t> fb(24, 0);
    put32(&fb[0], 2 * 1024 * 1024);
    put32(&fb[4], 2 * 1024 * 1024);
    uint32_t err = 0;
    ASSERT_TRUE(dev->request(kFrameBuffer, fb, 24, &err));
    buffers[0] = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(get64(&fb[8])));
    buffers[1] = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(get64(&fb[16])));
  }

  void wait_setup(uint32_t kind, uint32_t timeout_ms) {
    std::vector<uint8_t> w(20, 0);
    put32(&w[0], kind);
    put32(&w[4], timeout_ms);
    w[8] = static_cast<uint8_t>(dev->node);
    w[9] = static_cast<uint8_t>(dev->node >> 8);
    w[12] = w[13] = 0xFF;
    put32(&w[16], kCmd + (kind == 0x80 ? 0x61C : 0x830));
    uint32_t err = 0;
    ASSERT_TRUE(dev->request(kWaitSetup, w, 0, &err));
  }

  void setup(const Shot& s) {
    int m = s.mode, b = s.binning;
    wait_setup(s.kind, s.ticks / 3 + 3000);
    dev->open_access();
    uint32_t base = 0x104 + 32 * static_cast<uint32_t>(m);
    ASSERT_TRUE(dev->write(kVendor + base, (m == 0 ? 0x01000000u : 0x010000C0u) | static_cast<uint32_t>(b) << 16));
    ASSERT_TRUE(dev->write(kVendor + base + 0x0C, static_cast<uint32_t>(s.left) << 16 | static_cast<uint32_t>(s.top)));
    ASSERT_TRUE(dev->write(kVendor + base + 0x10, static_cast<uint32_t>(s.width) << 16 | static_cast<uint32_t>(s.height)));
    ASSERT_TRUE(dev->write(kVendor + 0x30, dev->read(kVendor + 0x30) & ~0x01000000u));
    ASSERT_TRUE(dev->write(kVendor + 0x14, s.ticks >> 12));
    ASSERT_EQ(dev->command(kVendor + base + 0x18, 0x40000000, 0x40000000), 0u);
    ASSERT_TRUE(dev->write(kVendor, 0xFFFFFFFF));
    ASSERT_TRUE(dev->write(mode_block(m) + 0x10, s.packed ? 0x85000000 : 0x05000000));
    ASSERT_EQ(dev->command(mode_block(m) + 0x7C, 0x40000000, 0x40000000), 0u);
    ASSERT_TRUE(dev->write(kCmd + 0x608, 0xE0000000));
    ASSERT_TRUE(dev->write(kCmd + 0x604, static_cast<uint32_t>(m) << 29));
    bpp = dev->read(mode_block(m) + 0x44) >> 16;
    ppf = dev->read(mode_block(m) + 0x48);
    uint32_t err = 0;
    std::vector<uint8_t> bw(24, 0);
    put32(&bw[0], bpp);
    put32(&bw[4], 4);
    ASSERT_TRUE(dev->request(kAllocBandwidth, bw, 24, &err)) << err;
    bandwidth = get64(&bw[8]);
    std::vector<uint8_t> ch(16, 0);
    put32(&ch[0], 0xFFFFFFFF);
    ASSERT_TRUE(dev->request(kAllocChannel, ch, 16, &err));
    channel = get32(&ch[4]);
    ASSERT_TRUE(dev->write(kCmd + 0x60C, channel << 28 | 0x02000000));
    ASSERT_TRUE(dev->write(kCmd + 0x81C, 0x02000000 | (s.ticks & 0xFFF)));
    uint32_t frame = bpp * ppf;
    std::vector<uint8_t> rs(40, 0);
    put32(&rs[0], 4);
    put32(&rs[4], 9);
    put32(&rs[8], channel);
    put32(&rs[12], bpp);
    put32(&rs[16], frame > 1024000 ? 2 : 1);
    put32(&rs[20], frame > 1024000 ? 512000 : frame);
    put32(&rs[24], 1);
    ASSERT_TRUE(dev->request(kAllocResources, rs, 40, &err)) << err;
    resource = get64(&rs[32]);
    uint32_t pos = dev->read(mode_block(m) + 0x08), size = dev->read(mode_block(m) + 0x0C);
    transferred_width = static_cast<int>(size >> 16);
    transferred_rows = static_cast<int>(size & 0xFFFF);
    (void)pos;
  }

  std::vector<uint8_t> attach_record() const {
    std::vector<uint8_t> a(64, 0);
    put64(&a[0], resource);
    put32(&a[8], 1);
    put32(&a[12], bpp * ppf);
    put32(&a[24], 1);
    put32(&a[28], bpp * ppf);
    put32(&a[32], bpp);
    put32(&a[36], 1);
    put32(&a[48], 1);
    put32(&a[52], 1);
    return a;
  }

  // Selects a buffer and waits for the frame; the request's error, or 0.
  uint32_t grab(uint32_t buffer = 0) {
    std::vector<uint8_t> sel(4, 0);
    put32(&sel[0], buffer);
    uint32_t err = 0;
    EXPECT_TRUE(dev->request(kSelectBuffer, sel, 0, &err));
    auto a = attach_record();
    return dev->request(kAttach, a, 0, &err) ? 0 : err;
  }

  void cleanup() {
    uint32_t err = 0;
    std::vector<uint8_t> stop(16, 0);
    put64(&stop[0], resource);
    EXPECT_TRUE(dev->request(kStop, stop, 0, &err));
    std::vector<uint8_t> r(8);
    put64(&r[0], resource);
    EXPECT_TRUE(dev->request(kFreeResources, r, 0, &err));
    std::vector<uint8_t> c(4);
    put32(&c[0], channel);
    EXPECT_TRUE(dev->request(kFreeChannel, c, 0, &err));
    std::vector<uint8_t> bw(8);
    put64(&bw[0], bandwidth);
    EXPECT_TRUE(dev->request(kFreeBandwidth, bw, 0, &err));
  }

  // Samples of the frame in a buffer, unpacked and with the fields interleaved the way the
  // raw frame stages read them.
  std::vector<uint16_t> decode(const uint8_t* buf, int mode, bool packed) const {
    int w = transferred_width, h = transferred_rows;
    size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    std::vector<uint16_t> seq(n);
    if (!packed) {
      for (size_t i = 0; i < n; ++i) seq[i] = static_cast<uint16_t>(buf[2 * i] | buf[2 * i + 1] << 8);
    } else {
      auto unpack = [&](size_t byte, size_t first, size_t count) {
        for (size_t g = 0; g < count / 2; ++g) {
          const uint8_t* p = buf + byte + 3 * g;
          seq[first + 2 * g] = static_cast<uint16_t>(p[0] * 16 + (p[2] >> 4));
          seq[first + 2 * g + 1] = static_cast<uint16_t>(p[1] * 16 + (p[2] & 15));
        }
      };
      if (mode == 0) {
        unpack(0, 0, n);
      } else {
        unpack(0, 0, n / 2);
        unpack(bpp * ppf / 2, n / 2, n / 2);
      }
    }
    if (mode == 0) return seq;
    std::vector<uint16_t> out(n);
    size_t half = n / 2, W = static_cast<size_t>(w);
    for (int r = 0; r < h; r += 2) {
      size_t k = static_cast<size_t>(r / 2) * W;
      std::copy_n(&seq[k], W, &out[static_cast<size_t>(r) * W]);
      std::copy_n(&seq[half + k], W, &out[static_cast<size_t>(r + 1) * W]);
    }
    return out;
  }

  std::vector<uint16_t> model(const Shot& s) {
    vcam::FrameGeometry g{s.mode, s.binning, s.left, s.top, s.width, s.height, s.ticks};
    std::vector<uint16_t> e;
    EXPECT_TRUE(vcam::expected_frame(cam_id, g, &e));
    return e;
  }

  int cam_id = -1;

  std::unique_ptr<Device> dev;
  uint8_t* buffers[2] = {};
  uint32_t bpp = 0, ppf = 0, channel = 0;
  uint64_t bandwidth = 0, resource = 0;
  int transferred_width = 0, transferred_rows = 0;
};

class Capture : public VcamTest, public Client {};

constexpr const char* kExact = "sensor=256x192 noise=0 timescale=100 ";

TEST_F(Capture, SecondBufferAndTheArmingWriteInTheTrace) {
  attach(kExact);
  Shot s{2, 1, 0, 0, 64, 32, 40, false};
  setup(s);
  take_trace(0);
  std::memset(buffers[0], 0xEE, 64);
  ASSERT_EQ(grab(1), 0u);
  EXPECT_EQ(buffers[0][0], 0xEE);
  EXPECT_EQ(decode(buffers[1], 2, false), model(s));
  EXPECT_EQ(take_trace(0), "W F0E0061C 80000000\n");
  EXPECT_EQ(dev->read(kCmd + 0x61C), 0u);  // the one-shot bit clears after the exposure
  cleanup();
}

TEST_F(Capture, IsochronousBookkeepingHasLimits) {
  attach(kExact);
  ASSERT_EQ(ucap_vcam_attach("id=C2"), 1);
  Device other(path_of_id("C2"));
  uint32_t err = 0;
  auto bandwidth = [&](Device& d, uint32_t bytes, uint32_t speed) {
    std::vector<uint8_t> r(24, 0);
    put32(&r[0], bytes);
    put32(&r[4], speed);
    return d.request(kAllocBandwidth, r, 24, &err) ? get64(&r[8]) : 0;
  };
  uint64_t first = bandwidth(*dev, 4096, 4);
  EXPECT_NE(first, 0u);
  EXPECT_EQ(bandwidth(other, 4096, 4), 0u);  // beyond the bus budget
  EXPECT_EQ(err, vcam::kErrNoSystemResources);
  EXPECT_EQ(bandwidth(*dev, 4096, 2), 0u);  // too large for S200
  EXPECT_EQ(err, vcam::kErrInvalidParameter);
  EXPECT_EQ(bandwidth(*dev, 1024, 3), 0u);  // no such speed
  EXPECT_EQ(err, vcam::kErrInvalidParameter);

  std::vector<int> channels;
  for (int i = 0; i < 65; ++i) {
    std::vector<uint8_t> c(16, 0);
    put32(&c[0], 0xFFFFFFFF);
    if (!dev->request(kAllocChannel, c, 16, &err)) break;
    channels.push_back(static_cast<int>(get32(&c[4])));
  }
  EXPECT_EQ(channels.size(), 64u);
  EXPECT_EQ(err, vcam::kErrNoSystemResources);
  std::vector<uint8_t> fc(4, 0);
  put32(&fc[0], 17);
  EXPECT_TRUE(dev->request(kFreeChannel, fc, 0, &err));
  EXPECT_FALSE(dev->request(kFreeChannel, fc, 0, &err));  // not allocated any more
  EXPECT_EQ(err, vcam::kErrInvalidParameter);

  // Resources need an allocated channel and the fixed fields.
  std::vector<uint8_t> rs(40, 0);
  put32(&rs[0], 4);
  put32(&rs[4], 9);
  put32(&rs[8], 17);
  put32(&rs[12], 1024);
  put32(&rs[16], 1);
  put32(&rs[20], 4096);
  put32(&rs[24], 1);
  auto attempt = rs;
  EXPECT_FALSE(dev->request(kAllocResources, attempt, 40, &err));
  put32(&rs[8], 18);
  for (auto [offset, bad] : {std::pair<size_t, uint32_t>{4, 8}, {16, 3}, {24, 0}, {0, 5}}) {
    attempt = rs;
    put32(&attempt[offset], bad);
    EXPECT_FALSE(dev->request(kAllocResources, attempt, 40, &err)) << offset;
    EXPECT_EQ(err, vcam::kErrInvalidParameter);
  }
  attempt = rs;
  ASSERT_TRUE(dev->request(kAllocResources, attempt, 40, &err));
  uint64_t handle = get64(&attempt[32]);

  // Stop and free in either order, each refused once the resource is gone.
  std::vector<uint8_t> stop(16, 0);
  put64(&stop[0], handle);
  EXPECT_TRUE(dev->request(kStop, stop, 0, &err));
  std::vector<uint8_t> fr(8, 0);
  put64(&fr[0], handle);
  EXPECT_TRUE(dev->request(kFreeResources, fr, 0, &err));
  EXPECT_FALSE(dev->request(kFreeResources, fr, 0, &err));
  EXPECT_EQ(err, vcam::kErrInvalidParameter);
  EXPECT_FALSE(dev->request(kStop, stop, 0, &err));
  std::vector<uint8_t> nothing(16, 0);
  EXPECT_TRUE(dev->request(kStop, nothing, 0, &err));  // no resources yet: nothing to stop
  std::vector<uint8_t> fb(8, 0);
  put64(&fb[0], first);
  EXPECT_TRUE(dev->request(kFreeBandwidth, fb, 0, &err));
  EXPECT_FALSE(dev->request(kFreeBandwidth, fb, 0, &err));
  EXPECT_NE(bandwidth(other, 4096, 4), 0u);  // the budget is free again
  EXPECT_EQ(vcam::bus_usage().bandwidth_handles, 1);

  // Unplugging a camera gives back what it held.
  ASSERT_EQ(ucap_vcam_detach(0), 0);
  vcam::BusUsage u = vcam::bus_usage();
  EXPECT_EQ(u.channels, 0);
  EXPECT_EQ(u.bandwidth_handles, 1);  // the other camera's
}

TEST_F(Capture, AttachRecordsAreChecked) {
  attach(kExact);
  Shot s{2, 1, 0, 0, 64, 32, 40, false};
  setup(s);
  const std::pair<size_t, uint32_t> bad[] = {{8, 2}, {16, 1}, {24, 0}, {28, 1}, {32, 8},
                                             {36, 0}, {40, 1}, {44, 1}, {48, 0}, {52, 2}};
  for (auto [offset, value] : bad) {
    auto a = attach_record();
    put32(&a[offset], value);
    uint32_t err = 0;
    EXPECT_FALSE(dev->request(kAttach, a, 0, &err)) << offset;
    EXPECT_EQ(err, vcam::kErrInvalidParameter) << offset;
  }
  auto a = attach_record();
  put64(&a[0], resource + 1000);
  uint32_t err = 0;
  EXPECT_FALSE(dev->request(kAttach, a, 0, &err));
  EXPECT_EQ(ucap_vcam_frame_count(0), 0);
  cleanup();
}

TEST_F(Capture, FrameThatNeverComesEndsAtTheTimeOut) {
  attach(std::string(kExact) + "drop_frames=1");
  Shot s{2, 1, 0, 0, 64, 32, 40, false};
  setup(s);
  EXPECT_EQ(grab(), vcam::kErrSemTimeout);
  EXPECT_EQ(ucap_vcam_frame_count(0), 0);
  EXPECT_EQ(grab(), 0u);
  // A frame sent on a channel or at a speed nobody listens to is lost as well, and a camera
  // without the scalable format or with a mode it does not offer sends nothing.
  const std::pair<uint32_t, uint32_t> wrong[] = {
      {kCmd + 0x60C, ((channel + 1) & 63) << 28 | 0x02000000}, {kCmd + 0x60C, channel << 28 | 0x01000000},
      {kCmd + 0x608, 0x00000000}, {kCmd + 0x604, 0x20000000}};
  for (auto [reg, value] : wrong) {
    uint32_t good = dev->read(reg);
    ASSERT_TRUE(dev->write(reg, value));
    EXPECT_EQ(grab(), vcam::kErrSemTimeout) << std::hex << reg << " " << value;
    ASSERT_TRUE(dev->write(reg, good));
  }
  EXPECT_EQ(grab(), 0u);
  cleanup();
}

TEST_F(Capture, TimedFaultsStrikeTheNamedFrame) {
  struct Case {
    const char* fault;
    std::vector<uint32_t> results;  // of the frame waits until the fault has struck
    int frames;                     // delivered
    bool unplugged;
  };
  const Case cases[] = {
      {"drop_frames=2:1", {0, vcam::kErrSemTimeout, vcam::kErrSemTimeout, 0}, 2, false},
      {"detach_after=2", {0, 0}, 2, true},
      {"detach_in_exposure=2", {0, vcam::kErrDeviceNotConnected}, 1, true},
  };
  Shot s{2, 1, 0, 0, 64, 32, 40, false};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    ucap_vcam_reset();
    attach(std::string(kExact) + c.fault);
    setup(s);
    for (uint32_t want : c.results) EXPECT_EQ(grab(), want);
    EXPECT_EQ(ucap_vcam_frame_count(cam_id), c.frames);
    EXPECT_EQ(list_paths().empty(), c.unplugged);
    if (!c.unplugged) cleanup();
  }
}

TEST_F(Capture, FramesCarryTheirNumberAndOverrangeSamples) {
  attach(std::string(kExact) + "frame_stamp=1");
  struct Case {
    bool packed;
    const char* fault;
    uint16_t over;  // what the marked cells carry, 0: nothing marked
  };
  const Case cases[] = {{false, "overrange=1:1234", 0x1234}, {false, "", 0}, {true, "overrange=1", 0xFFF},
                        {true, "overrange=1:1234", 0x234}};
  Shot s{2, 1, 0, 0, 64, 32, 40, false};
  uint32_t frame = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fault << " packed " << c.packed);
    s.packed = c.packed;
    setup(s);
    ASSERT_EQ(ucap_vcam_set(cam_id, c.fault), 0);
    uint32_t buffer = frame % 2;
    ASSERT_EQ(grab(buffer), 0u);
    ++frame;
    std::vector<uint16_t> want = model(s);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 64; ++x)
        if (c.over != 0 && (x / 2 + y / 2) % 2 == 0) want[static_cast<size_t>(y * 64 + x)] = c.over;
    want[0] = static_cast<uint16_t>(frame);
    want[1] = 0;
    EXPECT_EQ(decode(buffers[buffer], 2, c.packed), want);
    cleanup();
  }
}

TEST_F(Capture, UsageCountsWhatEachCameraHolds) {
  auto usage = [](int id) {
    UcapVcamUsage u{};
    EXPECT_EQ(ucap_vcam_usage(id, &u), 0);
    return std::vector<int>{u.handles, u.notifications, u.frame_buffers, u.bandwidth_handles,
                            u.channels, u.resources, u.bandwidth_units > 0};
  };
  using V = std::vector<int>;
  attach(kExact);  // one handle and the frame buffers
  ASSERT_EQ(ucap_vcam_attach("id=C2"), 1);
  Device other(path_of_id("C2"));
  Shot s{2, 1, 0, 0, 64, 32, 40, false};
  setup(s);
  vcam::Overlapped ov;  // outlives the monitor handle, whose close completes it
  {
    Device monitor(path_of_id("C1"), true);
    uint32_t err = 0;
    vcam::ioctl_overlapped(monitor.handle(), kBusReset, nullptr, 0, nullptr, 0, &ov, &err);
    EXPECT_EQ(usage(0), (V{2, 1, 2, 1, 1, 1, 1}));
    EXPECT_EQ(usage(1), (V{1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(usage(-1), (V{3, 1, 2, 1, 1, 1, 1}));
  }
  cleanup();
  EXPECT_EQ(usage(0), (V{1, 0, 2, 0, 0, 0, 0}));
  std::vector<uint8_t> release(24, 0);
  uint32_t err = 0;
  ASSERT_TRUE(dev->request(kFrameBuffer, release, 24, &err));
  EXPECT_EQ(usage(0), (V{1, 0, 0, 0, 0, 0, 0}));
  setup(s);
  ASSERT_EQ(ucap_vcam_detach(0), 0);  // unplugging gives the resources back, not the handle
  EXPECT_EQ(usage(0), (V{1, 0, 0, 0, 0, 0, 0}));
  dev.reset();
  EXPECT_EQ(usage(-1), (V{1, 0, 0, 0, 0, 0, 0}));
  UcapVcamUsage u;
  EXPECT_LT(ucap_vcam_usage(2, &u), 0);
  EXPECT_LT(ucap_vcam_usage(0, nullptr), 0);
}

class CaptureWaits : public Capture {
 protected:
  // Waits for a frame on a thread; once the camera is in `state`, does `act`.
  uint32_t run(int state, const std::function<void()>& act) {
    uint32_t result = 0xFFFFFFFF;
    std::thread worker([&] { result = grab(); });
    while (vcam::capture_state(0) != state) std::this_thread::yield();
    act();
    worker.join();
    return result;
  }
};

TEST_F(CaptureWaits, UnpluggingEndsTheWait) {
  attach("sensor=256x192 noise=0");
  Shot s{2, 1, 0, 0, 64, 32, 40000, false};
  setup(s);
  EXPECT_EQ(run(2, [] { ucap_vcam_detach(0); }), vcam::kErrDeviceNotConnected);
}

TEST_F(CaptureWaits, TriggerKindsWaitForAPulse) {
  attach(kExact);
  Shot s{2, 1, 0, 0, 64, 32, 40, false, 3};
  setup(s);
  EXPECT_EQ(ucap_vcam_trigger(0), 1);  // nothing armed: the pulse is lost
  take_trace(0);
  EXPECT_EQ(run(1, [] { EXPECT_EQ(ucap_vcam_trigger(0), 0); }), 0u);
  EXPECT_EQ(ucap_vcam_frame_count(0), 1);
  EXPECT_EQ(take_trace(0), "W F0E00830 03000000\n");
  EXPECT_EQ(decode(buffers[0], 2, false), model(s));
  // Without a pulse the wait has no limit; cancel capture wait ends it.
  Device second(path_of_id("C1"));
  EXPECT_EQ(run(1, [&] {
              std::vector<uint8_t> none;
              uint32_t err = 0;
              second.request(kCancelWait, none, 0, &err);
            }),
            vcam::kErrOperationAborted);
  cleanup();
}

TEST_F(CaptureWaits, RequestLogShowsBuffersWaitsAndHowTheyEnded) {
  attach(kExact);
  Shot s{2, 1, 0, 0, 64, 32, 40, false};
  setup(s);
  EXPECT_EQ(grab(0), 0u);
  EXPECT_EQ(grab(1), 0u);
  ASSERT_EQ(ucap_vcam_set(cam_id, "drop_frames=1"), 0);
  EXPECT_EQ(grab(1), vcam::kErrSemTimeout);
  wait_setup(3, 0);
  Device second(path_of_id("C1"));
  EXPECT_EQ(run(1, [&] {
              std::vector<uint8_t> none;
              uint32_t err = 0;
              EXPECT_TRUE(second.request(kCancelWait, none, 0, &err));
            }),
            vcam::kErrOperationAborted);
  cleanup();
  std::vector<uint8_t> again(8, 0), unknown(8, 0);
  put64(&again[0], resource);
  uint32_t err = 0;
  EXPECT_FALSE(dev->request(kFreeResources, again, 0, &err));
  EXPECT_FALSE(dev->request(0x222000, unknown, 0, &err));

  auto hex = [](uint64_t v) {
    std::ostringstream text;
    text << "0x" << std::hex << std::uppercase << v;
    return text.str();
  };
  const std::string bw = hex(bandwidth), res = hex(resource), bytes = std::to_string(bpp * ppf),
                    ch = std::to_string(channel);
  auto armed = [&](int b) {
    std::string n = std::to_string(b);
    return "select buffer=" + n + "\nattach buffer=" + n + " bytes=" + bytes + "\n";
  };
  const std::string expected =
      "node_address\nframe_buffer size=2097152\n"
      "wait_setup kind=0x80 timeout=3013 register=0xF0E0061C\n"
      "alloc_bandwidth bytes=" + std::to_string(bpp) + " speed=4 handle=" + bw + "\n"
      "alloc_channel channel=" + ch + "\n"
      "alloc_resources channel=" + ch + " bytes=" + std::to_string(bpp) + " buffers=1 size=" + bytes +
      " handle=" + res + "\n" +
      armed(0) + "attach_done buffer=0 frame=1\n" +
      armed(1) + "attach_done buffer=1 frame=2\n" +
      armed(1) + "attach_done buffer=1 error=121\n"
      "wait_setup kind=0x3 timeout=0 register=0xF0E00830\n"
      "node_address\n" +
      armed(0) + "cancel_wait\nattach_done buffer=0 error=995\n"
      "stop handle=" + res + "\nfree_resources handle=" + res + "\nfree_channel channel=" + ch + "\n"
      "free_bandwidth handle=" + bw + "\nfree_resources handle=" + res + " error=87\n"
      "ioctl code=0x222000 error=1\n";
  EXPECT_EQ(take_trace(cam_id, ucap_vcam_requests), expected);
  EXPECT_EQ(take_trace(cam_id, ucap_vcam_requests), "");  // read and cleared
}

class Concurrency : public VcamTest {};

TEST_F(Concurrency, CamerasCaptureWhileTheBusIsBusy) {
  Client a, b;
  // A slower clock than elsewhere: the capture wait's time-out shrinks with it, and the bus
  // traffic below starves the capture threads for a while on a loaded machine or under Wine.
  a.attach("sensor=64x64 noise=0 timescale=10", "A");
  b.attach("sensor=64x64 noise=0 timescale=10 scene=gradient", "B");
  Shot s{2, 1, 0, 0, 32, 16, 40, false};
  a.setup(s);
  b.setup(s);
  std::atomic<bool> stop{false};
  std::thread bus_traffic([&] {
    vcam::Overlapped ov;  // outlives the handle, whose close would complete it
    Device monitor(path_of_id("A"), true);
    uint32_t err = 0;
    while (!stop.load()) {
      vcam::ioctl_overlapped(monitor.handle(), kBusReset, nullptr, 0, nullptr, 0, &ov, &err);
      ucap_vcam_bus_reset();
      EXPECT_EQ(ov.status.load(), 0u);
      take_trace(a.cam_id);
      EXPECT_EQ(list_paths().size(), 2u);
      ucap_vcam_set(b.cam_id, "vendor3=5");
      vcam::bus_usage();
    }
  });
  auto stream = [](Client& c) {
    for (uint32_t i = 0; i < 12; ++i) EXPECT_EQ(c.grab(i % 2), 0u);
  };
  std::thread ta(stream, std::ref(a)), tb(stream, std::ref(b));
  ta.join();
  tb.join();
  stop.store(true);
  bus_traffic.join();
  EXPECT_EQ(ucap_vcam_frame_count(a.cam_id), 12);
  EXPECT_EQ(ucap_vcam_frame_count(b.cam_id), 12);
  EXPECT_EQ(a.decode(a.buffers[1], 2, false), a.model(s));
  EXPECT_EQ(b.decode(b.buffers[0], 2, false), b.model(s));
  EXPECT_NE(a.model(s), b.model(s));
  a.cleanup();
  b.cleanup();
}

// ---- the sensor model ---------------------------------------------------------------------

vcam::FrameGeometry full(int w, int h, uint32_t ticks, int mode = 2) { return {mode, 1, 0, 0, w, h, ticks}; }

TEST(SensorModel, DarkFramesSitAtTheBiasWithPatternsAndHotPixels) {
  vcam::SensorParams p;
  p.scene = vcam::Scene::kDark;
  p.noise = false;
  p.hot = 0;
  auto f = vcam::expected_frame(p, 512, 256, {}, full(512, 256, 4));  // 1 ms
  ASSERT_EQ(f.size(), 512u * 256);
  for (uint16_t v : f) {
    EXPECT_GE(v, 28);
    EXPECT_LE(v, 36);
  }
  double mean = 0;
  for (uint16_t v : f) mean += v;
  EXPECT_NEAR(mean / static_cast<double>(f.size()), 32.0, 1.0);
  // Columns differ (offset pattern); a long exposure shows dark current and hot pixels.
  EXPECT_NE(std::count(f.begin(), f.end(), f[0]), static_cast<std::ptrdiff_t>(f.size()));
  p.hot = 0.001;
  auto longer = vcam::expected_frame(p, 512, 256, {}, full(512, 256, 40000));  // 10 s: 200 counts
  std::vector<uint16_t> sorted = longer;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_NEAR(sorted[sorted.size() / 2], 232, 6);
  EXPECT_GT(sorted.back(), 2000);
}

TEST(SensorModel, SignalGrowsWithExposureAndClipsAt4095) {
  vcam::SensorParams p;
  p.scene = vcam::Scene::kFlat;
  p.noise = false;
  p.dark = 0;
  p.level = 1000;
  auto centre = [&](uint32_t ticks) {
    auto f = vcam::expected_frame(p, 256, 128, {}, full(256, 128, ticks));
    return static_cast<int>(f[64 * 256 + 128]);
  };
  int at100 = centre(400), at200 = centre(800);
  EXPECT_NEAR(at100 - 32, 1000, 40);
  EXPECT_NEAR(at200 - 32, 2 * (at100 - 32), 3);
  EXPECT_EQ(centre(4000), 4095);
}

TEST(SensorModel, RowPairsSumTheCoveredRows) {
  vcam::SensorParams p;
  p.noise = false;
  p.column_pattern = 0;
  p.row_pattern = 0;
  p.smear = 0;
  p.level = 500;
  auto single = vcam::expected_frame(p, 128, 64, {}, full(128, 64, 400, 2));
  for (bool color : {false, true}) {
    p.color_rows = color;
    for (int b : {1, 2, 3}) {
      SCOPED_TRACE(testing::Message() << "b " << b << " color rows " << color);
      vcam::FrameGeometry g{0, b, 0, 0, 128, 60 / (4 * b) * 4 * b, 400};
      auto pairs = vcam::expected_frame(p, 128, 64, {}, g);
      int rows = vcam::transferred_rows(g);
      ASSERT_EQ(pairs.size(), static_cast<size_t>(rows) * 128);
      std::vector<int> seen(64, 0);
      for (int i = 0; i < rows; ++i) {
        auto ys = vcam::covered_rows(g, i, 64, color);
        ASSERT_EQ(ys.size(), static_cast<size_t>(2 * b));
        for (int y : ys) {
          ++seen[static_cast<size_t>(y)];
          if (color || b == 1) {
            EXPECT_EQ(y % 2, i % 2);  // one mosaic color per row
          }
        }
        for (int x = 0; x < 128; x += 9) {
          int sum = 32;
          for (int y : ys) sum += single[static_cast<size_t>(y) * 128 + static_cast<size_t>(x)] - 32;
          EXPECT_NEAR(pairs[static_cast<size_t>(i) * 128 + static_cast<size_t>(x)], sum, ys.size());
        }
      }
      for (int y = 0; y < g.height; ++y) EXPECT_EQ(seen[static_cast<size_t>(y)], 1) << y;  // each row once
    }
  }
  // With binning 1, transferred rows cover top/top+2, top+1/top+3, top+4/top+6, ...
  vcam::FrameGeometry g{0, 1, 0, 8, 64, 16, 4};
  EXPECT_EQ(vcam::covered_rows(g, 0, 64), (std::vector<int>{8, 10}));
  EXPECT_EQ(vcam::covered_rows(g, 1, 64), (std::vector<int>{9, 11}));
  EXPECT_EQ(vcam::covered_rows(g, 2, 64), (std::vector<int>{12, 14}));
  EXPECT_EQ(vcam::covered_rows(g, 3, 64), (std::vector<int>{13, 15}));
  // Fields of binned rows: row i starts at the first row of its color from top + ib.
  vcam::FrameGeometry f{2, 2, 0, 0, 64, 16, 4};
  EXPECT_EQ(vcam::covered_rows(f, 0, 64), (std::vector<int>{0, 2}));
  EXPECT_EQ(vcam::covered_rows(f, 1, 64), (std::vector<int>{3, 5}));
  vcam::FrameGeometry f3{2, 3, 0, 0, 64, 18, 4};
  EXPECT_EQ(vcam::covered_rows(f3, 1, 64), (std::vector<int>{3, 5, 7}));
}

TEST(SensorModel, DefectsSmearAndNoise) {
  vcam::SensorParams p;
  p.scene = vcam::Scene::kFlat;
  p.noise = false;
  p.level = 500;
  p.dark = 0;
  p.smear = 0;
  p.vignette = 0;
  p.prnu = 0;
  p.hot = 0;
  p.column_pattern = 0;
  p.row_pattern = 0;
  std::vector<uint32_t> defects = {10 * 128 + 20, 30 * 128 + 41};
  auto f = vcam::expected_frame(p, 128, 64, defects, full(128, 64, 400));
  for (uint32_t d : defects) EXPECT_TRUE(f[d] == 4095 || f[d] == 32) << f[d];
  EXPECT_NEAR(f[10 * 128 + 22], 532, 1);

  p.smear = 1e-4;  // each row of an even column gains 1e-4 of the light above it: 0.05 counts per row
  auto s = vcam::expected_frame(p, 128, 64, {}, full(128, 64, 400));
  EXPECT_EQ(s[4], 532);
  EXPECT_NEAR(s[63 * 128 + 4] - 532, 63 * 500 * 1e-4, 1.0);
  EXPECT_EQ(s[63 * 128 + 5], 532);  // the odd columns do not smear
  p.scene = vcam::Scene::kBar;      // white over rows 8 to 23 of 64, dark elsewhere
  auto bar = vcam::expected_frame(p, 128, 64, {}, full(128, 64, 400));
  EXPECT_EQ(bar[7 * 128 + 5], 32);
  EXPECT_EQ(bar[8 * 128 + 5], 532);
  EXPECT_EQ(bar[23 * 128 + 5], 532);
  EXPECT_EQ(bar[24 * 128 + 5], 32);
  EXPECT_NEAR(bar[63 * 128 + 4] - 32, 16 * 500 * 1e-4, 0.5);  // the bar's smear below it
  p.scene = vcam::Scene::kFlat;

  p.smear = 0;
  p.noise = true;
  p.read_noise = 0;
  auto n1 = vcam::render_frame(p, 128, 64, {}, full(128, 64, 400), 1);
  auto n2 = vcam::render_frame(p, 128, 64, {}, full(128, 64, 400), 1);
  auto n3 = vcam::render_frame(p, 128, 64, {}, full(128, 64, 400), 2);
  EXPECT_EQ(n1, n2);  // seeded
  EXPECT_NE(n1, n3);  // but new for every exposure
  double mean = 0, var = 0;
  for (uint16_t v : n1) mean += v;
  mean /= static_cast<double>(n1.size());
  for (uint16_t v : n1) var += (v - mean) * (v - mean);
  var /= static_cast<double>(n1.size());
  EXPECT_NEAR(mean, 532, 2);
  EXPECT_NEAR(var, 500, 60);  // shot noise: variance equals the signal
}

TEST(SensorModel, WireLayoutOfFieldsAndPacking) {
  std::vector<uint16_t> s = {0xABE, 0xCDF, 1, 2, 3, 4, 5, 6};  // 2 columns, 4 rows
  std::vector<uint8_t> out(32, 0x55);
  vcam::encode_frame(s.data(), 2, 4, 0, true, out.data(), 12);
  EXPECT_EQ(out[0], 0xAB);
  EXPECT_EQ(out[1], 0xCD);
  EXPECT_EQ(out[2], 0xEF);
  EXPECT_EQ(out[12], 0x55);  // nothing beyond the frame
  vcam::encode_frame(s.data(), 2, 4, 2, false, out.data(), 16);
  const uint16_t order[] = {0xABE, 0xCDF, 3, 4, 1, 2, 5, 6};  // even rows, then odd rows
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[2 * i] | out[2 * i + 1] << 8, order[i]) << i;
  vcam::encode_frame(s.data(), 2, 4, 2, true, out.data(), 16);
  EXPECT_EQ(out[8], 0);  // the odd field starts at frame bytes / 2
  EXPECT_EQ(out[9], 0);
  EXPECT_EQ(out[10], 0x12);
  EXPECT_EQ(vcam::payload_bytes(2, 4, 2, true), 12u);
}

}  // namespace
}  // namespace vcam_test
