// ucapsrc: a camera of the library as a live GStreamer source (GstPushSrc).
//
// Threads: properties are set and read on any thread under the object lock; start() and
// stop() run on the thread that changes the state; create() runs on the streaming thread
// and owns the stream. A settings change while playing is picked up by the next create(),
// which stops the stream, applies the settings (or keeps the previous ones with a warning),
// renegotiates when the caps change and starts the stream again. unlock() only raises a
// flag that the frame wait polls.
#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture.h"
#include "errors.h"
#include "frame_layout.h"
#include "session.h"
#include "ucap/ucap.h"

GST_DEBUG_CATEGORY_STATIC(ucapsrc_debug);
#define GST_CAT_DEFAULT ucapsrc_debug

namespace {

// A frame that never arrives ends the stream inside the library; it is started again this
// often in a row before the element gives up with an error.
constexpr int kRestartsInARow = 3;
// Between two readiness checks of the library while a frame is on its way.
constexpr gulong kPollMicroseconds = 500;
constexpr int32_t kDefaultExposureUs = 100000;

// ---- the library, started once for every element that has started --------------------------
//
// UcapInit and UcapClose are process-wide: the first element to start starts the library
// (after attaching its virtual camera), the last to stop closes it. The full sensor of every
// camera is read right after the start, before any element changes the frame.
struct Library {
  std::mutex mutex;
  int users = 0;
  std::map<int, std::pair<uint32_t, uint32_t>> sensors;
};
Library& library() {
  static Library lib;
  return lib;
}

// Starts the library for one more user; throws a tool::Failure.
std::pair<uint32_t, uint32_t> open_library(int camera, const std::string& vcam) {
  Library& lib = library();
  std::lock_guard<std::mutex> lock(lib.mutex);
  if (lib.users == 0) {
    if (!vcam.empty()) tool::configure_virtual_cameras({vcam});
    UcapSetErrorMessages(0);  // the element posts its own messages
    tool::check(UcapInit(), "starting the library");
    lib.sensors.clear();
    for (int i = 0; i < UcapGetNumberofCameras(); ++i) {
      UcapRect frame{};
      if (UcapmGetCurrentFrameSize(i, &frame) == UCAP_OK)
        lib.sensors[i] = {static_cast<uint32_t>(frame.right - frame.left),
                          static_cast<uint32_t>(frame.bottom - frame.top)};
    }
  } else if (!vcam.empty()) {
    throw tool::Failure("vcam: the library is already started by another ucapsrc of this process");
  }
  const auto found = lib.sensors.find(camera);
  if (found == lib.sensors.end()) {
    if (lib.users == 0) UcapClose();
    throw tool::Failure("camera " + std::to_string(camera) + ": " +
                        tool::describe_code(UCAP_ERR_NO_CAMERA) +
                        "; cameras found: " + std::to_string(lib.sensors.size()));
  }
  ++lib.users;
  return found->second;
}

void close_library() {
  Library& lib = library();
  std::lock_guard<std::mutex> lock(lib.mutex);
  if (--lib.users == 0) UcapClose();
}

// "a,b,c" into numbers; nullopt unless there are exactly `count` of them.
template <typename T>
std::optional<std::vector<T>> parse_list(const std::string& text, size_t count) {
  std::vector<T> values;
  size_t at = 0;
  for (;;) {
    const size_t comma = std::min(text.find(',', at), text.size());
    T v{};
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + comma, v);
    if (error != std::errc() || end != text.data() + comma) return std::nullopt;
    values.push_back(v);
    if (comma == text.size()) break;
    at = comma + 1;
  }
  if (values.size() != count) return std::nullopt;
  return values;
}

// What the properties ask for.
struct Wanted {
  int camera = 0;
  int resolution = 0;
  int bits = 0;  // 0: the depth the resolution offers (36 where it offers both)
  int binning = 1;
  int exposure_us = kDefaultExposureUs;
  std::string roi, white_balance;  // "l,t,r,b" and "r,g,b"; empty: whole field, as it is
  bool color_processing = false;
  std::string black_ref, white_table, vcam;

  bool operator==(const Wanted&) const = default;

