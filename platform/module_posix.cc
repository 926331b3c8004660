// The stand-in for the module and file calls of Win32.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/posix_path.h"
#include "platform/win32.h"

namespace {
// Any non-null value: there is only one module, the executable.
HMODULE const kExecutable = reinterpret_cast<HMODULE>(1);
}  // namespace

HMODULE GetModuleHandleA(LPCSTR name) { return name == nullptr ? kExecutable : nullptr; }

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (module != kExecutable || buffer == nullptr || size == 0) return 0;
  // /proc/self/exe names the executable itself, resolved, whatever argv[0] or the working
  // directory say. One byte more than a path can hold tells a truncated link from a whole one.
  std::vector<char> path(4097);
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) return 0;
  const auto length = static_cast<std::size_t>(n);
  if (length >= size || length >= path.size()) {
    const std::size_t kept = std::min<std::size_t>(size - 1, length);
    std::memcpy(buffer, path.data(), kept);
    buffer[kept] = '\0';
    return size;
  }
  std::memcpy(buffer, path.data(), length);
  buffer[length] = '\0';
  return static_cast<DWORD>(length);
}

BOOL IsDBCSLeadByte(BYTE) { return FALSE; }

DWORD GetFileAttributesA(LPCSTR path) {
  struct stat st;
  if (path == nullptr || stat(ToPosixPath(path).c_str(), &st) != 0) return INVALID_FILE_ATTRIBUTES;
  return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}
