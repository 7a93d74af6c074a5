#pragma once
// For the Windows build of the tests: the exit-status macros of POSIX, which the helpers
// that run other programs use, mkdtemp, which the C runtime lacks, and geteuid as root's,
// since POSIX permission bits bind no one on Windows (tests of them step aside).

#include <direct.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define WIFEXITED(status) 1
#define WEXITSTATUS(status) (status)

inline char* mkdtemp(char* pattern) {
  size_t n = strlen(pattern);
  char* tail = pattern + n - 6;
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    snprintf(tail, 7, "%06u", static_cast<unsigned>(rand()) % 1000000u);
    if (_mkdir(pattern) == 0) return pattern;
  }
  return nullptr;
}

inline int geteuid() { return 0; }
