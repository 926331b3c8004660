#include "profile/profile.h"

#include <limits>
#include <new>
#include <vector>

#include "platform/win32.h"

std::string ReadProfileValue(const char* file, const char* section, const char* key, const char* default_value) {
  // The call cannot say how long a value is, only that it filled the buffer (size - 1):
  // then the value may be cut, so try again with twice the room until it fits.
  DWORD size = 1024;
  for (;;) {
    std::vector<char> buffer(size, '\0');
    const DWORD count = GetPrivateProfileStringA(section, key, default_value, buffer.data(), size, file);
    if (count + 1 < size) return std::string(buffer.data());
    if (size > std::numeric_limits<DWORD>::max() / 2) throw std::bad_alloc();
    size *= 2;
  }
}
