#include "pending_file.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "errors.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace tool {

// In the target's folder (a rename does not cross file systems), hidden, named after the
// target and this process.
PendingFile::PendingFile(std::string target) : target_(std::move(target)) {
  const std::filesystem::path t(target_);
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%ld.part", static_cast<long>(getpid()));
  std::filesystem::path name = ".";
  name += t.filename();
  name += suffix;
  temporary_ = (t.parent_path() / name).string();
}

PendingFile::~PendingFile() {
  if (committed_) return;
  std::error_code ignored;
  std::filesystem::remove(temporary_, ignored);
}

void PendingFile::commit() {
  std::error_code error;
  std::filesystem::rename(temporary_, target_, error);
  if (error) throw Failure(target_ + ": cannot put the file in place (" + error.message() + ")");
  committed_ = true;
}

Failure PendingFile::about_target(const Failure& failure) const {
  std::string message = failure.what();
  for (size_t at = message.find(temporary_); at != std::string::npos;
       at = message.find(temporary_, at))
    message.replace(at, temporary_.size(), target_);
  return Failure(message, failure.status());
}

}  // namespace tool
