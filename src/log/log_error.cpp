#include "log/log_error.h"

#include <exception>

namespace scourex {

std::string FormatTimestamp(const LocalDateTime& t) { return IsoDateTime(t); }

namespace {

std::string ErrorLayout(const std::string& stamp, const std::string& number_text, const std::string& description,
                        const std::string& source) {
  return stamp + " *** Error # " + number_text + " - " + description + " *** " + source;
}

}  // namespace

void Logger::LogError(const std::string& number_text, const std::string& description, const std::string& source) {
  try {
    platform_.Debug(ErrorLayout(platform_.FormatDateTime(platform_.Now()), number_text, description, source));
    if (options_file_name_.empty()) return;

    const bool info = number_text == kInfo;
    if (!info) {
      platform_.Beep();
      platform_.Beep();
    }
    std::string stamp = platform_.FormatDateTime(platform_.Now());
    std::string line;
    if (!info) {
      line = ErrorLayout(stamp, number_text, description, source);
    } else if (!description.empty()) {
      line = stamp + " " + description;
    } else {
      line = stamp + " *** Keep Alive *** ";
    }
    try {
      platform_.AppendToFile(log_file_, line + "\r\n");
    } catch (...) {
      file_failed_ = true;
    }
  } catch (...) {
    // The last stop of failure handling: nothing is reported from here.
  }
}

}  // namespace scourex
