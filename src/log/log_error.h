#pragma once
// The job's one channel of report. Every error and every information line goes through
// LogError: one line on the diagnostic channel always, and one line in the log file once
// the options-file name is known.

#include <string>

#include "platform/platform.h"

namespace scourex {

// NumberText of an information line.
inline constexpr const char* kInfo = "--1";

// "YYYY-MM-DD HH:MM:SS"
std::string FormatTimestamp(const LocalDateTime& t);

class Logger {
 public:
  // The two texts are read at every call: the options-file name switches file logging
  // on once it is set, and the log file's path may change while the options are read.
  Logger(Platform& platform, const std::string& options_file_name, const std::string& log_file)
      : platform_(platform), options_file_name_(options_file_name), log_file_(log_file) {}

  // The name is the product's own, which also carried information lines (number kInfo).
  // Never fails: whatever goes wrong while writing the file is swallowed.
  void LogError(const std::string& number_text, const std::string& description, const std::string& source);

  // Whether a line could not be written to the log file: a run whose log is lost has not
  // done all it was asked.
  bool FileFailed() const { return file_failed_; }

 private:
  Platform& platform_;
  const std::string& options_file_name_;
  const std::string& log_file_;
  bool file_failed_ = false;
};

}  // namespace scourex
