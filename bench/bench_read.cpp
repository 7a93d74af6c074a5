// Read speed: full scans of one table with the engine, against mdbtools' mdb-export on
// the same table in the same run.
//
//   bench_read [FILE.mdb [TABLE [PASSWORD]]]
//
// Defaults to the largest fixture table, site-small Journal.mdb Log.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "db/jet_error_numbers.h"
#include "jet/database.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Runs `f` until half a second has passed (at least 3 times); returns seconds per run.
template <class F>
double TimePerRun(F f, int* runs) {
  auto start = Clock::now();
  *runs = 0;
  do {
    f();
    ++*runs;
  } while (*runs < 3 || Seconds(start) < 0.5);
  return Seconds(start) / *runs;
}

bool RunQuietly(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path here = std::filesystem::path(__FILE__).parent_path();
  std::string file = argc > 1 ? argv[1] : (here / "../../shared/fixtures/site-small/Journal.mdb").lexically_normal().string();
  std::string table = argc > 2 ? argv[2] : "Log";
  std::string password = argc > 3 ? argv[3] : "";

  try {
    auto db = jet::Database::Open(file, {.password = password});
    jet::Table* t = db->GetTable(table);
    if (t == nullptr) {
      std::fprintf(stderr, "bench_read: no table '%s' in %s\n", table.c_str(), file.c_str());
      return 1;
    }
    std::size_t rows = 0;
    auto scan = [&](jet::Table* tab, const std::vector<bool>& wanted) {
      rows = 0;
      tab->Scan(wanted, [&](jet::RowId, const jet::Row&) {
        ++rows;
        return true;
      });
    };
    int runs = 0;
    double warm = TimePerRun([&] { scan(t, {}); }, &runs);
    std::printf("%s %s: %zu rows, %zu columns\n", file.c_str(), table.c_str(), rows, t->Columns().size());
    std::printf("engine, open database, all columns:  %10.0f rows/s  (%.3f ms per scan, %d scans)\n", rows / warm,
                warm * 1e3, runs);
    std::vector<bool> first(t->Columns().size(), false);
    first[0] = true;
    double narrow = TimePerRun([&] { scan(t, first); }, &runs);
    std::printf("engine, open database, first column: %10.0f rows/s  (%.3f ms per scan, %d scans)\n", rows / narrow,
                narrow * 1e3, runs);
    double cold = TimePerRun(
        [&] {
          auto fresh = jet::Database::Open(file, {.password = password});
          scan(fresh->GetTable(table), {});
        },
        &runs);
    std::printf("engine, open and scan:               %10.0f rows/s  (%.3f ms per run, %d runs)\n", rows / cold,
                cold * 1e3, runs);
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "bench_read: error %ld: %s\n", scourex::db::JetErrorNumber(e.code()), e.what());
    return 1;
  }

  const std::string mdb_export = "/usr/bin/mdb-export";
  if (access(mdb_export.c_str(), X_OK) != 0) {
    std::printf("mdb-export: not installed\n");
    return 0;
  }
  bool ok = true;
  int runs = 0;
  double per = TimePerRun([&] { ok = RunQuietly({mdb_export, file, table}) && ok; }, &runs);
  auto db = jet::Database::Open(file, {.password = password});
  std::size_t rows = db->GetTable(table)->RecordedRowCount();
  std::printf("mdb-export (process, open and export): %8.0f rows/s  (%.3f ms per run, %d runs)%s\n", rows / per,
              per * 1e3, runs, ok ? "" : "  [mdb-export failed]");
  return 0;
}
