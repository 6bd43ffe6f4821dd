// The virtual camera's capture side where the library's tests do not reach it: isochronous
// books, attach records, lost frames, stamps, the request log, two cameras, the sensor model.
#include <algorithm>
#include <atomic>
#include <sstream>

#include "device/requests.h"
#include "flow/stage_adapters.h"
#include "support/camera_fixture.h"
#include "vcam/sensor.h"
#include "vcam_client.h"

namespace vcam_test {
namespace {

using ucap::Rect;

TEST_F(VcamTest, IsochronousBookkeepingHasLimitsAndCountsWhatEachCameraHolds) {
  ASSERT_EQ(ucap_vcam_attach("id=C1"), 0);
  ASSERT_EQ(ucap_vcam_attach("id=C2"), 1);
  auto dev = std::make_unique<Device>(path_of_id("C1"));
  Device other(path_of_id("C2"));
  uint32_t err = 0;
  auto bandwidth = [&](Device& d, uint32_t bytes, uint32_t speed) {
    std::vector<uint8_t> r = record32(24, {bytes, speed});
    return d.request(kAllocBandwidth, r, 24, &err) ? get64(&r[8]) : 0;
  };
  auto usage = [](int id) {
    UcapVcamUsage u{};
    EXPECT_EQ(ucap_vcam_usage(id, &u), 0);
    return std::vector<int>{u.handles,  u.notifications, u.frame_buffers,      u.bandwidth_handles,
                            u.channels, u.resources,     u.bandwidth_units > 0};
  };
  using V = std::vector<int>;
  const uint64_t first = bandwidth(*dev, 4096, 4);
  // Beyond the bus budget; too large for S200; no such speed.
  for (auto [d, bytes, speed, code] : {std::tuple{&other, 4096u, 4u, vcam::kErrNoSystemResources},
                                       {dev.get(), 4096u, 2u, vcam::kErrInvalidParameter},
                                       {dev.get(), 1024u, 3u, vcam::kErrInvalidParameter}}) {
    EXPECT_EQ(bandwidth(*d, bytes, speed), 0u) << speed;
    EXPECT_EQ(err, code) << speed;
  }
  auto channel = [&] {
    std::vector<uint8_t> c = record32(16, {0xFFFFFFFF});
    return dev->request(kAllocChannel, c, 16, &err);
  };
  int channels = 0;
  while (channels < 65 && channel()) ++channels;
  EXPECT_EQ(channels, 64);
  EXPECT_EQ(err, vcam::kErrNoSystemResources);
  std::vector<uint8_t> fc = record32(4, {17});
  EXPECT_TRUE(dev->request(kFreeChannel, fc, 0, &err));
  EXPECT_FALSE(dev->request(kFreeChannel, fc, 0, &err));  // not allocated any more
  EXPECT_EQ(err, vcam::kErrInvalidParameter);

  // Resources need an allocated channel and the fixed fields.
  std::vector<uint8_t> rs = record32(40, {4, 9, 17, 1024, 1, 4096, 1}), attempt = rs;
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
  const uint64_t handle = get64(&attempt[32]);
  std::vector<uint8_t> fb = record32(24, {4096, 4096});
  ASSERT_TRUE(dev->request(kFrameBuffer, fb, 24, &err));
  vcam::Overlapped ov;  // outlives the monitor handle, whose close ends its notification
  {
    Device monitor(path_of_id("C1"), true);
    vcam::ioctl_overlapped(monitor.handle(), kBusReset, nullptr, 0, nullptr, 0, &ov, &err);
    EXPECT_EQ(usage(0), (V{2, 1, 2, 1, 63, 1, 1}));
    EXPECT_EQ(usage(-1), (V{3, 1, 2, 1, 63, 1, 1}));
  }

  // Stop and free in either order, each refused once the resource is gone.
  std::vector<uint8_t> stop = record64(16, handle), fr = record64(8, handle), nothing(16, 0),
                       fbw = record64(8, first);
  EXPECT_TRUE(dev->request(kStop, stop, 0, &err));
  EXPECT_TRUE(dev->request(kFreeResources, fr, 0, &err));
  EXPECT_FALSE(dev->request(kFreeResources, fr, 0, &err));
  EXPECT_EQ(err, vcam::kErrInvalidParameter);
  EXPECT_FALSE(dev->request(kStop, stop, 0, &err));
  EXPECT_TRUE(dev->request(kStop, nothing, 0, &err));  // no resources yet: nothing to stop
  EXPECT_TRUE(dev->request(kFreeBandwidth, fbw, 0, &err));
  EXPECT_FALSE(dev->request(kFreeBandwidth, fbw, 0, &err));
  EXPECT_NE(bandwidth(other, 4096, 4), 0u);  // the budget is free again
  EXPECT_EQ(usage(0), (V{1, 0, 2, 0, 63, 0, 0}));

  // Unplugging gives back the frame buffers and channels, not the handle.
  ASSERT_EQ(ucap_vcam_detach(0), 0);
  EXPECT_EQ(usage(0), (V{1, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(usage(-1), (V{2, 0, 0, 1, 0, 0, 1}));  // the other camera's bandwidth
  dev.reset();
  EXPECT_EQ(usage(-1), (V{1, 0, 0, 1, 0, 0, 1}));
}

// A single shot of mode 2 (64 x 32, its bytes a packet of 4096) set up by the library.
class Capture : public ucap_test::CameraTest {
 protected:
  static inline int w_ = 64, h_ = 32;
  std::vector<std::string> cameras() const override {
    return {"sensor=256x192 noise=0 timescale=100"};
  }
  static void shot(int i = 0, bool packed = false) {
    ASSERT_EQ(UcapmEnablePacking(i, packed ? 1 : 0), 0);
    ASSERT_EQ(setup(2, Rect{0, 0, w_, h_}, 1, 40, 1, i), 0);
  }
  // Hands buffer b over and waits for the frame: 0, or the driver's error.
  static uint32_t grab(int b = 0, int i = 0) {
    ucap::platform::Lock lock(cam(i).lock);
    return ucap::device::hand_over(cam(i), cam(i).frame_buffer[b]) == 0
               ? 0u
               : ucap::platform::last_error();
  }
  // The samples of buffer b in row order.
  static std::vector<uint16_t> samples(int b, int i = 0) {
    uint8_t* frame = cam(i).frame_buffer[b];
    if (cam(i).packing != 0)
      ucap::UnpackPixels12(frame, ucap::device::frame_buffer_bytes(cam(i)), 2, w_, h_,
                           uint64_t{cam(i).bytes_per_packet} * cam(i).packets_per_frame);
    std::vector<uint16_t> out(static_cast<size_t>(w_ * h_));
    ucap::InterleaveFields(out.data(), reinterpret_cast<const uint16_t*>(frame), w_, h_);
    return out;
  }
  std::vector<uint16_t> model(int i = 0) const {
    std::vector<uint16_t> e;
    EXPECT_TRUE(vcam::expected_frame(ids[static_cast<size_t>(i)], {2, 1, 0, 0, w_, h_, 40}, &e));
    return e;
  }
  static vcam::Handle handle() { return reinterpret_cast<vcam::Handle>(cam().device); }
};

TEST_F(Capture, AttachRecordsAreCheckedAndUnheardFramesEndAtTheTimeOut) {
  shot();
  const uint32_t bytes = cam().bytes_per_packet * cam().packets_per_frame;
  const uint64_t h = cam().resource_handle;
  std::vector<uint8_t> good =
      record32(64, {static_cast<uint32_t>(h), static_cast<uint32_t>(h >> 32), 1, bytes, 0, 0, 1,
                    bytes, cam().bytes_per_packet, 1, 0, 0, 1, 1});
  const std::pair<size_t, uint32_t> bad[] = {{8, 2},  {16, 1}, {24, 0}, {28, 1}, {32, 8},
                                             {36, 0}, {40, 1}, {44, 1}, {48, 0}, {52, 2}};
  uint32_t got = 0, err = 0;
  for (auto [offset, value] : bad) {
    auto a = good;
    put32(&a[offset], value);
    EXPECT_FALSE(vcam::ioctl(handle(), kAttach, a.data(), 64, nullptr, 0, &got, &err)) << offset;
    EXPECT_EQ(err, vcam::kErrInvalidParameter) << offset;
  }
  put32(&good[0], static_cast<uint32_t>(h) + 1000);  // (h's high word kept)
  EXPECT_FALSE(vcam::ioctl(handle(), kAttach, good.data(), 64, nullptr, 0, &got, &err));
  EXPECT_EQ(ucap_vcam_frame_count(ids[0]), 0);
  // A frame on a channel or speed nobody hears is lost; without format 7 or offered mode, none.
  const uint32_t channel = cam().channel;
  const std::pair<uint32_t, uint32_t> wrong[] = {
      {kCmd + 0x60C, ((channel + 1) & 63) << 28 | 0x02000000},
      {kCmd + 0x60C, channel << 28 | 0x01000000},
      {kCmd + 0x608, 0x00000000},
      {kCmd + 0x604, 0x20000000}};
  for (auto [reg, value] : wrong) {
    uint32_t was = 0;
    ASSERT_EQ(ucap::device::quadlet_read(cam(), reg, &was), 0u);
    ASSERT_EQ(ucap::device::quadlet_write(cam(), reg, value), 0u);
    EXPECT_EQ(grab(), vcam::kErrSemTimeout) << std::hex << reg << " " << value;
    ASSERT_EQ(ucap::device::quadlet_write(cam(), reg, was), 0u);
  }
  EXPECT_EQ(grab(), 0u);
  EXPECT_EQ(cleanup(), 0);
}

TEST_F(Capture, FramesCarryTheirNumberAndOverrangeSamples) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "frame_stamp=1"), 0);
  struct Case {
    bool packed;
    const char* fault;
    uint16_t over;  // what the marked cells carry, 0: nothing marked
  };
  const Case cases[] = {{false, "overrange=1:1234", 0x1234},
                        {false, "", 0},
                        {true, "overrange=1", 0xFFF},
                        {true, "overrange=1:1234", 0x234}};
  uint16_t frame = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fault << " packed " << c.packed);
    shot(0, c.packed);
    ASSERT_EQ(ucap_vcam_set(ids[0], c.fault), 0);
    const int buffer = frame % 2;
    ASSERT_EQ(grab(buffer), 0u);
    std::vector<uint16_t> want = model();
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 64; ++x)
        if (c.over != 0 && (x / 2 + y / 2) % 2 == 0) want[static_cast<size_t>(y * 64 + x)] = c.over;
    want[0] = ++frame;
    want[1] = 0;
    EXPECT_EQ(samples(buffer), want);
    EXPECT_EQ(cleanup(), 0);
  }
}

