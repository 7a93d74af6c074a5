// hold-file PATH exclusive|reader|lock STOPFILE: opens PATH as another program would and
// keeps it open until STOPFILE appears (at most a minute). "exclusive" shares it with no
// one, as Jet's exclusive mode does; "reader" reads it as an operator's viewer does,
// sharing reading and writing, and prints what it reads at the end through the same
// handle; "lock" locks a byte range of it, as Access does in a database's lock file.
// Prints "held" once the file is open.

#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const std::string mode = argv[2];
  const bool exclusive = mode == "exclusive";
  HANDLE h = CreateFileA(argv[1], GENERIC_READ | (exclusive ? GENERIC_WRITE : 0),
                         exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::printf("cannot open: error %lu\n", GetLastError());
    return 1;
  }
  if (mode == "lock") {
    OVERLAPPED at{};
    at.Offset = 0x10000001;
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
      std::printf("cannot lock: error %lu\n", GetLastError());
      return 1;
    }
  }
  std::printf("held\n");
  std::fflush(stdout);
  for (int i = 0; i < 600 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
  if (!exclusive) {
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) std::fwrite(buf, 1, got, stdout);
  }
  CloseHandle(h);
  return 0;
}
