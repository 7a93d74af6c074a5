// hold-installation FOLDER STOPFILE: takes the installation lock of FOLDER as a run of
// the job does, prints "held" and its process id (or "busy"), and keeps it until STOPFILE
// appears (at most a minute).

#include <windows.h>

#include <cstdio>

#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  auto platform = scourex::CreateSystemPlatform();
  bool held = platform->LockInstallation(argv[1]);
  if (held) {
    std::printf("held %lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
  } else {
    std::printf("busy\n");
  }
  std::fflush(stdout);
  for (int i = 0; i < 600 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
  return held ? 0 : 1;
}
