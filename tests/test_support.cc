#include "tests/test_support.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::random_device random;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    std::ostringstream name;
    name << "livery-test-" << std::hex << random() << stamp;
    const fs::path path = fs::temp_directory_path() / name.str();
    if (fs::create_directory(path)) {
      root_ = path.string();
      // Readable and writable by the unprivileged children some tests start.
      fs::permissions(path, fs::perms::all);
      return;
    }
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string ScratchDir::Path(const std::string& name) const { return (fs::path(root_) / name).string(); }

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
