// A started library and the camera a command works on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

struct CameraOptions {
  std::vector<std::string> vcam;  // virtual cameras to attach instead of the default one
  int camera = 0;                 // index of the camera the command works on
  bool library_messages = false;  // let the library print its own error lines
};

// Attaches the virtual cameras asked for (before the library starts).
void configure_virtual_cameras(const std::vector<std::string>& configs);

class Session {
 public:
  explicit Session(const CameraOptions& options);
  // Another camera of the same started library: a view that leaves closing to `owner`.
  Session(const Session& owner, int index);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  int index() const { return index_; }
  int count() const { return count_; }
  // The full sensor, as the frame rectangle holds it right after start-up.
  int sensor_width() const { return sensor_width_; }
  int sensor_height() const { return sensor_height_; }
  // The camera's unique identifier (low word) as eight hex digits.
  std::string camera_id() const;

 private:
  int index_;
  int count_ = 0;
  int sensor_width_ = 0;
  int sensor_height_ = 0;
  bool owner_ = true;
};

}  // namespace tool
