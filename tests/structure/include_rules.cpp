// Checks the engine's include lines: each of its folders is one layer, which includes
// only its own folder or those below (so no two folders reach each other), no header
// reaches itself through others, and code outside the engine includes only its public
// headers, those under include/jet/. Run with the source tree's root; prints each breach
// and fails when there is one.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The engine's folders, one layer each, lowest first; a file belongs to the folder it
// lies in (or below). The public headers declare what the rest implements. The byte
// codec, the per-version constants, the header page and the text codec sit below the
// pager, which reads through them; the page structures read through the pager.
// Statements run over the database through the public table interface.
const std::vector<std::string> kLayers = {
    "include/jet", "src/jet/base",   "src/jet/os",     "src/jet/crypto", "src/jet/format",
    "src/jet/pager", "src/jet/page",  "src/jet/row",   "src/jet/table",  "src/jet/catalog",
    "src/jet/index", "src/jet/write", "src/jet/create", "src/jet/database", "src/jet/compact",
    "src/jet/sql",
};

int LayerOf(const std::string& file) {
  for (std::size_t i = 0; i < kLayers.size(); ++i)
    if (file.rfind(kLayers[i] + "/", 0) == 0) return static_cast<int>(i);
  return -1;
}

std::vector<std::string> EngineIncludes(const fs::path& file) {
  static const std::regex include(R"(^\s*#\s*include\s*"(jet/[^"]+)\")");
  std::vector<std::string> out;
  std::ifstream in(file);
  std::string line;
  std::smatch m;
  while (std::getline(in, line))
    if (std::regex_search(line, m, include)) out.push_back(m[1]);
  return out;
}

bool IsSource(const fs::path& p) { return p.extension() == ".h" || p.extension() == ".cpp"; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: include_rules SOURCE_ROOT\n");
    return 2;
  }
  const fs::path root = argv[1];
  int breaches = 0;
  auto breach = [&](const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    ++breaches;
  };

  // An include line's file: a public header if there is one by that name, else the
  // engine's own.
  auto resolve = [&](const std::string& inc) {
    return fs::exists(root / "include" / inc) ? "include/" + inc : "src/" + inc;
  };
  std::map<std::string, std::vector<std::string>> engine;  // file -> the files it includes
  for (const char* top : {"include/jet", "src/jet"})
    for (const auto& e : fs::recursive_directory_iterator(root / top))
      if (e.is_regular_file() && IsSource(e.path())) {
        std::vector<std::string>& out = engine[fs::relative(e.path(), root).generic_string()];
        for (const std::string& inc : EngineIncludes(e.path())) out.push_back(resolve(inc));
      }

  for (const auto& [file, includes] : engine) {
    const int layer = LayerOf(file);
    if (layer < 0) {
      breach(file + ": belongs to no layer; add its folder to the list of layers");
      continue;
    }
    for (const std::string& inc : includes)
      if (LayerOf(inc) > layer) breach(file + ": includes " + inc + ", which lies above it");
  }

  // A header that reaches itself again, within a folder as much as across.
  std::map<std::string, int> state;  // 1: on the path, 2: done
  std::vector<std::string> path;
  auto visit = [&](auto&& self, const std::string& file) -> void {
    state[file] = 1;
    path.push_back(file);
    for (const std::string& inc : engine[file]) {
      if (engine.count(inc) == 0) continue;
      if (state[inc] == 1) {
        std::string cycle;
        for (auto it = std::find(path.begin(), path.end(), inc); it != path.end(); ++it) cycle += *it + " -> ";
        breach("include cycle: " + cycle + inc);
      } else if (state[inc] == 0) {
        self(self, inc);
      }
    }
    path.pop_back();
    state[file] = 2;
  };
  for (const auto& entry : engine)
    if (state[entry.first] == 0) visit(visit, entry.first);

  for (const char* user : {"src", "tools", "bench", "fuzz"}) {
    if (!fs::exists(root / user)) continue;
    for (const auto& e : fs::recursive_directory_iterator(root / user)) {
      if (!e.is_regular_file() || !IsSource(e.path())) continue;
      const std::string file = fs::relative(e.path(), root).generic_string();
      if (file.rfind("src/jet/", 0) == 0) continue;
      for (const std::string& inc : EngineIncludes(e.path()))
        if (resolve(inc).rfind("include/", 0) != 0)
          breach(file + ": includes the engine's internal header " + inc);
    }
  }

  if (breaches == 0) std::printf("include rules: %zu engine files, no breach\n", engine.size());
  return breaches == 0 ? 0 : 1;
}
