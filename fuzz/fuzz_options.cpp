// Feeds arbitrary bytes to the options-file reader as the contents of an options file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/options.h"
#include "log/log_error.h"
#include "platform/platform.h"

namespace {

class MemoryPlatform : public scourex::Platform {
 public:
  std::string contents;
  std::string ExecutableFolder() override { return "/site"; }
  std::string ExecutableName() override { return "scourex"; }
  char PathSeparator() const override { return '/'; }
  void SetCurrentDirectory(const std::string&) override {}
  std::vector<std::string> ListFiles() override { return {}; }
  std::vector<std::string> ListOtherEntries() override { return {}; }
  void RequireRegularFile(const std::string&) override {}
  std::string ReadFile(const std::string&) override { return contents; }
  void AppendToFile(const std::string&, const std::string&) override {}
  bool LockInstallation(const std::string&) override { return true; }
  scourex::LocalDateTime Now() override { return {}; }
  void Debug(const std::string&) override {}
  void Beep() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryPlatform platform;
  platform.contents.assign(reinterpret_cast<const char*>(data), size);
  scourex::Settings settings;
  std::string options_file_name = "Orvanta.ini";
  scourex::Logger log(platform, options_file_name, settings.LogFile);
  scourex::DefaultOptions(settings);
  scourex::ReAdoptions(settings, platform, log, "/site/Orvanta.ini");
  return 0;
}
