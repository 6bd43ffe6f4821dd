// ucap serve: the live view and control page. An HTTP server (cpp-httplib, its own pool of
// request threads) in front of one LiveCamera per camera that a page views. Every request
// passes the door first: the Host must name this server, beyond loopback a token is needed,
// and requests that change anything must come from the page itself.
#include <httplib.h>

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "commands.h"
#include "errors.h"
#include "progress.h"
#include "serve_live.h"
#include "ucap/ucap.h"

namespace tool {

extern const char kServePage[];  // the page, compiled in from web/index.html

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr size_t kMaxBody = 16 * 1024;
constexpr int kMaxStreams = 32;
constexpr int kRequestThreads = kMaxStreams + 16;

// A request the server turns down with 400 and this message.
struct BadRequest : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string base64(const std::string& bytes) {
  static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = uint32_t{uint8_t(bytes[i])} << 16 | uint32_t{uint8_t(bytes[i + 1])} << 8 |
                       uint8_t(bytes[i + 2]);
    for (int s : {18, 12, 6, 0}) out += digits[v >> s & 63];
  }
  if (i < bytes.size()) {
    const uint32_t v = uint32_t{uint8_t(bytes[i])} << 16 |
                       (i + 1 < bytes.size() ? uint32_t{uint8_t(bytes[i + 1])} << 8 : 0);
    out += digits[v >> 18 & 63];
    out += digits[v >> 12 & 63];
    out += i + 1 < bytes.size() ? digits[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

int int_param(const httplib::Request& req, const char* name, int lo, int hi, int fallback) {
  if (!req.has_param(name)) return fallback;
  const std::string text = req.get_param_value(name);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < lo || value > hi)
    throw BadRequest(std::string("parameter ") + name + ": give a whole number from " +
                     std::to_string(lo) + " to " + std::to_string(hi));
  return value;
}

json body_of(const httplib::Request& req, const std::set<std::string>& keys) {
  json body = req.body.empty() ? json::object() : json::parse(req.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) throw BadRequest("the body is not a JSON object");
  for (const auto& [key, value] : body.items())
    if (!keys.count(key)) throw BadRequest("unknown field \"" + key + "\"");
  return body;
}

int int_field(const json& body, const char* key, int lo, int hi) {
  const json& v = body.at(key);
  if (!v.is_number_integer() || v.get<int64_t>() < lo || v.get<int64_t>() > hi)
    throw BadRequest(std::string(key) + ": give a whole number from " + std::to_string(lo) +
                     " to " + std::to_string(hi));
  return v.get<int>();
}

bool bool_field(const json& body, const char* key) {
  if (!body.at(key).is_boolean()) throw BadRequest(std::string(key) + ": give true or false");
  return body.at(key).get<bool>();
}

std::string string_field(const json& body, const char* key, size_t longest = 256) {
  if (!body.at(key).is_string() || body.at(key).get<std::string>().size() > longest)
    throw BadRequest(std::string(key) + ": give a text of at most " + std::to_string(longest) +
                     " characters");
  return body.at(key).get<std::string>();
}

// A rectangle [left, top, right, bottom] of whole numbers, or null for none.
std::vector<int> box_field(const json& body, const char* key) {
  const json& v = body.at(key);
  if (v.is_null()) return {};
  if (!v.is_array() || v.size() != 4)
    throw BadRequest(std::string(key) + ": give [left, top, right, bottom] or null");
  std::vector<int> box;
  for (const json& n : v) {
    if (!n.is_number_integer() || n.get<int64_t>() < 0 || n.get<int64_t>() > 65535)
      throw BadRequest(std::string(key) + ": give whole numbers from 0 to 65535");
    box.push_back(n.get<int>());
  }
  if (box[2] <= box[0] || box[3] <= box[1])
    throw BadRequest(std::string(key) + ": right and bottom must exceed left and top");
  return box;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string random_token() {
  std::random_device device;
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", device());
    token += part;
  }
  return token;
}

bool same_text(const std::string& a, const std::string& b) {
  unsigned diff = a.size() != b.size();
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) diff |= static_cast<unsigned>(a[i] ^ b[i]);
  return diff == 0;
}

// The capture options that give a camera the settings `now` (the JSON of read_settings).
CaptureOptions options_of(const json& now) {
  CaptureOptions options;
  options.resolution = now.at("resolution").get<int>();
  options.bits = now.at("bits").get<int>();
  options.binning = now.at("binning").get<int>();
  options.roi = now.at("roi").get<std::vector<int>>();
  options.exposure = std::to_string(now.at("exposure_us").get<int>()) + "us";
  options.color_processing = now.at("color_processing").get<bool>();
  options.white_balance = now.at("white_balance").get<std::vector<double>>();
  return options;
}

// A camera's black reference store or white table as the library holds it (camera thread).
Reference reference_of(const LiveCamera& cam, ReferenceKind kind) {
  const auto w = static_cast<uint32_t>(cam.session().sensor_width());
  const auto h = static_cast<uint32_t>(cam.session().sensor_height());
  Reference ref{kind, w, h, std::vector<uint16_t>(reference_words(kind, w, h))};
  check(kind == ReferenceKind::kBlack
            ? UcapmSaveBlackRef(cam.index(), ref.words.data(),
                                static_cast<int32_t>(ref.words.size() * 2))
            : UcapmGetWhiteTable(cam.index(), ref.words.data()),
        "reading the reference");
  return ref;
}

// Hands a reference to the library and switches it on (camera thread).
void install_reference(const LiveCamera& cam, const Reference& ref, const std::string& what) {
  const int i = cam.index();
  if (ref.kind == ReferenceKind::kBlack) {
    check(UcapmRestoreBlackRef(i, ref.words.data(), static_cast<int32_t>(ref.words.size() * 2)),
          what);
    check(UcapmSetBlackRef(i, 1), "switching the black reference on");
  } else {
    check(UcapmSetWhiteTable(i, ref.words.data()), what);
    check(UcapmSetWhiteRef(i, 1), "switching the white reference on");
  }
}

class Server {
 public:
  Server(const Session& session, const ServeOptions& options)
      : session_(session), options_(options), output_dir_(fs::canonical(options.output_dir)) {
    hosts_ = {lower(options.listen), "localhost", "127.0.0.1"};
    for (const auto& host : options.allowed_hosts) hosts_.insert(lower(host));
    const bool loopback =
        options.listen == "127.0.0.1" || options.listen == "::1" || options.listen == "localhost";
    token_ = options.token.empty() && !loopback ? random_token() : options.token;
    routes();
  }

