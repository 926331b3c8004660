// The program's entry. It takes no arguments, opens no window and shows no message: the
// exit status and the changed aircraft.cfg are the only trace of a run.

#include <new>

#include "installer/install.h"
#include "platform/win32.h"

namespace {
bool IsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Caught here rather than left to abort(): the status is the same, 3, and the Windows
  // runtime's abort would otherwise report itself in a message box that nobody expects.
  try {
    char module_path[kPathCapacity];
    const DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), module_path, kPathCapacity);
    const bool whole = length > 0 && length < kPathCapacity;
    return InstallLivery(whole ? module_path : nullptr, IsLeadByte);
  } catch (const std::bad_alloc&) {
    return kExitOutOfMemory;
  }
}
