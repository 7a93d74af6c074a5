// jetsql: looks into a Jet database from the command line.
//
//   jetsql FILE [-p PASSWORD] [-w] [-t SECONDS] [-c SQL]
//                                           one SQL statement (from -c, else standard input)
//   jetsql FILE [-p PASSWORD] --tables      the user tables, one per line
//   jetsql FILE [-p PASSWORD] --dump TABLE  every row of TABLE in scan order
//   jetsql FILE [-p PASSWORD] --check       the integrity check: "ok", or one line per
//                                           problem found (exit status 1)
//   jetsql FILE [-p PASSWORD] --restore-journal
//                                           undo an interrupted change from its intact
//                                           journal whatever the file holds now, keeping
//                                           a copy of both files first; then the check
//   jetsql FILE [-p PASSWORD] --compact     rewrites the file without its free pages and
//                                           prints its size before and after
//
// A DELETE or INSERT opens the file for writing (so does -w / --write, for any
// statement) and is committed before jetsql ends, or undone completely on error; -t
// limits the statement's running time.
//
// Results are tab-separated: a header line with the column names, then one line per
// row (NULL as \N). A statement that is not a query prints the number of rows affected.
// Errors go to standard error as "jetsql: error <number>: <description>", exit status 1.

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "db/jet_error_numbers.h"
#include "jet/compact.h"
#include "jet/database.h"
#include "jet/integrity.h"
#include "jet/session.h"
#include "jet/sql.h"
#include "jet/tsv.h"

namespace {

const char kUsage[] =
    "usage: jetsql FILE [-p PASSWORD] [-w] [-t SECONDS] [-c SQL | --tables | --dump TABLE | --check |\n"
    "       --restore-journal | --compact]\n";

const char kHelp[] =
    "  -p PASSWORD   the database password\n"
    "  -w            open the file for writing (a DELETE or INSERT always does)\n"
    "  -t SECONDS    stop the statement after that long, changing nothing\n"
    "  -c SQL        run one statement (else read it from standard input)\n"
    "  --tables      list the user tables\n"
    "  --dump TABLE  print every row of TABLE\n"
    "  --check       check the file's integrity (row counts, every index against its\n"
    "                table, each index tree's shape, pages against the page maps):\n"
    "                prints \"ok\" or one line per problem, exit status 1\n"
    "  --restore-journal\n"
    "                undo the interrupted change recorded in FILE's journal (FILE-journal)\n"
    "                whatever FILE holds now: for when opening refuses because the file\n"
    "                holds data that neither that change nor the file before it wrote\n"
    "                (another program changed it, or the disk damaged it). Only an intact\n"
    "                journal is played back; first a copy of both files is kept as\n"
    "                FILE.before-restore and FILE-journal.before-restore (never over an\n"
    "                existing file). Then the file's integrity is checked as by --check.\n"
    "  --compact     give the free pages back to the file system: the file is rewritten\n"
    "                beside itself without them (it needs that much free space there),\n"
    "                checked, then put in its place; everything in it is kept, and so is\n"
    "                each table's next AutoNumber. Prints the sizes before and after\n"
    "\n"
    "Statements (keywords in any letter case; names bare, [bracketed] or table.column):\n"
    "  SELECT [TOP n] * | expr [AS name], ... FROM table [[AS] alias] [WHERE condition]\n"
    "         [GROUP BY expr, ...] [HAVING condition] [ORDER BY key [ASC|DESC], ...]\n"
    "  DELETE FROM table [WHERE condition]\n"
    "  INSERT INTO table [(column, ...)] VALUES (value, ...)\n"
    "An ORDER BY key is an expression, a column's alias or its position (1 for the first).\n"
    "Sorting puts NULL first, text without regard to case. TOP n also keeps the rows that\n"
    "tie with the n-th on every ORDER BY key.\n"
    "Conditions: = <> < <= > >=, AND, OR, NOT, IS [NOT] NULL, [NOT] IN (value, ...),\n"
    "  [NOT] IN (SELECT column FROM table [WHERE ...]), [NOT] BETWEEN a AND b,\n"
    "  [NOT] LIKE 'pattern' (* ? # [a-z] [!a-z]), unary minus.\n"
    "Functions: COUNT(*), COUNT(expr), MIN(expr), MAX(expr) (over each group, or the\n"
    "  whole table without GROUP BY; NULLs are skipped, MIN and MAX of nothing is NULL);\n"
    "  Year(date), Month(date), Day(date).\n"
    "Values: 12, 1.5, 'text', \"text\", #2025-12-01#, #12/01/2025 13:30#, True, False, NULL.\n"
    "\n"
    "Examples:\n"
    "  Events per month that a purge of events before 1 December 2025 would take:\n"
    "    jetsql Journal.mdb -c \"SELECT Year([Date]) AS Y, Month([Date]) AS M, COUNT(*) AS Events\n"
    "      FROM [Log] WHERE [Date] < #2025-12-01# GROUP BY Year([Date]), Month([Date]) ORDER BY 1, 2\"\n"
    "  The ten oldest invalid visitors:\n"
    "    jetsql Orvanta.mdb -p PASSWORD -c \"SELECT TOP 10 ID, LastName, FirstName, From_Date\n"
    "      FROM CRDHLD WHERE [type] = 0 AND [Valid] = 0 ORDER BY From_Date\"\n"
    "\n"
    "Results are tab-separated: a line of column names, then one line per row (NULL as \\N).\n"
    "A DELETE or INSERT prints the number of rows it changed. Errors go to standard error\n"
    "with their number, exit status 1.\n";

int Usage() {
  std::cerr << kUsage << "jetsql --help tells more.\n";
  return 2;
}

void PrintHeader(const std::vector<std::string>& names) {
  std::string line;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) line += '\t';
    line += jet::EscapeTsvText(names[i]);
  }
  std::cout << line << '\n';
}

