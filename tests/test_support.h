// Helpers shared by the unit tests: a scratch folder per test and whole-file byte access.
#pragma once

#include <string>

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  // `name` inside the folder, as a path for the profile calls.
  std::string Path(const std::string& name) const;

 private:
  std::string root_;
};

// The file's bytes, or "<missing>" when it cannot be opened.
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
