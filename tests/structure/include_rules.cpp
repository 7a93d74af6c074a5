// Checks the engine's include lines: its layers include only their own layer or those
// below, no header reaches itself through others, and code outside the
// engine includes only its public headers. Run with the source tree's root; prints each
// breach and fails when there is one.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The engine's layers, lowest first, by path under src/. The first prefix that matches
// decides. The byte codec, the per-version constants, the header page and the text codec
// sit below the pager, which reads through them; the page structures read through the
// pager. Statements run over the database; a session runs statements.
const std::vector<std::pair<std::string, int>> kLayers = {
    {"jet/error.", 0},           {"jet/version.h", 0},         {"jet/value.h", 0},
    {"jet/table_source.h", 0},   {"jet/datetime.", 0},         {"jet/tsv.", 12},
    {"jet/os/", 1},              {"jet/crypto/", 2},           {"jet/format/bytes.h", 3},
    {"jet/format/format.h", 3},  {"jet/format/header.", 3},    {"jet/format/text.", 3},
    {"jet/pager/", 4},           {"jet/format/", 5},           {"jet/row/", 6},
    {"jet/table/", 7},           {"jet/catalog/", 8},          {"jet/index/", 9},
    {"jet/write/", 10},          {"jet/create/", 11},          {"jet/database", 12},
    {"jet/integrity.", 12},      {"jet/compact/", 12},         {"jet/sql/", 13},             {"jet/session.", 14},
};

// What the engine's users (the job, the tools, benchmarks, fuzzers) may include.
const std::set<std::string> kPublic = {
    "jet/database.h",  "jet/session.h",          "jet/table_source.h",         "jet/value.h",
    "jet/error.h",     "jet/version.h",          "jet/datetime.h",             "jet/tsv.h",
    "jet/integrity.h", "jet/sql.h",          "jet/env.h",               "jet/memory_env.h",
    "jet/windows_text.h", "jet/database_writer.h", "jet/schema.h", "jet/compact.h",
};

int LayerOf(const std::string& file) {
  for (const auto& [prefix, layer] : kLayers)
    if (file.rfind(prefix, 0) == 0) return layer;
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

  std::map<std::string, std::vector<std::string>> engine;  // file under src/ -> its includes
  for (const auto& e : fs::recursive_directory_iterator(root / "src" / "jet"))
    if (e.is_regular_file() && IsSource(e.path()))
      engine[fs::relative(e.path(), root / "src").generic_string()] = EngineIncludes(e.path());

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
        if (kPublic.count(inc) == 0) breach(file + ": includes the engine's internal header " + inc);
    }
  }

  if (breaches == 0) std::printf("include rules: %zu engine files, no breach\n", engine.size());
  return breaches == 0 ? 0 : 1;
}
