#pragma once
// The job's settings, their defaults, and the reader of the options files.

#include <cstdint>
#include <string>
#include <string_view>

#include "log/log_error.h"
#include "platform/platform.h"

namespace scourex {

struct Settings {
  std::string DbsFolder;
  std::int32_t DBType = 0;  // 1: Jet database files, 2: SQL Server through SQL_Connect
  std::string SQL_Connect;
  std::string SQLServerDateFormat;
  std::int16_t DatabaseTimeout = 0;
  std::string LogFile;
  std::int16_t VisitorMonths = 0;
  std::int16_t VisitorCheckCreationDate = 0;
  std::int16_t EventMonths = 0;
  bool DeleteAlsoCardholder = false;
  bool CompactAfterPurge = false;  // Jet files only: compact each database a purge changed
};

inline constexpr const char* kDefaultSqlServerDateFormat = "yyyy\\-mm\\-dd hh\\:nn\\:ss";

// Sets the six settings that have defaults; the other four keep their empty values.
void DefaultOptions(Settings& settings);

// Reads one options file over `settings` (the name is the product's own: it re-adopts
// the options). Its bytes become text as UTF-8 when they are valid UTF-8, else as
// Windows-1252 (files copied from Windows sites). The first error (missing file, bad or
// out-of-range integer, overlong line, or any other failure) is logged and ends the
// reading of that file.
void ReAdoptions(Settings& settings, Platform& platform, Logger& log, const std::string& path);

// An options-file integer: a decimal number (fraction rounded half to even, exponent
// allowed) or &H / &O, in -32768..32767. Throws Type mismatch (13) or Overflow (6).
std::int16_t ConvertInteger(std::string_view text);

}  // namespace scourex