  tool::CaptureOptions capture_options() const {
    tool::CaptureOptions o;
    o.resolution = resolution;
    if (bits != 0) o.bits = bits;
    o.binning = binning;
    o.exposure = std::to_string(exposure_us) + "us";
    if (!roi.empty()) o.roi = *parse_list<int>(roi, 4);
    if (!white_balance.empty()) o.white_balance = *parse_list<double>(white_balance, 3);
    o.black_ref = black_ref;
    o.white_table = white_table;
    o.color_processing = color_processing;
    return o;
  }
};

// What the streaming thread knows.
struct Impl {
  Wanted wanted;         // object lock
  bool changed = false;  // object lock: wanted differs from what the camera runs with
  bool scale = true;     // object lock
  std::atomic<bool> flushing{false};
  std::atomic<guint64> dropped{0};
  std::atomic<GstClockTime> latency{0};

  // Between start() and stop(): the streaming thread in create(); the stream also in
  // change_state() under the live lock, which create() runs under.
  bool open = false;
  bool streaming = false;
  Wanted applied;
  std::pair<uint32_t, uint32_t> sensor;
  GstVideoInfo info;
  GstCaps* caps =
      nullptr;  // object lock for readers on other threads; written by start() and create()
  guint64 frames = 0;
};

}  // namespace

G_BEGIN_DECLS
#define GST_TYPE_UCAP_SRC (gst_ucap_src_get_type())
G_DECLARE_FINAL_TYPE(GstUcapSrc, gst_ucap_src, GST, UCAP_SRC, GstPushSrc)
struct _GstUcapSrc {
  GstPushSrc parent;
  Impl* impl;
};
G_END_DECLS

G_DEFINE_TYPE(GstUcapSrc, gst_ucap_src, GST_TYPE_PUSH_SRC)

enum {
  PROP_0,
  PROP_CAMERA,
  PROP_RESOLUTION,
  PROP_BITS,
  PROP_BINNING,
  PROP_EXPOSURE,
  PROP_ROI,
  PROP_COLOR_PROCESSING,
  PROP_WHITE_BALANCE,
  PROP_BLACK_REF,
  PROP_WHITE_TABLE,
  PROP_VCAM,
  PROP_SCALE,
  PROP_DROPPED,
};

static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS(
        "video/x-raw, format = (string) { GRAY16_LE, BGRA64_LE }, "
        "width = (int) [ 1, 4096 ], height = (int) [ 1, 4096 ], framerate = (fraction) 0/1"));

namespace {

Impl& impl(gpointer self) { return *GST_UCAP_SRC(self)->impl; }

// Applies what the properties ask for (read under the object lock) and works out the caps.
// Throws a tool::Failure; the camera may then hold part of the new settings.
void configure(GstUcapSrc* self, const Wanted& w) {
  Impl& s = *self->impl;
  tool::apply_capture_options(w.camera, s.sensor.first, s.sensor.second, w.capture_options());
  // A reference no longer asked for is switched off (the switch alone: its store stays).
  if (w.black_ref.empty()) UcapmSetBlackRef(w.camera, 0);
  if (w.white_table.empty()) UcapmSetWhiteRef(w.camera, 0);
  int32_t width = 0, height = 0;
  tool::check(UcapmGetCurrentDataSize(w.camera, &width, &height), "data size");
  const bool color = UcapmGetCurrentBitsPerPixel(w.camera) == 36;
  if (width < 1 || height < 1) throw tool::Failure("the settings give an empty image");
  gst_video_info_set_format(&s.info,
                            color ? GST_VIDEO_FORMAT_BGRA64_LE : GST_VIDEO_FORMAT_GRAY16_LE,
                            static_cast<guint>(width), static_cast<guint>(height));
  GST_VIDEO_INFO_FPS_N(&s.info) = 0;  // the camera's own pace: variable
  GST_VIDEO_INFO_FPS_D(&s.info) = 1;
  GstCaps* caps = gst_video_info_to_caps(&s.info);
  GST_OBJECT_LOCK(self);  // get_caps() reads them on any thread
  std::swap(caps, s.caps);
  GST_OBJECT_UNLOCK(self);
  gst_clear_caps(&caps);
  s.applied = w;
}

Wanted wanted_now(GstUcapSrc* self, bool* changed = nullptr) {
  GST_OBJECT_LOCK(self);
  Wanted w = self->impl->wanted;
  if (changed) {
    *changed = self->impl->changed;
    self->impl->changed = false;
  }
  GST_OBJECT_UNLOCK(self);
  return w;
}

void stop_stream(GstUcapSrc* self) {
  Impl& s = *self->impl;
  if (!s.streaming) return;
  // 11: the library had already ended the stream (last frame, missing frame, unplugged).
  const int32_t rc = UcapmAbortFastAcquisition(s.applied.camera);
  if (rc != UCAP_OK && rc != UCAP_ERR_THREAD)
    GST_WARNING_OBJECT(self, "abort: %s", tool::describe_code(rc).c_str());
  s.streaming = false;
}

gboolean start_stream(GstUcapSrc* self) {
  const int32_t rc = UcapmStartFastAcquisition(self->impl->applied.camera);
  if (rc != UCAP_OK) {
    GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("Could not start the camera's stream."),
                      ("%s", tool::describe_code(rc).c_str()));
    return FALSE;
  }
  self->impl->streaming = true;
  return TRUE;
}