  int run() {
    http_.new_task_queue = [] { return new httplib::ThreadPool(kRequestThreads); };
    http_.set_payload_max_length(kMaxBody);
    http_.set_read_timeout(5, 0);
    http_.set_write_timeout(5, 0);
    const int port =
        options_.port == 0
            ? http_.bind_to_any_port(options_.listen)
            : (http_.bind_to_port(options_.listen, options_.port) ? options_.port : -1);
    if (port < 0)
      throw Failure("cannot listen on " + options_.listen + ":" + std::to_string(options_.port));
    port_ = port;
    camera(session_.index());  // the camera asked for goes live at once
    const std::string host = options_.listen.find(':') != std::string::npos
                                 ? "[" + options_.listen + "]"
                                 : options_.listen;
    std::printf("ucap serve: open http://%s:%d/%s\n", host.c_str(), port,
                token_.empty() ? "" : ("?token=" + token_).c_str());
    std::printf("ucap serve: files go to %s; Ctrl-C ends\n", output_dir_.string().c_str());
    std::fflush(stdout);
    std::thread watch([this] {
      Plugs plugs{session_.count()};
      for (int tick = 0; !stopping_.load(); ++tick) {
        if (interrupts() > 0) stop();
        if (tick % 5 == 0) watch_plugs(plugs);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
    const bool ok = http_.listen_after_bind();
    stop();
    watch.join();
    std::lock_guard lock(mutex_);
    cameras_.clear();
    return ok || interrupts() > 0 ? 0 : kExitFailure;
  }

  void stop() {
    if (!stopping_.exchange(true)) http_.stop();
  }

 private:
  // Unplugging as the watcher follows it: the cameras discovery found at the last look, the
  // fewest since a camera went away, and when the library last started anew.
  struct Plugs {
    int started, fewest = started;
    std::chrono::steady_clock::time_point restarted{};
  };

  // The library keeps the cameras it found at its start: one unplugged and plugged in again
  // works only after a new start. While a viewed camera is away, discovery looks twice a
  // second; once it finds more cameras than it did since, or as many as at the start, the
  // library starts anew (at most every 3 s).
  void watch_plugs(Plugs& plugs) {
    std::vector<LiveCamera*> cams;
    {
      std::lock_guard lock(mutex_);
      for (auto& [i, cam] : cameras_) cams.push_back(cam.get());
    }
    if (std::none_of(cams.begin(), cams.end(),
                     [](LiveCamera* c) { return c->status().state == "unplugged"; })) {
      plugs.fewest = plugs.started;
      return;
    }
    const int found = UcapGetNumberofCameras();
    const auto now = std::chrono::steady_clock::now();
    if (found > plugs.fewest ||
        (found >= plugs.started && now - plugs.restarted > std::chrono::seconds(3))) {
      restart_library(cams);
      plugs.restarted = now;
      plugs.fewest = found;
    }
    plugs.fewest = std::min(plugs.fewest, found);
  }

  // Parks every camera's thread between frames (each first reads what the new start would
  // lose: settings and references), closes and starts the library, and lets every camera
  // take its settings and references back.
  void restart_library(const std::vector<LiveCamera*>& cams) {
    struct Gate {
      std::mutex mutex;
      std::condition_variable changed;
      size_t parked = 0;
      bool open = false;
    };
    auto gate = std::make_shared<Gate>();
    for (LiveCamera* cam : cams)
      cam->post([cam, gate] {
        const json now = json::parse(cam->settings());
        std::optional<Reference> black, white;
        try {
          if (now.value("has_black_ref", false)) black = reference_of(*cam, ReferenceKind::kBlack);
          if (now.value("has_white_ref", false)) white = reference_of(*cam, ReferenceKind::kWhite);
        } catch (const Failure&) {}
        {
          std::unique_lock lock(gate->mutex);
          ++gate->parked;
          gate->changed.notify_all();
          gate->changed.wait(lock, [&] { return gate->open; });
        }
        if (!now.contains("resolution")) return;
        try {
          apply_capture_options(cam->session(), options_of(now));
          for (const auto& [ref, on] : {std::pair{&black, now.at("black_ref").get<bool>()},
                                        std::pair{&white, now.at("white_ref").get<bool>()}})
            if (*ref) {
              install_reference(*cam, **ref, "the reference from before");
              check((*ref)->kind == ReferenceKind::kBlack ? UcapmSetBlackRef(cam->index(), on)
                                                          : UcapmSetWhiteRef(cam->index(), on),
                    "switching the reference");
            }
        } catch (const Failure&) {}  // what the camera takes back, it shows
      });
    std::unique_lock lock(gate->mutex);
    while (!gate->changed.wait_for(lock, std::chrono::milliseconds(100),
                                   [&] { return gate->parked == cams.size(); })) {
      if (interrupts() > 0) stop();  // this thread watches Ctrl-C too
      if (stopping_.load()) break;
    }
    if (!stopping_.load()) {
      UcapClose();
      UcapInit();  // a failure shows as every camera's state
    }
    gate->open = true;
    gate->changed.notify_all();
  }

  // The live camera of index `i`, started on first use; null for no such camera.
  LiveCamera* camera(int i) {
    std::lock_guard lock(mutex_);
    auto it = cameras_.find(i);
    if (it != cameras_.end()) return it->second.get();
    if (i < 0 || i >= UcapGetNumberofCameras()) return nullptr;
    return cameras_.emplace(i, std::make_unique<LiveCamera>(session_, i)).first->second.get();
  }

  LiveCamera& camera_of(const httplib::Request& req) {
    LiveCamera* cam = camera(int_param(req, "cam", 0, 63, session_.index()));
    if (!cam) throw BadRequest("no such camera");
    return *cam;
  }

  // A file of the output directory named by the page: a plain name, nothing that leaves it.
  fs::path file_in_output(const std::string& name) const {
    const bool plain = !name.empty() && name.size() <= 128 && name[0] != '.' &&
                       name.find_first_not_of(
                           "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") ==
                           std::string::npos;
    if (!plain)
      throw BadRequest("file name \"" + name.substr(0, 64) +
                       "\": use letters, digits, '.', '_' and '-' only");
    const fs::path path = output_dir_ / name;
    // Links are never followed: a symbolic or hard link could lead anywhere.
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (fs::is_symlink(status) ||
        (fs::is_regular_file(status) && fs::hard_link_count(path, error) > 1))
      throw BadRequest("file " + name +
                       " is a link; links out of the output directory are not followed");
    return path;
  }

  static std::string stamp_name(const char* prefix, const char* ext) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &utc);
    static std::atomic<int> serial{0};
    return std::string(prefix) + text + "-" + std::to_string(++serial) + ext;
  }

  void send(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
  }

  // Runs a handler: 400 for a bad request, 422 with the library's code for a refusal.
  httplib::Server::Handler guarded(
      std::function<void(const httplib::Request&, httplib::Response&)> handler) {
    return [this, handler](const httplib::Request& req, httplib::Response& res) {
      try {
        handler(req, res);
      } catch (const BadRequest& e) {
        send(res, 400, {{"error", e.what()}});
      } catch (const Failure& e) {
        send(res, 422, {{"error", e.what()}});
      } catch (const std::exception& e) {
        send(res, 500, {{"error", e.what()}});
      }
    };
  }

  // The door: Host, token, Origin.
  httplib::Server::HandlerResponse door(const httplib::Request& req, httplib::Response& res) {
    auto refuse = [&](int status, const std::string& why) {
      send(res, status, {{"error", why}});
      return httplib::Server::HandlerResponse::Handled;
    };
    const std::string host = req.get_header_value("Host");
    std::string name = host, port;
    if (!name.empty() && name[0] == '[') {
      const size_t close = name.find(']');
      if (close == std::string::npos) return refuse(403, "bad Host");
      port = name.size() > close + 1 && name[close + 1] == ':' ? name.substr(close + 2) : "";
      name = name.substr(1, close - 1);
    } else if (const size_t colon = name.find(':'); colon != std::string::npos) {
      port = name.substr(colon + 1);
      name = name.substr(0, colon);
    }
    if (!hosts_.count(lower(name)) || (!port.empty() && port != std::to_string(port_)))
      return refuse(403, "this server does not answer to Host \"" + host.substr(0, 64) +
                             "\" (see --allowed-host)");
    if (!token_.empty()) {
      std::string given = req.get_param_value("token");
      const std::string auth = req.get_header_value("Authorization");
      if (given.empty() && auth.rfind("Bearer ", 0) == 0) given = auth.substr(7);
      const std::string cookie = req.get_header_value("Cookie");
      if (const size_t at = cookie.find("ucap_token="); given.empty() && at != std::string::npos)
        given = cookie.substr(at + 11, cookie.find(';', at) - at - 11);
      if (!same_text(given, token_)) return refuse(401, "give the access token printed at start");
      if (req.has_param("token"))
        res.set_header("Set-Cookie",
                       "ucap_token=" + token_ + "; HttpOnly; SameSite=Strict; Path=/");
    }
    if (req.method != "GET" && req.method != "HEAD" &&
        req.get_header_value("Origin") != "http://" + host)
      return refuse(403, "changes are taken from this server's own page only");
    return httplib::Server::HandlerResponse::Unhandled;
  }

  void routes();
  void live(const httplib::Request& req, httplib::Response& res);
  void change_settings(LiveCamera& cam, const json& body);

  const Session& session_;
  const ServeOptions& options_;
  const fs::path output_dir_;
  std::set<std::string> hosts_;
  std::string token_;
  int port_ = 0;
  httplib::Server http_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> streams_{0};
  std::mutex mutex_;
  std::map<int, std::unique_ptr<LiveCamera>> cameras_;
};

json status_json(const LiveCamera& cam) {
  const LiveStatus s = cam.status();
  return {{"state", s.state},
          {"message", s.message},
          {"frames", s.frames},
          {"dropped", s.dropped},
          {"rate", s.rate},
          {"job",
           {{"kind", s.job.kind},
            {"running", s.job.running},
            {"done", s.job.done},
            {"total", s.job.total},
            {"unit", s.job.unit},
            {"result", s.job.result},
            {"error", s.job.error}}},
          {"settings", json::parse(cam.settings())}};
}

void Server::live(const httplib::Request& req, httplib::Response& res) {
  LiveCamera& cam = camera_of(req);
  PreviewRequest view;
  view.max_width = int_param(req, "w", 16, 8192, 1024);
  view.max_height = int_param(req, "h", 16, 8192, 768);
  view.crop = {int_param(req, "x0", 0, 65535, 0), int_param(req, "y0", 0, 65535, 0),
               int_param(req, "x1", 0, 65535, 65535), int_param(req, "y1", 0, 65535, 65535)};
  const bool automatic = int_param(req, "auto", 0, 1, 1) == 1;
  view.low = int_param(req, "low", 0, 4094, 0);
  view.high = int_param(req, "high", 1, 4095, 4095);
  view.mark_saturated = int_param(req, "mark", 0, 1, 1) == 1;
  // A page shows at most this many frames a second; a faster camera has frames skipped.
  const auto gap = std::chrono::microseconds(1000000 / int_param(req, "fps", 1, 240, 30));
  if (streams_.fetch_add(1) >= kMaxStreams) {
    streams_.fetch_sub(1);
    send(res, 503, {{"error", "too many live views open"}});
    return;
  }
  auto last = std::make_shared<uint64_t>(0);
  auto sent = std::make_shared<std::chrono::steady_clock::time_point>();
  auto watching = std::make_shared<std::shared_ptr<void>>(cam.watch());
  res.set_header("Cache-Control", "no-store");
  res.set_chunked_content_provider(
      "text/event-stream",
      [this, &cam, view, automatic, last, sent, gap](size_t, httplib::DataSink& sink) {
        if (stopping_.load()) return false;
        std::this_thread::sleep_until(*sent + gap);
        const std::shared_ptr<const LiveFrame> frame =
            cam.next_frame(*last, std::chrono::milliseconds(500));
        std::string event;
        if (!frame) {
          // No frame: the camera's state instead, twice a second.
          event = "event: status\ndata: " + status_json(cam).dump() + "\n\n";
        } else {
          *last = frame->number;
          *sent = std::chrono::steady_clock::now();
          const ImageStats& stats = frame->stats();
          PreviewRequest request = view;
          if (automatic) request.low = stats.low, request.high = stats.high;
          const Preview preview = render_preview(frame->image, request);
          const LiveStatus status = cam.status();
          json e = {
              {"camera", cam.index()},
              {"number", frame->number},
              {"width", frame->image.width},
              {"height", frame->image.height},
              {"channels", frame->image.channels},
              {"crop",
               {preview.crop.left, preview.crop.top, preview.crop.right, preview.crop.bottom}},
              {"scale", preview.scale},
              {"low", request.low},
              {"high", request.high},
              {"sharpness", stats.sharpness},
              {"saturated", stats.saturated},
              {"histogram", stats.histogram},
              {"exposure_us", frame->info->exposure_us},
              {"rate", status.rate},
              {"dropped", status.dropped},
              {"frames", status.frames},
              {"arrived_ms", frame->arrived_ms},
              {"jpeg", base64(preview.jpeg)}};
          event = "data: " + e.dump() + "\n\n";
        }
        return sink.write(event.data(), event.size());
      },
      [this, watching](bool) {
        watching->reset();
        streams_.fetch_sub(1);
      });
}

void Server::change_settings(LiveCamera& cam, const json& body) {
  const json now = json::parse(cam.settings());
  if (!now.contains("resolution"))
    throw Failure("the camera has not answered yet: " + cam.status().message);
  const CaptureOptions before = options_of(now);
  CaptureOptions next = before;
  if (body.contains("resolution"))
    next.resolution = int_field(body, "resolution", 0, 3), next.roi.clear();
  if (body.contains("bits")) next.bits = int_field(body, "bits", 12, 36);
  if (body.contains("binning")) next.binning = int_field(body, "binning", 1, 16), next.roi.clear();
  if (body.contains("roi")) next.roi = box_field(body, "roi");
  if (body.contains("exposure")) {
    next.exposure = string_field(body, "exposure", 32);
    if (!parse_exposure(next.exposure))
      throw BadRequest("exposure: give a number with us, ms or s, e.g. 10ms");
  }
  if (body.contains("color_processing"))
    next.color_processing = bool_field(body, "color_processing");
  if (body.contains("white_balance")) {
    const json& wb = body.at("white_balance");
    if (!wb.is_array() || wb.size() != 3 || !std::all_of(wb.begin(), wb.end(), [](const json& v) {
          return v.is_number() && std::isfinite(v.get<double>()) &&
                 std::fabs(v.get<double>()) < 1e6;
        }))
      throw BadRequest("white_balance: give [red, green, blue] numbers");
    next.white_balance = wb.get<std::vector<double>>();
  }
  std::optional<bool> black, white;
  if (body.contains("black_ref")) black = bool_field(body, "black_ref");
  if (body.contains("white_ref")) white = bool_field(body, "white_ref");
  if (cam.status().job.running) throw BadRequest("a recording or calibration runs; stop it first");
  cam.run([&] {
    const int i = cam.index();
    try {
      apply_capture_options(cam.session(), next);
      if (black) check(UcapmSetBlackRef(i, *black ? 1 : 0), "black reference");
      if (white) check(UcapmSetWhiteRef(i, *white ? 1 : 0), "white reference");
    } catch (const Failure&) {
      // Nothing half applied: the settings from before come back.
      try {
        apply_capture_options(cam.session(), before);
        UcapmSetBlackRef(i, now.at("black_ref").get<bool>() ? 1 : 0);
        UcapmSetWhiteRef(i, now.at("white_ref").get<bool>() ? 1 : 0);
      } catch (const Failure&) {}
      throw;
    }
  });
}

void Server::routes() {
  http_.set_pre_routing_handler(
      [this](const httplib::Request& req, httplib::Response& res) { return door(req, res); });
  http_.set_error_handler([this](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    const char* why = res.status == 413   ? "the request body is too large (at most 16 KiB)"
                      : res.status == 414 ? "the request line is too long"
                      : res.status == 404 ? "no such page"
                                          : "bad request";
    send(res, res.status, {{"error", why}});
  });
  http_.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data: blob:; style-src 'self' "
                   "'unsafe-inline'; script-src 'self' 'unsafe-inline'");
    res.set_content(kServePage, "text/html; charset=utf-8");
  });
  http_.Get("/api/cameras", guarded([this](const httplib::Request&, httplib::Response& res) {
              json list = json::array();
              for (int i = 0; i < UcapGetNumberofCameras(); ++i) {
                UcapInfoRecord info{};
                if (UcapmInfo(i, &info) != UCAP_OK) continue;
                char id[16];
                std::snprintf(id, sizeof id, "%08X", info.unique_id_low);
                list.push_back({{"index", i},
                                {"camera_id", id},
                                {"vendor_word3", info.vendor_word3},
                                {"eeprom_word36", info.eeprom_word36}});
              }
              send(res, 200, {{"cameras", list}, {"default", session_.index()}});
            }));
  http_.Get("/api/status", guarded([this](const httplib::Request& req, httplib::Response& res) {
              send(res, 200, status_json(camera_of(req)));
            }));
  http_.Get("/api/live", guarded([this](const httplib::Request& req, httplib::Response& res) {
              live(req, res);
            }));
  http_.Get("/api/pixel", guarded([this](const httplib::Request& req, httplib::Response& res) {
              LiveCamera& cam = camera_of(req);
              const int x = int_param(req, "x", 0, 65535, 0), y = int_param(req, "y", 0, 65535, 0);
              const auto frame = cam.next_frame(0, std::chrono::milliseconds(0));
              if (!frame) throw BadRequest("no frame yet");
              const Image& im = frame->image;
              if (x >= im.width || y >= im.height) throw BadRequest("outside the image");
              const size_t at = (static_cast<size_t>(y) * im.width + x) * im.channels;
              send(res, 200,
                   {{"number", frame->number},
                    {"x", x},
                    {"y", y},
                    {"values", std::vector<uint16_t>(im.words.begin() + at,
                                                     im.words.begin() + at + im.channels)}});
            }));
  http_.Post("/api/settings", guarded([this](const httplib::Request& req, httplib::Response& res) {
               LiveCamera& cam = camera_of(req);
               change_settings(cam, body_of(req, {"resolution", "bits", "binning", "roi",
                                                  "exposure", "color_processing", "white_balance",
                                                  "black_ref", "white_ref"}));
               send(res, 200, json::parse(cam.settings()));
             }));
  http_.Post("/api/focus", guarded([this](const httplib::Request& req, httplib::Response& res) {
               LiveCamera& cam = camera_of(req);
               const std::vector<int> box = box_field(body_of(req, {"region"}), "region");
               cam.set_focus_region(box.empty() ? Box{0, 0, 1 << 30, 1 << 30}
                                                : Box{box[0], box[1], box[2], box[3]});
               send(res, 200, {{"region", box}});
             }));
  http_.Post("/api/balance", guarded([this](const httplib::Request& req, httplib::Response& res) {
               LiveCamera& cam = camera_of(req);
               const std::vector<int> box = box_field(body_of(req, {"region"}), "region");
               const auto frame = cam.next_frame(0, std::chrono::milliseconds(0));
               if (!frame || frame->image.channels != 3)
                 throw BadRequest("balancing needs a color image on screen");
               const Image& im = frame->image;
               if (box.empty() || box[2] > im.width || box[3] > im.height)
                 throw BadRequest("region: draw it inside the image");
               double sum[3] = {0, 0, 0};
               for (int y = box[1]; y < box[3]; ++y)
                 for (int x = box[0]; x < box[2]; ++x)
                   for (size_t c = 0; c < 3; ++c)
                     sum[c] += im.words[(static_cast<size_t>(y) * im.width + x) * 3 + c];
               // The region's mean colour relative to its green: what makes it grey (the green level stays).
               if (!(sum[1] > 0)) throw BadRequest("region: the green of this region is black");
               cam.run([&] {
                 check(
                     UcapmSetImageWhiteBalance(cam.index(), sum[0] / sum[1], 1.0, sum[2] / sum[1]),
                     "balance on this region");
               });
               send(res, 200, json::parse(cam.settings()));
             }));
  http_.Post(
      "/api/snap", guarded([this](const httplib::Request& req, httplib::Response& res) {
        LiveCamera& cam = camera_of(req);
        const json body = body_of(req, {"name"});
        const fs::path path =
            file_in_output(body.contains("name") ? string_field(body, "name", 128)
                                                 : stamp_name("snap-", ".ome.tif"));
        const auto watching = cam.watch();
        const LiveStatus status = cam.status();
        const auto frame = cam.next_frame(status.frames, std::chrono::milliseconds(10000));
        if (!frame) throw Failure("no frame arrived: " + status.message);
        ImageInfo info = *frame->info;
        info.name = path.filename().string();
        OmeTiffWriter tiff(path.string(), info, 1, false);
        tiff.write_page(frame->image.words.data(), -1);
        tiff.close();
        send(res, 200,
             {{"file", info.name}, {"url", "/files/" + info.name}, {"number", frame->number}});
      }));
  http_.Post(
      "/api/record", guarded([this](const httplib::Request& req, httplib::Response& res) {
        LiveCamera& cam = camera_of(req);
        const json body = body_of(req, {"name", "frames", "seconds"});
        const int frames = body.contains("frames") ? int_field(body, "frames", 1, 1000000) : 0;
        const int seconds = body.contains("seconds") ? int_field(body, "seconds", 1, 86400) : 0;
        if ((frames > 0) == (seconds > 0)) throw BadRequest("give frames or seconds");
        const fs::path path =
            file_in_output(body.contains("name") ? string_field(body, "name", 128)
                                                 : stamp_name("record-", ".ome.tif"));
        if (!cam.begin_job("record", frames ? "frames" : "s", frames ? frames : seconds))
          throw BadRequest("a recording or calibration runs already");
        cam.post([&cam, path, frames, seconds] {
          auto tiff = std::shared_ptr<OmeTiffWriter>();
          auto first = std::make_shared<std::shared_ptr<const ImageInfo>>();
          auto clock = std::make_shared<Stopwatch>();
          cam.tap(
              [&cam, path, frames, seconds, tiff, first, clock](const LiveFrame& frame) mutable {
                try {
                  if (!tiff) {
                    ImageInfo info = *frame.info;
                    info.name = path.filename().string();
                    const double bytes =
                        static_cast<double>(frame.image.words.size()) * 2 * std::max(frames, 1);
                    tiff = std::make_shared<OmeTiffWriter>(path.string(), info, frames,
                                                           frames == 0 || bytes > 3.5 * (1u << 30));
                    *first = frame.info;
                    clock = std::make_shared<Stopwatch>();
                  }
                  if (frame.info != *first) throw Failure("the settings changed");
                  tiff->write_page(frame.image.words.data(), clock->seconds());
                  const bool done = frames ? tiff->pages() >= frames : clock->seconds() >= seconds;
                  cam.progress(frames ? tiff->pages() : std::min<double>(clock->seconds(), seconds),
                               frames ? frames : seconds);
                  if (!done && !cam.stop_requested()) return true;
                  tiff->close();
                  cam.end_job(path.filename().string(), "");
                } catch (const std::exception& e) {
                  cam.end_job("", e.what());
                }
                return false;
              });
        });
        send(res, 200,
             {{"file", path.filename().string()}, {"url", "/files/" + path.filename().string()}});
      }));
  http_.Post("/api/stop", guarded([this](const httplib::Request& req, httplib::Response& res) {
               camera_of(req).stop_job();
               send(res, 200, json::object());
             }));
  http_.Post("/api/calibrate", guarded([this](const httplib::Request& req, httplib::Response& res) {
               LiveCamera& cam = camera_of(req);
               const std::string kind = string_field(body_of(req, {"kind"}), "kind", 8);
               if (kind != "black" && kind != "white") throw BadRequest("kind: black or white");
               if (!cam.begin_job(kind, kind == "black" ? "s" : "frames", kind == "black" ? 0 : 4))
                 throw BadRequest("a recording or calibration runs already");
               cam.post([&cam, kind] {
                 auto callback = [](int32_t done, int32_t total, int32_t phase,
                                    intptr_t user) -> int32_t {
                   auto* c = reinterpret_cast<LiveCamera*>(user);
                   if (phase == 2 && total > 4)
                     c->progress(done / 1000.0, total / 1000.0);
                   else
                     c->progress(phase == 2 ? done + 1 : 0, total);
                   return c->stop_requested() ? 1 : 0;
                 };
                 const auto user = reinterpret_cast<intptr_t>(&cam);
                 auto measure = [&] {
                   return kind == "black" ? UcapmCalculateBlackRefEx(cam.index(), callback, user)
                                          : UcapmCalculateWhiteRefEx(cam.index(), callback, user);
                 };
                 int32_t rc = measure();
                 // Right after the live stream stopped, a calculation has now and then been aborted
                 // (4) without anyone asking; it is tried once more then.
                 if (rc == UCAP_ERR_ABORTED && !cam.stop_requested()) rc = measure();
                 cam.end_job(rc == UCAP_OK ? kind + " reference measured" : "",
                             rc == UCAP_OK ? "" : describe_code(rc));
               });
               send(res, 200, json::object());
             }));
  http_.Get("/api/references", guarded([this](const httplib::Request&, httplib::Response& res) {
              // The calibration files the page can load: plain names, no links, at most 256.
              std::set<std::string> names;
              std::error_code error;
              for (const auto& entry : fs::directory_iterator(output_dir_, error)) {
                const std::string name = entry.path().filename().string();
                if (names.size() >= 256 || !name.ends_with(".ucapref")) continue;
                try {
                  if (fs::is_regular_file(file_in_output(name), error)) names.insert(name);
                } catch (const BadRequest&) {}
              }
              send(res, 200, {{"files", names}});
            }));
  http_.Post(
      "/api/references", guarded([this](const httplib::Request& req, httplib::Response& res) {
        LiveCamera& cam = camera_of(req);
        const json body = body_of(req, {"kind", "action", "name"});
        const std::string kind = string_field(body, "kind", 8),
                          action = string_field(body, "action", 8);
        if ((kind != "black" && kind != "white") || (action != "save" && action != "load"))
          throw BadRequest("kind: black or white; action: save or load");
        const ReferenceKind k = kind == "black" ? ReferenceKind::kBlack : ReferenceKind::kWhite;
        const fs::path path = file_in_output(string_field(body, "name", 128));
        if (cam.status().job.running)
          throw BadRequest("a recording or calibration runs; stop it first");
        cam.run([&] {
          if (action == "save") return write_reference(path.string(), reference_of(cam, k));
          install_reference(
              cam,
              read_reference(path.string(), k, static_cast<uint32_t>(cam.session().sensor_width()),
                             static_cast<uint32_t>(cam.session().sensor_height())),
              "loading " + path.filename().string());
        });
        send(res, 200,
             {{"file", path.filename().string()}, {"url", "/files/" + path.filename().string()}});
      }));
  http_.Get(R"(/files/([^/]+))",
            guarded([this](const httplib::Request& req, httplib::Response& res) {
              const fs::path path = file_in_output(req.matches[1].str());
              std::error_code error;
              if (!fs::is_regular_file(path, error)) {
                send(res, 404, {{"error", "no such file"}});
                return;
              }
              const auto size = fs::file_size(path, error);
              auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
              res.set_header("Content-Disposition",
                             "attachment; filename=\"" + path.filename().string() + "\"");
              res.set_content_provider(
                  size, "application/octet-stream",
                  [file](size_t offset, size_t length, httplib::DataSink& sink) {
                    std::vector<char> chunk(std::min<size_t>(length, 1 << 20));
                    file->seekg(static_cast<std::streamoff>(offset));
                    file->read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
                    return file->gcount() > 0 &&
                           sink.write(chunk.data(), static_cast<size_t>(file->gcount()));
                  });
            }));
}

}  // namespace

int run_serve(const CameraOptions& camera, const ServeOptions& options) {
  std::error_code error;
  if (!fs::is_directory(options.output_dir, error))
    throw Failure("--output-dir " + options.output_dir + ": not a directory", kExitUsage);
  Session session(camera);
  Server server(session, options);
  return server.run();
}

}  // namespace tool