int Check(jet::Database& db) {
  std::vector<std::string> problems = jet::CheckIntegrity(db);
  for (const auto& p : problems) std::cout << p << '\n';
  if (problems.empty()) std::cout << "ok\n";
  return problems.empty() ? 0 : 1;
}

int Dump(jet::Database& db, const std::string& name) {
  jet::Table* table = db.GetTable(name);
  if (table == nullptr)
    throw jet::Error(jet::ErrorCode::UnknownTable, "Database '" + db.path() + "' has no table '" + name + "'");
  std::vector<std::string> names;
  for (const auto& c : table->Columns()) names.push_back(c.name);
  PrintHeader(names);
  // Rows go out in blocks rather than one stream insertion each.
  std::string block;
  table->Scan({}, [&](jet::RowId, const jet::Row& row) {
    block += jet::FormatTsvRow(row);
    block += '\n';
    if (block.size() >= (64u << 10)) {
      std::cout.write(block.data(), static_cast<std::streamsize>(block.size()));
      block.clear();
    }
    return true;
  });
  std::cout.write(block.data(), static_cast<std::streamsize>(block.size()));
  return 0;
}

// Whether the statement changes the file: its first word is DELETE or INSERT.
bool Changes(const std::string& command) {
  std::size_t i = 0;
  while (i < command.size() && std::isspace(static_cast<unsigned char>(command[i]))) ++i;
  std::string word;
  while (i < command.size() && std::isalpha(static_cast<unsigned char>(command[i])))
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(command[i++])));
  return word == "DELETE" || word == "INSERT";
}

int RunSql(jet::Session& session, const std::string& command, double timeout) {
  jet::sql::Result result = session.Execute(command, {.timeout_seconds = timeout});
  if (!result.is_query) {
    std::cout << result.affected << '\n';
    return 0;
  }
  PrintHeader(result.column_names);
  for (const auto& row : result.rows) std::cout << jet::FormatTsvRow(row) << '\n';
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::string file, password, command, dump;
  bool have_command = false, tables = false, have_dump = false, write = false, check = false, restore = false,
       compact = false;
  double timeout = 0;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-p" && i + 1 < args.size()) {
      password = args[++i];
    } else if (a == "-c" && i + 1 < args.size()) {
      command = args[++i];
      have_command = true;
    } else if (a == "-w" || a == "--write") {
      write = true;
    } else if (a == "-t" && i + 1 < args.size()) {
      char* end = nullptr;
      timeout = std::strtod(args[++i].c_str(), &end);
      if (end == nullptr || *end != '\0' || !(timeout >= 0)) return Usage();
    } else if (a == "--tables") {
      tables = true;
    } else if (a == "--check") {
      check = true;
    } else if (a == "--restore-journal") {
      restore = true;
    } else if (a == "--compact") {
      compact = true;
    } else if (a == "--dump" && i + 1 < args.size()) {
      dump = args[++i];
      have_dump = true;
    } else if (a == "-h" || a == "--help") {
      std::cout << kUsage << kHelp;
      return 0;
    } else if (file.empty() && (a.empty() || a[0] != '-')) {
      file = a;
    } else {
      return Usage();
    }
  }
  if (file.empty() || (tables + have_dump + have_command + check + restore + compact) > 1) return Usage();

  try {
    if (restore) {
      jet::Database::RestoreCopies copies = jet::Database::RestoreJournal(file, {.password = password});
      std::cout << "The interrupted change was undone; the files as they were are kept as '" << copies.database
                << "' and '" << copies.journal << "'.\n";
      return Check(*jet::Database::Open(file, {.password = password}));
    }
    if (compact) {
      jet::CompactResult r = jet::CompactDatabase(file, {.password = password});
      std::cout << "size before: " << r.size_before << " bytes\nsize after: " << r.size_after << " bytes\n";
      return 0;
    }
    if (tables || have_dump || check) {
      auto db = jet::Database::Open(file, {.password = password});
      if (have_dump) return Dump(*db, dump);
      if (check) return Check(*db);
      for (const auto& n : db->TableNames()) std::cout << n << '\n';
      return 0;
    }
    if (!have_command) command.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    auto session = jet::Session::Open(file, {.password = password, .read_write = write || Changes(command)});
    return RunSql(*session, command, timeout);
  } catch (const jet::Error& e) {
    std::cout.flush();
    std::cerr << "jetsql: error " << scourex::db::JetErrorNumber(e.code()) << ": " << e.what() << '\n';
    return 1;
  }
}
