#pragma once
// Running programs and making temporary folders in end-to-end tests.

#include <string>

namespace scourex::testing {

struct ProcessResult {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;  // standard output (standard error too when merged)
};

// Runs `command` through /bin/sh and captures its standard output.
ProcessResult RunCommand(const std::string& command);

// Quotes a text for /bin/sh.
std::string ShellQuote(const std::string& s);

// Runs the job's binary in `folder` from another folder, as a scheduler does, standard
// error merged into the output.
ProcessResult RunJob(const std::string& folder);
// The same, stopped after `seconds` (then the status is 124).
ProcessResult RunJobWithin(const std::string& folder, int seconds);

// Writes a demonstration installation into `folder` with make-site (`args` after the
// folder), puts the job's binary there and `own_options` as its own options file.
// Returns make-site's output if it failed, else "".
std::string MakeSite(const std::string& folder, const std::string& args, const std::string& own_options);

// A fresh folder under the system's temporary folder, removed with its contents on destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& data);

}  // namespace scourex::testing
