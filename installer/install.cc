#include "installer/install.h"

#include "installer/fltsim.h"
#include "platform/win32.h"
#include "profile/profile.h"

int InstallLivery(const char* module_path, LeadByteTest is_lead_byte) {
  char drive[kDriveCapacity];
  char directory[kDirectoryCapacity];
  char livery_file[kPathCapacity];
  char aircraft_file[kPathCapacity];
  // A path cut short would aim at some other folder's files.
  if (module_path == nullptr || !SplitModulePath(module_path, is_lead_byte, drive, directory) ||
      !BuildFilePaths(drive, directory, livery_file, aircraft_file))
    return kExitNotLocated;

  // An untitled entry is one the simulator cannot list, and the next run would overwrite it.
  if (ReadProfileValue(livery_file, "fltsim.0", "title", "").empty()) return kExitNothingToInstall;

  // A write would create aircraft.cfg from nothing in whatever folder lies above.
  const DWORD attributes = GetFileAttributesA(aircraft_file);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return kExitNotLocated;

  const int number = CountFltsimEntries(aircraft_file);
  return CopyLiveryEntry(livery_file, aircraft_file, number) ? kExitInstalled : kExitWriteFailed;
}