// A settings change while playing: applied between two frames, or refused with a warning.
GstFlowReturn apply_change(GstUcapSrc* self) {
  Impl& s = *self->impl;
  stop_stream(self);
  const Wanted before = s.applied;
  Wanted w = wanted_now(self);
  if (w.camera != before.camera || w.vcam != before.vcam) {
    GST_ELEMENT_WARNING(self, RESOURCE, SETTINGS,
                        ("camera and vcam take effect at the next start."), (nullptr));
    w.camera = before.camera;
    w.vcam = before.vcam;
  }
  GstCaps* old_caps = gst_caps_ref(s.caps);
  try {
    configure(self, w);
  } catch (const std::exception& e) {
    GST_ELEMENT_WARNING(self, RESOURCE, SETTINGS,
                        ("Settings refused, the stream goes on with the previous ones."),
                        ("%s", e.what()));
    GST_OBJECT_LOCK(self);
    s.wanted = before;
    GST_OBJECT_UNLOCK(self);
    try {
      configure(self, before);
    } catch (const std::exception& again) {
      gst_caps_unref(old_caps);
      GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("The previous settings were refused too."),
                        ("%s", again.what()));
      return GST_FLOW_ERROR;
    }
  }
  const bool renegotiate = !gst_caps_is_equal(old_caps, s.caps);
  gst_caps_unref(old_caps);
  if (renegotiate && !gst_base_src_negotiate(GST_BASE_SRC(self))) {
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("Downstream refused the new image size or format."),
                      (nullptr));
    return GST_FLOW_NOT_NEGOTIATED;
  }
  return GST_FLOW_OK;
}

GstClockTime running_time(GstUcapSrc* self) {
  GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
  if (!clock) return GST_CLOCK_TIME_NONE;
  const GstClockTime now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(self));
  return now >= base ? now - base : 0;
}

// Waits for the next frame and has the library process it into `data`. GST_FLOW_OK with
// `arrived` set to the running time of the check that found it.
GstFlowReturn next_frame(GstUcapSrc* self, uint16_t* data, gsize size, GstClockTime* arrived) {
  Impl& s = *self->impl;
  const int camera = s.applied.camera;
  const int32_t bytes = static_cast<int32_t>(std::min<gsize>(size, G_MAXINT32));
  int restarts = 0;
  for (;;) {
    if (s.flushing.load()) return GST_FLOW_FLUSHING;
    if (!s.streaming && !start_stream(self)) return GST_FLOW_ERROR;
    // num-buffers: the last buffer is the stream's last frame.
    const int32_t go_on = GST_BASE_SRC(self)->num_buffers_left == 0 ? 0 : 1;
    const GstClockTime checked = running_time(self);
    const int32_t r = UcapmIsFastAcquisitionReady(camera, data, bytes, go_on);
    if (r == 1) {
      if (go_on == 0) s.streaming = false;
      *arrived = checked;
      return GST_FLOW_OK;
    }
    if (r == 0) {
      g_usleep(kPollMicroseconds);
      continue;
    }
    s.streaming = false;  // every negative answer has ended the stream
    if (r == -UCAP_ERR_CAPTURE_WAIT && ++restarts <= kRestartsInARow) {
      const guint64 dropped = ++s.dropped;
      GST_ELEMENT_WARNING(
          self, STREAM, FAILED,
          ("A frame never arrived; the stream goes on (%" G_GUINT64_FORMAT " dropped).", dropped),
          ("frame wait: %s", tool::describe_code(-r).c_str()));
      g_object_notify(G_OBJECT(self), "dropped-frames");
      continue;
    }
    if (r == -UCAP_ERR_NO_CAMERA) {
      GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("The camera is gone (unplugged?)."),
                        ("frame wait: %s", tool::describe_code(-r).c_str()));
    } else {
      GST_ELEMENT_ERROR(self, RESOURCE, READ, ("The camera's stream failed."),
                        ("%s%s", tool::describe_code(-r).c_str(),
                         restarts > kRestartsInARow ? ", frames stopped arriving" : ""));
    }
    return GST_FLOW_ERROR;
  }
}

