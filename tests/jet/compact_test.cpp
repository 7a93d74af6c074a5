// Compaction: every fixture compacted reads the same to the engine, mdbtools and
// mdb-reader; AutoNumber counters survive it; it refuses, changing nothing, where it must;
// and a process ending at any step leaves the original or the compacted file.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "fault_env.h"
#include "jet/compact.h"
#include "jet/database/database_internal.h"
#include "jet/format/header.h"
#include "jet/session.h"
#include "support.h"
#include "write/write_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using testing::FixturesDir;
using testing::Shell;
using testing::ShellQuote;

constexpr const char* kPassword = "Morvek3";  // the site fixtures' main databases; others take any

std::vector<fs::path> FixtureFiles() {
  std::vector<fs::path> files;
  for (const char* folder : {"access", "site-small", "site-ri"})
    for (const auto& e : fs::directory_iterator(FixturesDir() / folder))
      if (e.path().extension() == ".mdb") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

// Every table the engine reads, system tables by their catalogue entries (name and
// type), user tables row by row in scan order.
std::string EngineView(const std::string& path) {
  auto db = Database::Open(path, {.password = kPassword});
  std::vector<std::string> objects;
  std::string out;
  Table* catalog = db->GetTable("MSysObjects");
  std::size_t name = 0, type = 0;
  for (std::size_t i = 0; i < catalog->Columns().size(); ++i) {
    if (catalog->Columns()[i].name == "Name") name = i;
    if (catalog->Columns()[i].name == "Type") type = i;
  }
  catalog->Scan({}, [&](RowId, const Row& row) {
    objects.push_back(FormatTsvRow({row[name], row[type]}));
    return true;
  });
  std::sort(objects.begin(), objects.end());
  for (const auto& o : objects) out += o + "\n";
  for (const auto& t : db->TableNames()) {
    out += "== " + t + "\n";
    db->GetTable(t)->Scan({}, [&](RowId, const Row& row) {
      out += FormatTsvRow(row) + "\n";
      return true;
    });
  }
  return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// What mdbtools reads of every table, system tables included, each table's lines sorted.
std::string MdbtoolsView(const std::string& path) {
  std::string out;
  for (const std::string& t : SplitLines(Shell("mdb-tables -1 -S " + ShellQuote(path)))) {
    std::string rows = Shell("mdb-export -b hex " + ShellQuote(path) + " " + ShellQuote(t) + " 2>&1");
    std::vector<std::string> lines = SplitLines(rows);
    std::sort(lines.begin(), lines.end());
    out += "== " + t + "\n";
    for (const auto& l : lines) out += l + "\n";
  }
  return out;
}

// What mdb-reader reads of every user table, each table's rows sorted.
std::string MdbReaderView(const std::string& path) {
  const std::string script =
      "import {readFileSync} from 'node:fs'; import M from 'mdb-reader';"
      "const r = new M(readFileSync(process.argv[1]), {password: process.argv[2]});"
      "for (const n of r.getTableNames()) { const rows = r.getTable(n).getData().map(x => JSON.stringify(x,"
      " (k, v) => typeof v === 'bigint' ? v.toString() : v)).sort();"
      " console.log('== ' + n); for (const x of rows) console.log(x); }";
  int status = 0;
  std::string out = Shell("cd " + ShellQuote(testing::ReadMdbScript().parent_path().string()) +
                              " && node --input-type=module -e " + ShellQuote(script) + " " + ShellQuote(path) + " " +
                              kPassword + " 2>&1",
                          &status);
  return std::to_string(status) + "\n" + out;
}

TEST(Compact, EveryFixtureReadsTheSameToEveryReader) {
  JET_REQUIRE_FIXTURES();
  const bool mdbtools = testing::HaveMdbtools(), mdb_reader = testing::HaveMdbReader();
  testing::TempDir dir;
  for (const fs::path& file : FixtureFiles()) {
    SCOPED_TRACE(file.string());
    const fs::path folder = dir.path() / file.parent_path().filename() / file.stem();
    fs::create_directories(folder);
    const std::string path = (folder / file.filename()).string();
    fs::copy_file(file, path);
    const std::string engine = EngineView(file.string());
    CompactResult r = CompactDatabase(path, {.password = kPassword});
    EXPECT_EQ(r.size_before, fs::file_size(file));
    EXPECT_EQ(r.size_after, fs::file_size(path));
    EXPECT_LE(r.size_after, r.size_before);
    EXPECT_EQ(testing::FolderContents(folder).size(), 1u) << "nothing but the file is left";

    EXPECT_EQ(EngineView(path), engine);
    auto db = Database::Open(path, {.password = kPassword});
    testing::ExpectConsistent(*db);
    EXPECT_EQ(db->version(), Database::Open(file.string(), {.password = kPassword})->version());
    if (mdbtools) {
      EXPECT_EQ(MdbtoolsView(path), MdbtoolsView(file.string()));
    }
    if (mdb_reader) {
      const std::string compacted = MdbReaderView(path);
      EXPECT_EQ(compacted.rfind("0\n", 0), 0u) << compacted.substr(0, 200);
      EXPECT_EQ(compacted, MdbReaderView(file.string()));
    }
  }
}

// The same file with a database key: every page after the header RC4-encrypted with the
// key and the page's number.
std::string Encrypted(std::string bytes, std::uint32_t key) {
  auto* p = reinterpret_cast<std::uint8_t*>(bytes.data());
  const JetVersion v = p[0x14] == 0 ? JetVersion::Jet3 : JetVersion::Jet4;
  const std::size_t page_size = FormatFor(v).page_size;
  ToggleHeaderEncoding(p, page_size, v);
  for (int i = 0; i < 4; ++i) p[kHeaderDatabaseKey + i] = static_cast<std::uint8_t>(key >> (8 * i));
  ToggleHeaderEncoding(p, page_size, v);
  for (std::size_t n = 1; (n + 1) * page_size <= bytes.size(); ++n)
    CryptPage(key, static_cast<std::uint32_t>(n), p + n * page_size, page_size);
  return bytes;
}

// Pages move, so an encrypted file's pages are encrypted again for their new numbers.
TEST(Compact, EncryptedFilesStayEncryptedAndReadTheSame) {
  JET_REQUIRE_FIXTURES();
  for (const char* file : {"access/indexTestV1997.mdb", "access/test2V2000.mdb", "site-small/Orvanta.mdb"}) {
    SCOPED_TRACE(file);
    testing::TempDir dir;
    const std::string path = (dir.path() / "encrypted.mdb").string();
    testing::WriteAll(path, Encrypted(testing::ReadAll(FixturesDir() / file), 0x5A3C9E17));
    const std::string engine = EngineView(path);
    CompactDatabase(path, {.password = kPassword});
    EXPECT_EQ(EngineView(path), engine);
    auto db = Database::Open(path, {.password = kPassword});
    EXPECT_EQ(db->database_key(), 0x5A3C9E17u);
    testing::ExpectConsistent(*db);
  }
}

// A journal whose newest events were purged: a compacted file is smaller, keeps its long
// values, and the next event gets a number above every number the file ever gave.
TEST(Compact, KeepsLongValuesAndNeverGivesANumberTwice) {
  testing::TempDir dir;
  const std::string path = testing::MakeEventDatabase(dir.path() / "Journal.mdb", 3000);
  {
    auto s = Session::Open(path, {.password = "", .read_write = true});
    s->Execute("DELETE FROM Log WHERE ID > 2000 OR ID < 1200");
  }
  const auto before = testing::Lines(testing::RowsOf(*Database::Open(path), "Log"));
  CompactResult r = CompactDatabase(path);
  EXPECT_LT(r.size_after, r.size_before * 6 / 10);
  {
    auto db = Database::Open(path);
    EXPECT_EQ(testing::Lines(testing::RowsOf(*db, "Log")), before);
    testing::ExpectConsistent(*db);
  }
  auto s = Session::Open(path, {.password = "", .read_write = true});
  s->Execute("INSERT INTO Log (Badge, Note) VALUES ('B1', 'after')");
  auto max = s->Execute("SELECT MAX(ID) FROM Log");
  ASSERT_EQ(max.rows.size(), 1u);
  EXPECT_EQ(FormatTsvRow(max.rows[0]), "3001");
  if (testing::HaveMdbtools()) testing::ExpectOtherReadersCount(path, "Log", before.size() + 1);
}

struct Refusal {
  const char* name;
  ErrorCode code;
  const char* fragment;
};

TEST(Compact, RefusesAndChangesNothing) {
  const Refusal cases[] = {
#ifndef _WIN32  // the names of a file are counted on POSIX systems only
      {"several names", ErrorCode::Unsupported, "hard links"},
#endif
      {"journal", ErrorCode::Unsupported, "unfinished change"},
      {"in use", ErrorCode::Locked, "in use"},
      {"no space", ErrorCode::Io, "bytes free"},
      {"damaged", ErrorCode::Corrupt, "integrity check"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    const std::string path = testing::MakeEventDatabase(dir.path() / "Journal.mdb", 400);
    {
      auto s = Session::Open(path, {.password = "", .read_write = true});
      s->Execute("DELETE FROM Log WHERE ID < 300");
    }
    testing::FaultEnv env;
    std::unique_ptr<Database> holder;
    const std::string name = c.name;
    if (name == "several names") fs::create_hard_link(path, dir.path() / "other.mdb");
    if (name == "journal") testing::WriteAll(path + "-journal", "left by a change");
    if (name == "in use") holder = Database::Open(path, {.password = "", .read_write = true});
    if (name == "no space") env.FillDisk();
    if (name == "damaged") {
      // The table's recorded row count no longer matches its rows.
      std::string bytes = testing::ReadAll(path);
      const std::uint32_t tdef = Internal(*Database::Open(path)->GetTable("Log")).definition().page;
      bytes[tdef * 4096 + kJet4Format.tdef_row_count] ^= 0x01;
      testing::WriteAll(path, bytes);
    }
    const std::string original = testing::ReadAll(path);
    const auto folder = testing::FolderContents(dir.path());
    testing::ExpectJetError(c.code, c.fragment, [&] { CompactDatabase(path, {.password = "", .env = &env}); });
    EXPECT_EQ(testing::ReadAll(path), original);
    EXPECT_EQ(testing::FolderContents(dir.path()), folder);
  }
}

#ifndef _WIN32  // ends a child process
TEST(Compact, ProcessEndingAtEachStepLeavesTheOriginalOrTheCompactedFile) {
  testing::TempDir dir;
  const fs::path pristine = dir.path() / "pristine.mdb";
  testing::MakeEventDatabase(pristine, 600);
  {
    auto s = Session::Open(pristine.string(), {.password = "", .read_write = true});
    s->Execute("DELETE FROM Log WHERE ID < 400");
  }
  const std::string original = testing::ReadAll(pristine);
  const auto rows = testing::Lines(testing::RowsOf(*Database::Open(pristine.string()), "Log"));
  const fs::path work = dir.path() / "work";
  fs::create_directories(work);
  const std::string path = (work / "Journal.mdb").string();
  bool finished = false;
  int compacted = 0;
  for (std::uint64_t n = 1; !finished && n < 10000; ++n) {
    SCOPED_TRACE("ended at step " + std::to_string(n));
    testing::WriteAll(path, original);
    const int status = testing::InChild([&](std::string&) {
      try {
        testing::FaultEnv env;
        env.Arm(testing::FaultEnv::Op::Step, n, testing::FaultEnv::Kind::Exit);
        CompactDatabase(path, {.password = "", .env = &env});
      } catch (...) {
        return 1;
      }
      return 0;
    });
    ASSERT_TRUE(status == 0 || status == testing::FaultEnv::kExitStatus) << status;
    finished = status == 0;
    const std::string now = testing::ReadAll(path);
    if (now != original) {
      ++compacted;
      EXPECT_LT(now.size(), original.size());
    }
    // The next opening for changes removes what the compaction left; the file is whole.
    auto db = Database::Open(path, {.password = "", .read_write = true});
    EXPECT_EQ(testing::FolderContents(work), std::vector<std::string>{"Journal.mdb"});
    EXPECT_EQ(testing::Lines(testing::RowsOf(*db, "Log")), rows);
    testing::ExpectConsistent(*db);
  }
  EXPECT_TRUE(finished);
  EXPECT_GE(compacted, 1);
}
#endif

}  // namespace
}  // namespace jet
