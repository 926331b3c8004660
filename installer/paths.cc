#include "installer/paths.h"

#include <cstdio>
#include <cstring>

bool SplitModulePath(const char* path, LeadByteTest is_lead_byte, char (&drive)[kDriveCapacity],
                     char (&directory)[kDirectoryCapacity]) {
  drive[0] = '\0';
  directory[0] = '\0';
  // "\\?\UNC\server\share" is "\\server\share": skipping only "\\?\" would leave a relative
  // path starting "UNC\", which names a folder under the current directory.
  char unc[kPathCapacity];
  if (std::strncmp(path, "\\\\?\\UNC\\", 8) == 0) {
    std::snprintf(unc, sizeof unc, "\\\\%s", path + 8);
    path = unc;
  } else if (std::strncmp(path, "\\\\?\\", 4) == 0) {
    path += 4;
  }

  std::size_t start = 0;
  if (path[0] != '\0' && path[1] == ':') start = 2;

  // The end of the directory: just past the last separator, honouring two-byte characters.
  std::size_t end = start;
  for (std::size_t i = start; path[i] != '\0'; ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (is_lead_byte(byte) && path[i + 1] != '\0') {
      ++i;
    } else if (byte == '\\' || byte == '/') {
      end = i + 1;
    }
  }
  if (end - start >= kDirectoryCapacity) return false;
  std::memcpy(drive, path, start);
  drive[start] = '\0';
  std::memcpy(directory, path + start, end - start);
  directory[end - start] = '\0';
  return true;
}

bool BuildFilePaths(const char* drive, const char* directory, char (&livery)[kPathCapacity],
                    char (&aircraft)[kPathCapacity]) {
  const int livery_length = std::snprintf(livery, kPathCapacity, "%s%s\\livery.ini", drive, directory);
  const int aircraft_length = std::snprintf(aircraft, kPathCapacity, "%s%s\\..\\aircraft.cfg", drive, directory);
  return livery_length >= 0 && static_cast<std::size_t>(livery_length) < kPathCapacity && aircraft_length >= 0 &&
         static_cast<std::size_t>(aircraft_length) < kPathCapacity;
}