// ---- GstBaseSrc / GstPushSrc ---------------------------------------------------------------

gboolean ucap_start(GstBaseSrc* base) {
  GstUcapSrc* self = GST_UCAP_SRC(base);
  Impl& s = *self->impl;
  bool changed = false;
  const Wanted w = wanted_now(self, &changed);
  try {
    s.sensor = open_library(w.camera, w.vcam);
  } catch (const std::exception& e) {
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("Could not open the camera."), ("%s", e.what()));
    return FALSE;
  }
  s.open = true;
  try {
    configure(self, w);
  } catch (const std::exception& e) {
    GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("The camera refused the settings."),
                      ("%s", e.what()));
    close_library();  // a start that fails is not followed by stop()
    s.open = false;
    return FALSE;
  }
  s.frames = 0;
  s.dropped = 0;
  s.latency = 0;
  return TRUE;
}

gboolean ucap_stop(GstBaseSrc* base) {
  GstUcapSrc* self = GST_UCAP_SRC(base);
  Impl& s = *self->impl;
  stop_stream(self);
  if (s.open) close_library();
  s.open = false;
  GST_OBJECT_LOCK(self);
  gst_clear_caps(&s.caps);
  GST_OBJECT_UNLOCK(self);
  return TRUE;
}

GstCaps* ucap_get_caps(GstBaseSrc* base, GstCaps* filter) {
  Impl& s = impl(base);
  GST_OBJECT_LOCK(base);
  GstCaps* caps = s.caps ? gst_caps_ref(s.caps) : nullptr;
  GST_OBJECT_UNLOCK(base);
  if (!caps) caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(base));
  if (filter) {
    GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    caps = both;
  }
  return caps;
}

// Downstream may offer no pool (fakesink, appsink): a video pool of our own then, so that the
// frames are written into buffers that come back instead of fresh allocations.
gboolean ucap_decide_allocation(GstBaseSrc* base, GstQuery* query) {
  GstCaps* caps = nullptr;
  gst_query_parse_allocation(query, &caps, nullptr);
  const guint size = static_cast<guint>(impl(base).info.size);
  GstBufferPool* pool = nullptr;
  guint min = 0, max = 0, proposed = 0;
  const bool offered = gst_query_get_n_allocation_pools(query) > 0;
  if (offered) gst_query_parse_nth_allocation_pool(query, 0, &pool, &proposed, &min, &max);
  if (!pool) pool = gst_video_buffer_pool_new();
  GstStructure* config = gst_buffer_pool_get_config(pool);
  gst_buffer_pool_config_set_params(config, caps, size, min, max);
  gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
  if (!gst_buffer_pool_set_config(pool, config)) {
    config = gst_buffer_pool_get_config(pool);
    if (!gst_buffer_pool_config_validate_params(config, caps, size, min, max) ||
        !gst_buffer_pool_set_config(pool, config)) {
      gst_object_unref(pool);
      return FALSE;
    }
  }
  if (offered)
    gst_query_set_nth_allocation_pool(query, 0, pool, size, min, max);
  else
    gst_query_add_allocation_pool(query, pool, size, min, max);
  gst_object_unref(pool);
  return GST_BASE_SRC_CLASS(gst_ucap_src_parent_class)->decide_allocation(base, query);
}

