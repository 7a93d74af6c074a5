// The purges on large Jet files, measured on the real scourex binary beside peers doing
// the same work on the same data in the same run:
//   - SQLite deleting the same rows from the same table with the same index (sqlite3
//     shell, rollback journal, synchronous=FULL);
//   - mdb-export reading the same table (a peer reader), beside `jetsql --dump` of it;
//   - the engine's own full scan of the table.
//
//   bench_purge [--events 1000000,2000000,10000000] [--cardholders 100000] [--compact] [--keep]
//
// With --compact each purged journal is then compacted (jetsql --compact) beside SQLite's
// VACUUM of its purged copy: sizes before and after, time, and jetsql's peak memory.
//
// Sites are written with make-site; the event purge takes the events older than 12
// months of a journal spanning 24, about half of them. Ten million events make a file of
// about 760 MiB, well within Jet 4's 2 GiB. The event purges end with a summary: time
// beside SQLite's and the peak memory of the scourex run. Each figure is the median of
// three runs, each from the same files and with nothing waiting to be written.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "jet/database.h"
#include "jet/datetime.h"
#include "jet/error.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Run {
  double seconds = 0;
  double cpu = 0;  // user and system time of the command and its children
  long peak_kib = 0;
  int status = -1;
};

// Runs a command through the shell, timing it and taking its peak resident memory.
Run Measure(const std::string& command) {
  Run r;
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.peak_kib = usage.ru_maxrss;
  r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// Writes `from` over `to` where it lies, without cutting `to` short first: the file keeps
// its pages, as a file a purge works on has kept them for a while. (Memory a new file takes
// makes the first writes into it slower on some machines, this one among them.)
void WriteOver(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::fstream out(to, std::ios::binary | std::ios::in | std::ios::out);
  out << in.rdbuf();
  out.close();
  fs::resize_file(to, fs::file_size(from));
}

// The run of median time among three of `command`, each on `files` as they were before
// the first. Nothing is left waiting to be written when a run starts (a sync, then two
// seconds for the disk to settle): otherwise a command that syncs its file would wait for
// what the steps before it wrote. This machine's speed varies from one second to the
// next; the median of three says more than one run.
Run Timed(const std::string& command, const std::vector<std::string>& files = {}) {
  for (const std::string& f : files) fs::copy_file(f, f + ".bench-copy", fs::copy_options::overwrite_existing);
  std::vector<Run> runs;
  for (int k = 0; k < 3; ++k) {
    if (k > 0)
      for (const std::string& f : files) WriteOver(f + ".bench-copy", f);
    ::sync();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    runs.push_back(Measure(command));
  }
  for (const std::string& f : files) fs::remove(f + ".bench-copy");
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
  return runs[1];
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

void Require(const Run& r, const std::string& what) {
  if (r.status != 0) {
    std::cerr << "bench_purge: " << what << " failed with status " << r.status << "\n";
    std::exit(1);
  }
}

std::string SqlValue(const jet::Value& v) {
  using K = jet::Value::Kind;
  switch (v.kind) {
    case K::Null: return "NULL";
    case K::Boolean: return v.b ? "-1" : "0";
    case K::Integer: return std::to_string(v.i);
    case K::Currency: return std::to_string(static_cast<double>(v.i) / 10000.0);
    case K::Single:
    case K::Double: {
      std::ostringstream s;
      s.precision(17);
      s << v.d;
      return s.str();
    }
    case K::Date: return "'" + jet::FormatJetDate(v.d) + "'";
    default: {
      std::string q = "'";
      for (char c : v.s) q += c == '\'' ? std::string("''") : std::string(1, c);
      return q + "'";
    }
  }
}

// Copies the tables of a Jet file into a new SQLite database, with an index on each
// column that one of the purges searches.
void CopyToSqlite(const std::string& mdb, const std::string& password, const std::vector<std::string>& tables,
                  const std::vector<std::string>& indexes, const std::string& sqlite_db) {
  auto db = jet::Database::Open(mdb, {.password = password});
  std::string script_path = sqlite_db + ".sql";
  {
    std::ofstream out(script_path);
    out << "PRAGMA journal_mode=DELETE;\nBEGIN;\n";
    for (const auto& name : tables) {
      jet::Table* t = db->GetTable(name);
      out << "CREATE TABLE [" << name << "] (";
      for (std::size_t i = 0; i < t->Columns().size(); ++i) out << (i ? ", [" : "[") << t->Columns()[i].name << "]";
      out << ");\n";
      t->Scan({}, [&](jet::RowId, const jet::Row& row) {
        out << "INSERT INTO [" << name << "] VALUES (";
        for (std::size_t i = 0; i < row.size(); ++i) out << (i ? "," : "") << SqlValue(row[i]);
        out << ");\n";
        return true;
      });
    }
    for (const auto& index : indexes) out << index << ";\n";
    out << "COMMIT;\n";
  }
  Require(Measure("sqlite3 " + Quote(sqlite_db) + " < " + Quote(script_path) + " > /dev/null"), "loading SQLite");
  fs::remove(script_path);
}

std::string CutoffText(int months_back, bool jet_literal) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  tm.tm_mon -= months_back;
  int day = tm.tm_mday;
  tm.tm_mday = 1;
  std::mktime(&tm);
  int last = 31;
  while (last > 28) {
    std::tm probe = tm;
    probe.tm_mday = last;
    std::mktime(&probe);
    if (probe.tm_mon == tm.tm_mon) break;
    --last;
  }
  tm.tm_mday = std::min(day, last);
  char buf[40];
  if (jet_literal) {
    std::strftime(buf, sizeof buf, "#%m/%d/%Y %H:%M#", &tm);
  } else {
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:00", &tm);
  }
  return buf;
}

std::string LogCount(const std::string& log_path, const std::string& label) {
  std::ifstream in(log_path);
  std::string line, found = "?";
  while (std::getline(in, line)) {
    auto at = line.find(label);
    if (at != std::string::npos) {
      found = line.substr(at + label.size());
      while (!found.empty() && (found.back() == '\r' || found.back() == ' ')) found.pop_back();
    }
  }
  return found;
}

void Site(const fs::path& dir, const std::string& make_site_args, const std::string& own_options) {
  fs::create_directories(dir);
  Require(Measure(std::string(MAKE_SITE_BINARY) + " " + Quote(dir.string()) + " " + make_site_args + " >/dev/null"),
          "make-site");
  fs::copy_file(SCOUREX_BINARY, dir / "scourex", fs::copy_options::overwrite_existing);
  std::ofstream(dir / "scourex.ini") << own_options;
}

struct Summary {
  long events = 0;
  std::string deleted;
  double scourex_s = 0, sqlite_s = 0, peak_mib = 0;
};
std::vector<Summary> summaries;

bool compact = false;
struct Compaction {
  long events = 0;
  double jet_before = 0, jet_after = 0, jet_s = 0, peak_mib = 0;
  double sqlite_before = 0, sqlite_after = 0, sqlite_s = 0;
};
std::vector<Compaction> compactions;

double MiB(const std::string& path) { return static_cast<double>(fs::file_size(path)) / (1 << 20); }

void Compact(long events, const std::string& journal, const std::string& sqlite_db) {
  Compaction c;
  c.events = events;
  c.jet_before = MiB(journal);
  Run jet = Timed(std::string(JETSQL_BINARY) + " " + Quote(journal) + " --compact > /dev/null", {journal});
  Require(jet, "jetsql --compact");
  c.jet_after = MiB(journal);
  c.jet_s = jet.seconds;
  c.peak_mib = jet.peak_kib / 1024.0;
  c.sqlite_before = MiB(sqlite_db);
  Run vacuum = Timed("sqlite3 " + Quote(sqlite_db) + " 'PRAGMA synchronous=FULL; VACUUM;'", {sqlite_db});
  Require(vacuum, "SQLite VACUUM");
  c.sqlite_after = MiB(sqlite_db);
  c.sqlite_s = vacuum.seconds;
  std::printf("  jetsql --compact %8.2f s  %.1f -> %.1f MiB (%.0f%%)  peak %6.1f MiB\n", c.jet_s, c.jet_before,
              c.jet_after, 100 * c.jet_after / c.jet_before, c.peak_mib);
  std::printf("  sqlite3 VACUUM   %8.2f s  %.1f -> %.1f MiB  -> jetsql/sqlite %.2fx\n", c.sqlite_s, c.sqlite_before,
              c.sqlite_after, c.jet_s / c.sqlite_s);
  std::fflush(stdout);
  compactions.push_back(c);
}

void EventPurge(const fs::path& root, long events) {
  fs::path dir = root / ("events-" + std::to_string(events));
  Site(dir, "--seed 11 --size 20 --events " + std::to_string(events),
       "VisitorMonths=0\r\nEventMonths=12\r\n");
  std::string journal = (dir / "Journal.mdb").string();

  // The engine's own full scan, and the rows the purge will take.
  auto scan_start = Clock::now();
  long rows = 0;
  {
    auto db = jet::Database::Open(journal);
    db->GetTable("Log")->Scan({}, [&](jet::RowId, const jet::Row&) {
      ++rows;
      return true;
    });
  }
  double scan_s = std::chrono::duration<double>(Clock::now() - scan_start).count();

  Run export_run = Timed("mdb-export " + Quote(journal) + " Log > /dev/null");
  Run dump_run = Timed(std::string(JETSQL_BINARY) + " " + Quote(journal) + " --dump Log > /dev/null");

  std::string sqlite_db = (dir / "journal.sqlite").string();
  CopyToSqlite(journal, "", {"Log"}, {"CREATE INDEX LogDate ON Log([Date])"}, sqlite_db);
  std::string cutoff_sql = CutoffText(12, false);
  Run sqlite_run = Timed("sqlite3 " + Quote(sqlite_db) + " " +
                             Quote("PRAGMA synchronous=FULL; DELETE FROM Log WHERE [Date] < '" + cutoff_sql +
                                   "'; SELECT changes();") +
                             " > " + Quote((dir / "sqlite.out").string()),
                         {sqlite_db});
  Require(sqlite_run, "SQLite delete");
  std::string sqlite_deleted;
  std::ifstream(dir / "sqlite.out") >> sqlite_deleted;

  Run job = Timed("cd / && " + Quote((dir / "scourex").string()) + " 2>/dev/null", {journal});
  std::string deleted = LogCount((dir / "Scourex.log").string(), "Total Events Deleted ");

  double n = std::atof(deleted.c_str());
  std::printf("event purge, %ld events (%s MiB file)\n", rows,
              std::to_string(fs::file_size(journal) >> 20).c_str());
  std::printf("  scourex          %8.2f s  (cpu %5.2f s)  %10.0f rows deleted/s  peak %6.1f MiB  deleted %s (status %d)\n",
              job.seconds, job.cpu, n / job.seconds, job.peak_kib / 1024.0, deleted.c_str(), job.status);
  std::printf("  sqlite3 delete   %8.2f s  (cpu %5.2f s)  %10.0f rows deleted/s  deleted %s  -> scourex/sqlite %.2fx\n",
              sqlite_run.seconds, sqlite_run.cpu, std::atof(sqlite_deleted.c_str()) / sqlite_run.seconds,
              sqlite_deleted.c_str(), job.seconds / sqlite_run.seconds);
  std::printf("  mdb-export read  %8.2f s  (cpu %5.2f s)  %10.0f rows/s  -> scourex/mdb-export %.2fx\n",
              export_run.seconds, export_run.cpu, rows / export_run.seconds, job.seconds / export_run.seconds);
  std::printf("  jetsql --dump    %8.2f s  (cpu %5.2f s)  %10.0f rows/s  -> jetsql/mdb-export %.2fx\n",
              dump_run.seconds, dump_run.cpu, rows / dump_run.seconds, dump_run.seconds / export_run.seconds);
  std::printf("  engine scan      %8.2f s  %10.0f rows/s\n", scan_s, rows / scan_s);
  std::fflush(stdout);
  summaries.push_back({rows, deleted, job.seconds, sqlite_run.seconds, job.peak_kib / 1024.0});
  if (compact) Compact(rows, journal, sqlite_db);
  fs::remove(sqlite_db);
}

void PrintSummary() {
  if (summaries.empty()) return;
  std::printf("\n| events | deleted | scourex | SQLite | scourex/SQLite | scourex peak memory |\n|---|---|---|---|---|---|\n");
  for (const Summary& r : summaries)
    std::printf("| %ld | %s | %.2f s | %.2f s | %.2fx | %.1f MiB |\n", r.events, r.deleted.c_str(), r.scourex_s,
                r.sqlite_s, r.scourex_s / r.sqlite_s, r.peak_mib);
  if (!compactions.empty())
    std::printf("\n| events | Jet file | compacted | jetsql --compact | SQLite file | after VACUUM | VACUUM | "
                "jetsql/VACUUM | jetsql peak memory |\n|---|---|---|---|---|---|---|---|---|\n");
  for (const Compaction& c : compactions)
    std::printf("| %ld | %.1f MiB | %.1f MiB (%.0f%%) | %.2f s | %.1f MiB | %.1f MiB | %.2f s | %.2fx | %.1f MiB |\n",
                c.events, c.jet_before, c.jet_after, 100 * c.jet_after / c.jet_before, c.jet_s, c.sqlite_before,
                c.sqlite_after, c.sqlite_s, c.jet_s / c.sqlite_s, c.peak_mib);
  std::fflush(stdout);
}

void VisitorPurge(const fs::path& root, long cardholders) {
  fs::path dir = root / ("visitors-" + std::to_string(cardholders));
  Site(dir, "--seed 12 --events 0 --size " + std::to_string(cardholders), "VisitorMonths=6\r\nEventMonths=0\r\n");
  std::string main_db = (dir / "Orvanta.mdb").string();
  std::string sqlite_db = (dir / "main.sqlite").string();
  CopyToSqlite(main_db, "Morvek3",
               {"CRDHLD", "CARD", "Join_EmpAG", "Join_EmpAuthLift", "Join_EmpZoneID", "Exception", "ExceptionAG"},
               {"CREATE UNIQUE INDEX CrdhldId ON CRDHLD(ID)", "CREATE INDEX CardOwner ON CARD(Owner)",
                "CREATE INDEX AgEmp ON Join_EmpAG(Emp_ID)", "CREATE INDEX LiftEmp ON Join_EmpAuthLift(Emp_ID)",
                "CREATE INDEX ZoneEmp ON Join_EmpZoneID(Emp_ID)", "CREATE INDEX ExcEmp ON Exception(EmpID)",
                "CREATE INDEX ExcAgEmp ON ExceptionAG(EmpID)"},
               sqlite_db);
  std::string cutoff = CutoffText(6, false);
  std::string sub = "(Select ID From CRDHLD Where ([type] = 0) and ([Valid] = 0) and ([From_Date]< '" + cutoff +
                    "' or [From_Date] is NULL))";
  std::string script = "PRAGMA synchronous=FULL;\n";
  for (const char* head : {"DELETE FROM CARD Where Owner in ", "DELETE FROM Join_EmpAG Where Emp_ID in ",
                           "DELETE FROM Join_EmpAuthLift Where Emp_ID in ", "DELETE FROM Join_EmpZoneID Where Emp_ID in ",
                           "DELETE FROM [Exception] Where EmpID in ", "DELETE FROM ExceptionAG Where EmpID in "}) {
    script += std::string(head) + sub + ";\n";
  }
  script += "DELETE From CRDHLD Where ([type] = 0) and ([Valid] = 0) and ([From_Date]< '" + cutoff +
            "' or [From_Date] is NULL);\n";
  std::ofstream(dir / "purge.sql") << script;
  Run sqlite_run = Timed("sqlite3 " + Quote(sqlite_db) + " < " + Quote((dir / "purge.sql").string()), {sqlite_db});
  Require(sqlite_run, "SQLite visitor purge");

  Run job = Timed("cd / && " + Quote((dir / "scourex").string()) + " 2>/dev/null", {main_db});
  std::string log = (dir / "Scourex.log").string();
  std::printf("visitor purge, %ld cardholders\n", cardholders);
  std::printf("  scourex          %8.2f s  peak %6.1f MiB  badges %s, visitors %s (status %d)\n", job.seconds,
              job.peak_kib / 1024.0, LogCount(log, "Total Badges Deleted ").c_str(),
              LogCount(log, "Total Visitor Deleted ").c_str(), job.status);
  std::printf("  sqlite3, same 7  %8.2f s  -> scourex/sqlite %.2fx\n", sqlite_run.seconds,
              job.seconds / sqlite_run.seconds);
  std::fflush(stdout);
}

std::vector<long> ParseList(const std::string& s) {
  std::vector<long> v;
  std::stringstream in(s);
  std::string item;
  while (std::getline(in, item, ',')) v.push_back(std::atol(item.c_str()));
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> events = {1000000, 2000000, 10000000};
  long cardholders = 100000;
  bool keep = false;
  for (int k = 1; k < argc; ++k) {
    std::string arg = argv[k];
    if (arg == "--events" && k + 1 < argc) events = ParseList(argv[++k]);
    else if (arg == "--cardholders" && k + 1 < argc) cardholders = std::atol(argv[++k]);
    else if (arg == "--keep") keep = true;
    else if (arg == "--compact") compact = true;
    else {
      std::cerr << "usage: bench_purge [--events N,N,...] [--cardholders N] [--compact] [--keep]\n";
      return 2;
    }
  }
  if (std::string(MAKE_SITE_BINARY).empty()) {
    std::cerr << "bench_purge: make-site was not built\n";
    return 1;
  }
  char pattern[] = "/tmp/scourex-bench-XXXXXX";
  fs::path root = mkdtemp(pattern);
  try {
    for (long n : events) EventPurge(root, n);
    PrintSummary();
    if (cardholders > 0) VisitorPurge(root, cardholders);
  } catch (const jet::Error& e) {
    std::cerr << "bench_purge: " << e.what() << "\n";
    return 1;
  }
  if (keep) {
    std::printf("files kept in %s\n", root.c_str());
  } else {
    fs::remove_all(root);
  }
  return 0;
}
