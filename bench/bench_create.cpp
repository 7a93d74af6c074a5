// Prints how long the Jet writer takes for a journal of one million events with its
// primary key and date index, as make-site writes it: elapsed time, and the processor
// time the program used, which a machine busy with other work disturbs less.

#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <string>

#include "jet/create/database_writer.h"
#include "jet/error.h"

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::string path = (std::filesystem::temp_directory_path() / "bench_create_journal.mdb").string();
  using jet::ColumnType;
  using jet::Value;
  auto start = std::chrono::steady_clock::now();
  const std::clock_t cpu_start = std::clock();
  try {
    jet::create::DatabaseWriter db;
    jet::create::ColumnSpec id{"ID", ColumnType::Long, 0, true, true};
    jet::create::IndexSpec pk;
    pk.name = "PrimaryKey";
    pk.columns = {"ID"};
    pk.primary = true;
    jet::create::IndexSpec by_date;
    by_date.name = "Date";
    by_date.columns = {"Date"};
    auto& log = db.AddTable("Log",
                            {id, {"Date", ColumnType::DateTime}, {"EventType", ColumnType::Integer},
                             {"CardNumber", ColumnType::Text, 20}, {"Message", ColumnType::Text, 255}},
                            {pk, by_date});
    double day = 45000.0;
    for (int k = 0; k < rows; ++k) {
      // Mostly in time order, one in fifty out of order, as a journal is.
      double when = k % 50 == 7 ? day - (k % 997) : day + k * (730.0 / rows);
      char card[16];
      std::snprintf(card, sizeof card, "%08X", static_cast<unsigned>(k * 2654435761u));
      log.Append({Value::Null(), Value::DateValue(when), Value::Int(k % 21 + 1), Value::Str(card),
                  Value::Str("Access granted at door " + std::to_string(k % 200))});
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