TEST_F(Capture, RequestLogShowsBuffersWaitsAndHowTheyEnded) {
  shot();
  EXPECT_EQ(grab(0), 0u);
  EXPECT_EQ(grab(1), 0u);
  ASSERT_EQ(ucap_vcam_set(ids[0], "drop_frames=1"), 0);
  EXPECT_EQ(grab(1), vcam::kErrSemTimeout);
  auto hex = [](uint64_t v) {
    std::ostringstream text;
    text << "0x" << std::hex << std::uppercase << v;
    return text.str();
  };
  const std::string bw = hex(cam().bandwidth_handle), res = hex(cam().resource_handle),
                    packet = std::to_string(cam().bytes_per_packet),
                    bytes = std::to_string(cam().bytes_per_packet * cam().packets_per_frame),
                    ch = std::to_string(cam().channel);
  std::vector<uint8_t> again = record64(8, cam().resource_handle);
  EXPECT_EQ(cleanup(), 0);
  uint32_t got = 0, err = 0;
  EXPECT_FALSE(vcam::ioctl(handle(), kFreeResources, again.data(), 8, nullptr, 0, &got, &err));
  EXPECT_FALSE(vcam::ioctl(handle(), 0x222000, again.data(), 8, nullptr, 0, &got, &err));

  auto armed = [&](int b, const std::string& end) {
    const std::string n = std::to_string(b);
    return "select buffer=" + n + "\nattach buffer=" + n + " bytes=" + bytes +
           "\nattach_done buffer=" + n + end + "\n";
  };
  const std::string expected =
      "node_address\nframe_buffer size=298304\nwait_setup kind=0x80 timeout=3013 "
      "register=0xF0E0061C\nalloc_bandwidth bytes=" +
      packet + " speed=4 handle=" + bw + "\nalloc_channel channel=" + ch +
      "\nalloc_resources channel=" + ch + " bytes=" + packet + " buffers=1 size=" + bytes +
      " handle=" + res + "\n" + armed(0, " frame=1") + armed(1, " frame=2") +
      armed(1, " error=121") + "stop handle=" + res + "\nfree_resources handle=" + res +
      "\nfree_channel channel=" + ch + "\nfree_bandwidth handle=" + bw +
      "\nfree_resources handle=" + res + " error=87\nioctl code=0x222000 error=1\n";
  EXPECT_EQ(requests(ids[0]), expected);
  EXPECT_EQ(requests(ids[0]), "");  // read and cleared
}

