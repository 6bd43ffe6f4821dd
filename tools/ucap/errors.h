// What ends a command of the tool: a message and an exit status, and the meanings of the
// library's result codes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tool {

inline constexpr int kExitFailure = 1;        // the library or a file said no
inline constexpr int kExitUsage = 2;          // bad options
inline constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C

class Failure : public std::runtime_error {
 public:
  Failure(const std::string& message, int status = kExitFailure)
      : std::runtime_error(message), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

// What a result code of the interface means, in one phrase.
std::string code_meaning(int32_t code);

// "error 8 (invalid argument, ...)".
std::string describe_code(int32_t code);

// Throws a Failure "<what>: error N (meaning)" unless the code is UCAP_OK.
void check(int32_t code, const std::string& what);

}  // namespace tool