// Processing takes time after a frame's arrival stamp: the latency is the longest so far.
gboolean ucap_query(GstBaseSrc* base, GstQuery* query) {
  if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
    gst_query_set_latency(query, TRUE, impl(base).latency.load(), GST_CLOCK_TIME_NONE);
    return TRUE;
  }
  return GST_BASE_SRC_CLASS(gst_ucap_src_parent_class)->query(base, query);
}

gboolean ucap_unlock(GstBaseSrc* base) {
  impl(base).flushing = true;
  return TRUE;
}

gboolean ucap_unlock_stop(GstBaseSrc* base) {
  impl(base).flushing = false;
  return TRUE;
}

GstFlowReturn ucap_create(GstPushSrc* push, GstBuffer** out) {
  GstUcapSrc* self = GST_UCAP_SRC(push);
  GstBaseSrc* base = GST_BASE_SRC(push);
  Impl& s = *self->impl;
  GST_OBJECT_LOCK(self);
  const bool changed = s.changed;
  s.changed = false;
  const bool scale = s.scale;
  GST_OBJECT_UNLOCK(self);
  if (changed) {
    const GstFlowReturn rc = apply_change(self);
    if (rc != GST_FLOW_OK) return rc;
  }
  GstBuffer* buffer = nullptr;
  GstFlowReturn rc =
      GST_BASE_SRC_CLASS(gst_ucap_src_parent_class)->alloc(base, s.frames, s.info.size, &buffer);
  if (rc != GST_FLOW_OK) return rc;
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE) || map.size < s.info.size) {
    gst_buffer_unref(buffer);
    GST_ELEMENT_ERROR(self, RESOURCE, NO_SPACE_LEFT, ("No buffer for the frame."), (nullptr));
    return GST_FLOW_ERROR;
  }
  auto* data = reinterpret_cast<uint16_t*>(map.data);
  GstClockTime arrived = GST_CLOCK_TIME_NONE;
  rc = next_frame(self, data, map.size, &arrived);
  if (rc == GST_FLOW_OK) {
    const int channels = GST_VIDEO_INFO_N_COMPONENTS(&s.info) == 1 ? 1 : 3;
    ucap_gst::lay_out_frame(data, GST_VIDEO_INFO_WIDTH(&s.info), GST_VIDEO_INFO_HEIGHT(&s.info),
                            channels, GST_VIDEO_INFO_PLANE_STRIDE(&s.info, 0) / 2, scale);
  }
  gst_buffer_unmap(buffer, &map);
  if (rc != GST_FLOW_OK) {
    gst_buffer_unref(buffer);
    if (rc == GST_FLOW_FLUSHING) stop_stream(self);  // paused or stopping: nothing stays set up
    return rc;
  }
  if (GST_CLOCK_TIME_IS_VALID(arrived)) {
    const GstClockTime done = running_time(self);
    if (done > arrived && done - arrived > s.latency.load()) {
      s.latency = done - arrived;
      gst_element_post_message(GST_ELEMENT(self), gst_message_new_latency(GST_OBJECT(self)));
    }
  }
  GST_BUFFER_PTS(buffer) = arrived;
  GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
  GST_BUFFER_DURATION(buffer) = GST_CLOCK_TIME_NONE;
  GST_BUFFER_OFFSET(buffer) = s.frames;
  GST_BUFFER_OFFSET_END(buffer) = ++s.frames;
  *out = buffer;
  return GST_FLOW_OK;
}

// A live source is not asked for frames while paused: the camera's stream is stopped too.
GstStateChangeReturn ucap_change_state(GstElement* element, GstStateChange transition) {
  const GstStateChangeReturn rc =
      GST_ELEMENT_CLASS(gst_ucap_src_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_PLAYING_TO_PAUSED) {
    g_mutex_lock(
        &GST_BASE_SRC(element)->live_lock);  // held by the streaming thread around create()
    stop_stream(GST_UCAP_SRC(element));
    g_mutex_unlock(&GST_BASE_SRC(element)->live_lock);
  }
  return rc;
}

// ---- properties ------------------------------------------------------------------------------

void set_string(std::string& to, const GValue* value) {
  const char* text = g_value_get_string(value);
  to = text ? text : "";
}

