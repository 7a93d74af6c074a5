#pragma once
// Where the job is installed and which product the installation serves.

#include <string>
#include <vector>

namespace scourex {

// The application folder: the executable's folder and a separator, with the product's
// development build folder redirected to the development root.
std::string AppFolderFor(const std::string& executable_folder, char separator);

// Whether `name` is that of a marker: it ends in ".nam", in any letter case. Only a
// regular file with such a name marks an installation.
bool IsMarkerName(const std::string& name);

// The product base name from the marker file among `files` (names ending in ".nam", any
// letter case; the first in byte order wins), the two product words in their own
// spelling; empty when there is no marker.
std::string ProductBaseFrom(std::vector<std::string> files);

// The executable's name without its extension.
std::string StripExtension(const std::string& file_name);

}  // namespace scourex
