#pragma once
// The operating system as the job sees it, behind one small interface: the executable's
// path, the current directory, directory listing, files, the clock, the diagnostic
// channel and the beep. POSIX and Windows each have a real one; tests use a fake.
// Texts and paths are UTF-8 on this side of the interface; on Windows the implementation
// turns them into the system's wide names, and what it writes into the ANSI code page.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/text_encoding.h"

namespace scourex {

// A local date and time, to the second.
struct LocalDateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

// The process that holds an installation's lock, as far as the system tells.
struct InstallationHolder {
  long long process_id = 0;
  std::optional<LocalDateTime> since;  // when it took the lock (or started), local time
};

// "YYYY-MM-DD HH:MM:SS"
std::string IsoDateTime(const LocalDateTime& t);

class Platform {
 public:
  virtual ~Platform() = default;

  // The folder of the running executable (its real path, links resolved), with no
  // trailing separator, and the executable's file name.
  virtual std::string ExecutableFolder() = 0;
  virtual std::string ExecutableName() = 0;
  // The separator that ends a folder path ("/" here, "\" on Windows).
  virtual char PathSeparator() const = 0;

  // Throws scourex::Error (76 Path not found) when the folder cannot be entered.
  virtual void SetCurrentDirectory(const std::string& folder) = 0;
  // Names of the regular, non-hidden files of the current directory, in no particular order.
  // A link is not one, whatever it points at.
  virtual std::vector<std::string> ListFiles() = 0;
  // Names of the other non-hidden entries of the current directory: folders, links, pipes,
  // devices.
  virtual std::vector<std::string> ListOtherEntries() = 0;

  // The job's own files (options, log) are only ever regular files: a link at the last
  // component of the path is never followed, a pipe or a device never waited on or written,
  // and anything but a regular file throws scourex::Error 75 naming the path and what
  // stands there.
  // Returns when a regular file or nothing stands at `path`; throws as above otherwise.
  virtual void RequireRegularFile(const std::string& path) = 0;
  // The whole file, its bytes as stored; throws scourex::Error 53, 76 or 75 as the classic
  // runtime does.
  virtual std::string ReadFile(const std::string& path) = 0;
  // How a text file that has no byte-order mark and is not UTF-8 is read: in Windows-1252,
  // the code page of the Windows sites files are copied from; on Windows in the system's
  // ANSI code page.
  virtual LegacyDecoder CodePageDecoder() const { return Windows1252ToUtf8; }
  // Appends `line` to the file in one write, creating the file when missing. Throws on failure.
  virtual void AppendToFile(const std::string& path, const std::string& line) = 0;

  // Takes the exclusive lock that keeps two runs of the job off one installation, for the
  // rest of the process (it goes with the process, however that ends). False when another
  // process holds it.
  virtual bool LockInstallation(const std::string& folder) = 0;
  // After LockInstallation said another process holds it: which one and since when.
  // Nothing when the system cannot tell (a holder on another machine, or beyond this
  // process's sight). Never waits and follows no link of anyone's making.
  virtual std::optional<InstallationHolder> InstallationHolderOf(const std::string& /*folder*/) {
    return std::nullopt;
  }

  virtual LocalDateTime Now() = 0;
  // A timestamp in the system's general date form. Here "YYYY-MM-DD HH:MM:SS"; Windows
  // takes the user's short date and long time.
  virtual std::string FormatDateTime(const LocalDateTime& t) { return IsoDateTime(t); }
  // One report on the diagnostic channel (a newline is added).
  virtual void Debug(const std::string& line) = 0;
  virtual void Beep() = 0;
};

// The error of a platform that found `what` ("a symbolic link", "a folder", ...) at `path`
// where only a regular file is used.
Error NotRegularFile(const std::string& path, const std::string& what);

// The platform of the system the program was built for.
std::unique_ptr<Platform> CreateSystemPlatform();

}  // namespace scourex
