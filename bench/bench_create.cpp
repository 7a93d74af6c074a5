// Prints how long the Jet writer takes for a journal of one million events with its
// primary key and date index, as make-site writes it: elapsed time, and the processor
// time the program used, which a machine busy with other work disturbs less.

#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_journal.h"
#include "jet/error.h"

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::string path = (std::filesystem::temp_directory_path() / "bench_create_journal.mdb").string();
  auto start = std::chrono::steady_clock::now();
  const std::clock_t cpu_start = std::clock();
  try {
    jet::create::DatabaseWriter db;
    auto& log = bench::AddLogTable(db);
    double day = 45000.0;
    for (int k = 0; k < rows; ++k) {
      // Mostly in time order, one in fifty out of order, as a journal is.
      log.Append(bench::EventRow(k, k % 50 == 7 ? day - (k % 997) : day + k * (730.0 / rows)));
    }
    auto appended = std::chrono::steady_clock::now();
    const std::clock_t cpu_appended = std::clock();
    db.Write(path);
    auto done = std::chrono::steady_clock::now();
    const std::clock_t cpu_done = std::clock();
    std::chrono::duration<double> append_s = appended - start, write_s = done - appended, total = done - start;
    auto cpu = [](std::clock_t from, std::clock_t to) { return static_cast<double>(to - from) / CLOCKS_PER_SEC; };
    std::printf("rows %d: append %.2f s (cpu %.2f s), indexes and file %.2f s (cpu %.2f s), total %.2f s (cpu %.2f s), "
                "%.1f MB\n",
                rows, append_s.count(), cpu(cpu_start, cpu_appended), write_s.count(), cpu(cpu_appended, cpu_done),
                total.count(), cpu(cpu_start, cpu_done), static_cast<double>(std::filesystem::file_size(path)) / 1e6);
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "bench_create: %s\n", e.what());
    return 1;
  }
  std::filesystem::remove(path);
  return 0;
}
