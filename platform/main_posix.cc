// The native program's entry: hands over to WinMain as the Windows runtime would.

#include <csignal>

#include "platform/win32.h"

int main() {
  // Over a file-size limit a write must fail with EFBIG, so that the stand-in can clean up
  // and report it, rather than the process being killed halfway through a temporary file.
  std::signal(SIGXFSZ, SIG_IGN);
  char no_arguments[] = "";
  return WinMain(nullptr, nullptr, no_arguments, 0);
}