void ucap_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  GstUcapSrc* self = GST_UCAP_SRC(object);
  Impl& s = *self->impl;
  GST_OBJECT_LOCK(self);
  Wanted& w = s.wanted;
  const Wanted before = w;
  switch (id) {
    case PROP_CAMERA: w.camera = g_value_get_int(value); break;
    case PROP_RESOLUTION: w.resolution = g_value_get_int(value); break;
    case PROP_BITS: w.bits = g_value_get_int(value); break;
    case PROP_BINNING: w.binning = g_value_get_int(value); break;
    case PROP_EXPOSURE: w.exposure_us = g_value_get_int(value); break;
    case PROP_COLOR_PROCESSING: w.color_processing = g_value_get_boolean(value); break;
    case PROP_BLACK_REF: set_string(w.black_ref, value); break;
    case PROP_WHITE_TABLE: set_string(w.white_table, value); break;
    case PROP_VCAM: set_string(w.vcam, value); break;
    case PROP_SCALE: s.scale = g_value_get_boolean(value); break;
    case PROP_ROI:
    case PROP_WHITE_BALANCE: {
      std::string text;
      set_string(text, value);
      const bool roi = id == PROP_ROI;
      const bool good = text.empty() || (roi ? parse_list<int>(text, 4).has_value()
                                             : parse_list<double>(text, 3).has_value());
      if (good) {
        (roi ? w.roi : w.white_balance) = text;
      } else {
        GST_OBJECT_UNLOCK(self);
        g_warning("ucapsrc: %s \"%s\" ignored: give %s", pspec->name, text.c_str(),
                  roi ? "left,top,right,bottom" : "red,green,blue");
        return;
      }
      break;
    }
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
  }
  if (!(w == before)) s.changed = true;
  GST_OBJECT_UNLOCK(self);
}

void ucap_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  GstUcapSrc* self = GST_UCAP_SRC(object);
  Impl& s = *self->impl;
  GST_OBJECT_LOCK(self);
  const Wanted& w = s.wanted;
  switch (id) {
    case PROP_CAMERA: g_value_set_int(value, w.camera); break;
    case PROP_RESOLUTION: g_value_set_int(value, w.resolution); break;
    case PROP_BITS: g_value_set_int(value, w.bits); break;
    case PROP_BINNING: g_value_set_int(value, w.binning); break;
    case PROP_EXPOSURE: g_value_set_int(value, w.exposure_us); break;
    case PROP_ROI: g_value_set_string(value, w.roi.c_str()); break;
    case PROP_COLOR_PROCESSING: g_value_set_boolean(value, w.color_processing); break;
    case PROP_WHITE_BALANCE: g_value_set_string(value, w.white_balance.c_str()); break;
    case PROP_BLACK_REF: g_value_set_string(value, w.black_ref.c_str()); break;
    case PROP_WHITE_TABLE: g_value_set_string(value, w.white_table.c_str()); break;
    case PROP_VCAM: g_value_set_string(value, w.vcam.c_str()); break;
    case PROP_SCALE: g_value_set_boolean(value, s.scale); break;
    case PROP_DROPPED: g_value_set_uint64(value, s.dropped.load()); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
  }
  GST_OBJECT_UNLOCK(self);
}

void ucap_finalize(GObject* object) {
  GstUcapSrc* self = GST_UCAP_SRC(object);
  gst_clear_caps(&self->impl->caps);
  delete self->impl;
  G_OBJECT_CLASS(gst_ucap_src_parent_class)->finalize(object);
}

constexpr auto kReadWrite = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                     GST_PARAM_MUTABLE_PLAYING);

// camera and vcam are read when the element starts.
constexpr auto kReadAtStart =
    static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY);

void install_int(GObjectClass* klass, guint id, const char* name, const char* blurb, int min,
                 int max, int value, GParamFlags flags = kReadWrite) {
  g_object_class_install_property(klass, id,
                                  g_param_spec_int(name, name, blurb, min, max, value, flags));
}
void install_string(GObjectClass* klass, guint id, const char* name, const char* blurb,
                    GParamFlags flags = kReadWrite) {
  g_object_class_install_property(klass, id, g_param_spec_string(name, name, blurb, "", flags));
}
void install_boolean(GObjectClass* klass, guint id, const char* name, const char* blurb,
                     gboolean value) {
  g_object_class_install_property(klass, id,
                                  g_param_spec_boolean(name, name, blurb, value, kReadWrite));
}

}  // namespace

