// Captures the error reporter's lines for the lifetime of the object.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace ucap_test {

class MessageCapture {
 public:
  MessageCapture() { ucap::platform::set_message_hook(&MessageCapture::hook, this); }
  ~MessageCapture() { ucap::platform::set_message_hook(nullptr, nullptr); }
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  static void hook(const char* text, void* self) {
    auto* capture = static_cast<MessageCapture*>(self);
    std::lock_guard<std::mutex> lock(capture->mutex_);
    capture->lines_.emplace_back(text);
  }
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace ucap_test