// Two shots of 32 x 16 fit in the bus budget together.
class TwoCameras : public Capture {
 protected:
  void SetUp() override {
    w_ = 32;
    h_ = 16;
    Capture::SetUp();
  }
  void TearDown() override {
    Capture::TearDown();
    w_ = 64;
    h_ = 32;
  }
  std::vector<std::string> cameras() const override {  // slow clock: bus traffic starves
    return {"id=A sensor=64x64 noise=0 timescale=10",
            "id=B sensor=64x64 noise=0 timescale=10 scene=gradient"};
  }
};

TEST_F(TwoCameras, CaptureWhileTheBusIsBusy) {
  shot(0);
  shot(1);
  std::atomic<bool> stop{false};
  std::thread bus_traffic([&] {
    while (!stop.load()) {
      ucap_vcam_bus_reset();  // the library's monitor answers each
      trace(ids[0]);
      EXPECT_EQ(list_paths().size(), 2u);
      ucap_vcam_set(ids[1], "vendor3=5");
      vcam::bus_usage();
    }
  });
  auto stream = [](int i) {
    for (int k = 0; k < 12; ++k) EXPECT_EQ(grab(k % 2, i), 0u);
  };
  std::thread a(stream, 0), b(stream, 1);
  a.join();
  b.join();
  stop.store(true);
  bus_traffic.join();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(ucap_vcam_frame_count(ids[static_cast<size_t>(i)]), 12);
    EXPECT_EQ(samples(1, i), model(i));
    EXPECT_EQ(cleanup(i), 0);
  }
  EXPECT_NE(model(0), model(1));
}