static void gst_ucap_src_class_init(GstUcapSrcClass* klass) {
  auto* object = G_OBJECT_CLASS(klass);
  auto* element = GST_ELEMENT_CLASS(klass);
  auto* base = GST_BASE_SRC_CLASS(klass);
  object->set_property = ucap_set_property;
  object->get_property = ucap_get_property;
  object->finalize = ucap_finalize;

  install_int(object, PROP_CAMERA, "camera", "Camera index (read at start)", 0, G_MAXINT, 0,
              kReadAtStart);
  install_int(object, PROP_RESOLUTION, "resolution",
              "0 full color, 1 half resolution, 2 interlaced color, 3 interlaced grey", 0, 3, 0);
  install_int(
      object, PROP_BITS, "bits",
      "Bits per pixel: 36 color (BGRA64_LE), 12 grey (GRAY16_LE); 0: what the resolution offers, "
      "36 where it offers both",
      0, 36, 0);
  install_int(object, PROP_BINNING, "binning",
              "Binning factor (which ones a resolution allows: see the library)", 1, 5, 1);
  install_int(object, PROP_EXPOSURE, "exposure", "Exposure in microseconds", 250, 60000000,
              kDefaultExposureUs);
  install_string(
      object, PROP_ROI, "roi",
      "Region \"left,top,right,bottom\" in the resolution's coordinates (right, bottom exclusive); "
      "empty: the whole field");
  install_boolean(object, PROP_COLOR_PROCESSING, "color-processing",
                  "Apply the color matrix to color images", FALSE);
  install_string(object, PROP_WHITE_BALANCE, "white-balance",
                 "White balance \"red,green,blue\"; empty: the camera's own");
  install_string(object, PROP_BLACK_REF, "black-ref",
                 "Black reference file of the ucap tool (.ucapref) to load and switch on");
  install_string(object, PROP_WHITE_TABLE, "white-table",
                 "White table file of the ucap tool (.ucapref) to load and switch on");
  install_string(
      object, PROP_VCAM, "vcam",
      "Virtual camera configuration (\"key=value ...\", see ucap/vcam.h) attached in place of "
      "every other camera when the library starts; for trying and testing (read at start)",
      kReadAtStart);
  install_boolean(
      object, PROP_SCALE, "scale-16bit",
      "Widen the 12-bit values to the full 16-bit range (v << 4 | v >> 8: 4095 becomes 65535), so "
      "that downstream elements show the right brightness; false: the library's values 0..4095",
      TRUE);
  g_object_class_install_property(
      object, PROP_DROPPED,
      g_param_spec_uint64("dropped-frames", "dropped-frames",
                          "Frames that never arrived since the start", 0, G_MAXUINT64, 0,
                          static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

  gst_element_class_set_static_metadata(
      element, "ucap camera source", "Source/Video/Hardware",
      "Images of a ucap 1394 microscopy camera (live, fast acquisition)", "ucap");
  gst_element_class_add_static_pad_template(element, &src_template);
  element->change_state = ucap_change_state;
  base->start = ucap_start;
  base->stop = ucap_stop;
  base->get_caps = ucap_get_caps;
  base->decide_allocation = ucap_decide_allocation;
  base->query = ucap_query;
  base->unlock = ucap_unlock;
  base->unlock_stop = ucap_unlock_stop;
  GST_PUSH_SRC_CLASS(klass)->create = ucap_create;
}

static void gst_ucap_src_init(GstUcapSrc* self) {
  self->impl = new Impl;
  gst_video_info_init(&self->impl->info);
  gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
  gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

static gboolean plugin_init(GstPlugin* plugin) {
  GST_DEBUG_CATEGORY_INIT(ucapsrc_debug, "ucapsrc", 0, "ucap camera source");
  return gst_element_register(plugin, "ucapsrc", GST_RANK_NONE, GST_TYPE_UCAP_SRC);
}

#define PACKAGE "ucap"  // GST_PLUGIN_DEFINE names the package by this macro
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, ucap, "ucap camera source", plugin_init,
                  UCAP_VERSION, "unknown", "ucap", "ucap")
