// A file that appears under its name complete or not at all: written to a temporary file
// beside the target and renamed into place once it is complete. A command that fails leaves
// the target as it was (an older file of that name included) and no temporary behind.
#pragma once

#include <string>

#include "errors.h"

namespace tool {

class PendingFile {
 public:
  explicit PendingFile(std::string target);
  ~PendingFile();  // removes the temporary unless committed
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Where to write the file's contents.
  const std::string& path() const { return temporary_; }
  // Renames the finished temporary to the target, replacing an older file.
  void commit();
  // `failure` with the temporary's name replaced by the target's.
  Failure about_target(const Failure& failure) const;

 private:
  std::string target_;
  std::string temporary_;
  bool committed_ = false;
};

// Writes `target` through `write(path)` into a pending file and puts it in place.
template <class Write>
void write_whole(const std::string& target, Write&& write) {
  PendingFile file(target);
  try {
    write(file.path());
  } catch (const Failure& failure) {
    throw file.about_target(failure);
  }
  file.commit();
}

}  // namespace tool