vcam::FrameGeometry full(int w, int h, uint32_t ticks, int mode = 2) {
  return {mode, 1, 0, 0, w, h, ticks};
}

TEST(SensorModel, BiasDarkCurrentSignalAndNoise) {
  vcam::SensorParams p;
  p.scene = vcam::Scene::kDark;
  p.noise = false;
  p.hot = 0;
  auto f = vcam::expected_frame(p, 512, 256, {}, full(512, 256, 4));  // 1 ms: the bias
  ASSERT_EQ(f.size(), 512u * 256);
  const auto [lo, hi] = std::minmax_element(f.begin(), f.end());
  EXPECT_GE(*lo, 28);
  EXPECT_LE(*hi, 36);
  EXPECT_LT(*lo, *hi);
  p.hot = 0.001;
  p.dark = 20;
  f = vcam::expected_frame(p, 512, 256, {}, full(512, 256, 40000));  // 10 s: 200 counts of dark
  std::sort(f.begin(), f.end());
  EXPECT_NEAR(f[f.size() / 2], 232, 6);
  EXPECT_GT(f.back(), 2000);  // hot pixels

  p.scene = vcam::Scene::kFlat;
  p.level = 500;
  p.dark = p.smear = p.vignette = p.prnu = p.hot = p.column_pattern = p.row_pattern = 0;
  p.response = {1, 1, 1};
  auto centre = [&](uint32_t ticks) {
    return vcam::expected_frame(p, 128, 64, {}, full(128, 64, ticks))[32 * 128 + 64];
  };
  EXPECT_NEAR(centre(400), 532, 1);
  EXPECT_NEAR(centre(800), 1032, 1);
  EXPECT_EQ(centre(8000), 4095);
  p.noise = true;
  p.read_noise = 0;
  auto n1 = vcam::render_frame(p, 128, 64, {}, full(128, 64, 400), 1);
  EXPECT_EQ(n1, vcam::render_frame(p, 128, 64, {}, full(128, 64, 400), 1));  // seeded, but new
  EXPECT_NE(n1, vcam::render_frame(p, 128, 64, {}, full(128, 64, 400), 2));  // for every exposure
  double mean = 0, var = 0;
  for (uint16_t v : n1) mean += v;
  mean /= static_cast<double>(n1.size());
  for (uint16_t v : n1) var += (v - mean) * (v - mean);
  EXPECT_NEAR(mean, 532, 2);
  EXPECT_NEAR(var / static_cast<double>(n1.size()), 500, 60);  // shot noise: variance = signal
}

// Binning 1 pairs top/top+2, top+1/top+3, top+4/top+6; binned row i starts at top + ib.
TEST(SensorModel, RowPairsCoverTheDocumentedRows) {
  using G = vcam::FrameGeometry;
  using R = std::vector<int>;
  for (auto [g, row, rows] : {std::tuple{G{0, 1, 0, 8, 64, 16, 4}, 0, R{8, 10}},
                              {G{0, 1, 0, 8, 64, 16, 4}, 1, R{9, 11}},
                              {G{0, 1, 0, 8, 64, 16, 4}, 2, R{12, 14}},
                              {G{0, 1, 0, 8, 64, 16, 4}, 3, R{13, 15}},
                              {G{2, 2, 0, 0, 64, 16, 4}, 0, R{0, 2}},
                              {G{2, 2, 0, 0, 64, 16, 4}, 1, R{3, 5}},
                              {G{2, 3, 0, 0, 64, 18, 4}, 1, R{3, 5, 7}}})
    EXPECT_EQ(vcam::covered_rows(g, row, 64), rows) << row;
}

}  // namespace
}  // namespace vcam_test
