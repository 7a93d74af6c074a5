#include "config/installation.h"

#include <algorithm>

#include "common/text.h"

namespace scourex {
std::string AppFolderFor(const std::string& executable_folder, char separator) {
  std::string folder = executable_folder;
  if (folder.empty() || folder.back() != separator) folder += separator;
  if (folder == "D:\\DEV\\Orvanta\\Sources\\smallprojects\\Scourex\\") folder = "D:\\DEV\\Orvanta\\";
  return folder;
}

bool IsMarkerName(const std::string& name) {
  return name.size() >= 4 && LowerAscii(name.substr(name.size() - 4)) == ".nam";
}

std::string ProductBaseFrom(std::vector<std::string> files) {
  std::sort(files.begin(), files.end());
  for (const std::string& name : files) {
    if (!IsMarkerName(name)) continue;
    std::string base = name.substr(0, name.size() - 4);
    std::string lower = LowerAscii(base);
    if (lower == "orvanta") return "Orvanta";
    if (lower == "helmgate") return "Helmgate";
    return base;
  }
  return "";
}

std::string StripExtension(const std::string& file_name) {
  auto dot = file_name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? file_name : file_name.substr(0, dot);
}

}  // namespace scourex
