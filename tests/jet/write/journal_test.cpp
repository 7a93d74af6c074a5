// All or nothing when the process ends at any durable step; unfinished journals are
// discarded, damaged journals and those of a file changed since refused until an
// administrator restores the journal. (Torn pages are the power-loss runs' matter.)

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "../fault_env.h"
#include "jet/crypto/sha256.h"
#include "jet/format/bytes.h"
#include "jet/session.h"
#include "write_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using testing::ExpectJetError;
using testing::Lines;
using testing::RowsOf;
using testing::TempDir;
using Op = testing::FaultEnv::Op;

constexpr const char* kDelete = "DELETE FROM Log WHERE [Date] < 45020 OR Badge LIKE 'B1*'";
constexpr std::size_t kSmallMemory = 64 * 1024;  // pages reach the file long before commit
const OpenOptions kWrite{.password = "", .read_write = true};

// A journal of 3000 events, its rows before and after the delete, and how many steps
// changing the disk the delete takes.
struct Scenario {
  TempDir dir;
  std::string pristine = (dir.path() / "pristine.mdb").string(), path = (dir.path() / "events.mdb").string();
  std::string journal = path + "-journal";
  std::multiset<std::string> before, after;
  std::uint64_t steps = 0;

  Scenario() {
    testing::MakeEventDatabase(pristine, 3000);
    before = Lines(RowsOf(*Database::Open(pristine), "Log"));
    Reset();
    testing::FaultEnv env;
    auto s = Session::Open(path, {.password = "", .read_write = true, .change_memory = kSmallMemory, .env = &env});
    env.Disarm();
    s->Execute(kDelete);
    steps = env.Count(Op::Step);
    after = Lines(RowsOf(s->database(), "Log"));
    EXPECT_LT(after.size(), before.size());
    EXPECT_GT(after.size(), 0u);
    EXPECT_GT(steps, 20u);
  }
  void Reset() { fs::copy_file(pristine, path, fs::copy_options::overwrite_existing); }

  // Runs the delete on a fresh copy (through `through`, the file's path by default) in a
  // child process that ends at the `n`-th step changing the disk; the child's exit status.
  int RunChild(std::uint64_t n, const std::string& through = {}) {
    Reset();
    return testing::InChild([&](std::string&) {
      try {
        testing::FaultEnv env;
        auto s = Session::Open(through.empty() ? path : through,
                               {.password = "", .read_write = true, .change_memory = kSmallMemory, .env = &env});
        if (n != 0) env.Arm(Op::Step, n, testing::FaultEnv::Kind::Exit);
        s->Execute(kDelete);
      } catch (...) {
        return 1;
      }
      return 0;
    });
  }
};

TEST(WriteJournal, ProcessEndingAtEachDurableStep) {
  Scenario s;
  for (std::uint64_t n = 1; n <= s.steps + 1; n += (n < 12 || n + 12 > s.steps ? 1 : 7)) {
    SCOPED_TRACE("ended at step " + std::to_string(n) + " of " + std::to_string(s.steps));
    EXPECT_EQ(s.RunChild(n), n <= s.steps ? testing::FaultEnv::kExitStatus : 0);
    auto db = Database::Open(s.path, kWrite);
    EXPECT_FALSE(fs::exists(s.journal));
    auto rows = Lines(RowsOf(*db, "Log"));
    EXPECT_TRUE(rows == s.before || rows == s.after) << rows.size() << " rows";
    testing::ExpectConsistent(*db);
  }
  if (testing::HaveMdbtools()) {
    EXPECT_EQ(testing::MdbExportFirstColumn(s.path, "Log").size(), s.after.size());
  }
}

// A journal's records go around the system's cache where the file system takes such
// writes, and through it where it refuses them (a memory file system before Linux 6.6
// does): either way the file holds what was written, and reads and unaligned writes
// between them see it.
TEST(WriteJournal, WritesAroundTheCacheKeepWhatWasWritten) {
  TempDir disk;
  std::vector<fs::path> folders{disk.path()};
  if (fs::is_directory("/dev/shm")) folders.push_back("/dev/shm");
  constexpr std::size_t kBlock = os::File::kBlockAlignment;
  struct BlockFree {
    void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t{kBlock}); }
  };
  std::unique_ptr<std::uint8_t[], BlockFree> blocks(new (std::align_val_t{kBlock}) std::uint8_t[4 * kBlock]);
  for (std::size_t i = 0; i < 4 * kBlock; ++i) blocks[i] = static_cast<std::uint8_t>(i * 7 + i / kBlock + 1);
  for (const fs::path& folder : folders) {
    SCOPED_TRACE(folder.string());
    const std::string path = (folder / ("around-" + std::to_string(::getpid()))).string();
    struct Removed {
      std::string path;
      ~Removed() { std::remove(path.c_str()); }
    } removed{path};
    os::Env& env = os::Env::Default();
    auto file = env.CreateExclusive(path, {.mode = 0600, .owner = ::getuid(), .group = ::getgid()});
    file->WriteAroundCache();
    std::string model;
    auto put = [&](std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
      file->WriteAt(offset, bytes, n);
      if (model.size() < offset + n) model.resize(offset + n, '\0');
      std::memcpy(model.data() + offset, bytes, n);
      std::string back(model.size() + 10, '\0');
      EXPECT_EQ(file->ReadAt(0, back.data(), back.size()), model.size());
      back.resize(model.size());
      EXPECT_EQ(back, model);
      EXPECT_EQ(file->Size(), model.size());
    };
    put(2 * kBlock, blocks.get(), 3 * kBlock);          // whole blocks
    put(2 * kBlock + 100, blocks.get() + 1, 50);        // within them, from unaligned memory
    put(0, blocks.get() + kBlock, kBlock);              // whole blocks before
    put(5 * kBlock, blocks.get() + 2 * kBlock, kBlock);  // whole blocks after the end
    put(6 * kBlock + 10, blocks.get(), kBlock);         // unaligned after the end
    put(3 * kBlock, blocks.get(), 2 * kBlock);          // whole blocks over unaligned ones
    file->Sync();
    file.reset();
    auto reopened = env.Open(path, os::OpenMode::ReadOnly);
    std::string back(model.size(), '\0');
    EXPECT_EQ(reopened->ReadAt(0, back.data(), back.size()), model.size());
    EXPECT_EQ(back, model);
  }
}

TEST(WriteJournal, UnfinishedJournalsAreDiscardedDamagedOnesRefused) {
  Scenario s;
  const std::string original = testing::ReadAll(s.pristine);
  // Ended while the journal was being created: no record can have been relied on.
  for (const std::string& junk : {std::string(), std::string(100, 'x'), std::string(8192, '\0')}) {
    SCOPED_TRACE("junk journal of " + std::to_string(junk.size()) + " bytes");
    s.Reset();
    testing::WriteAll(s.journal, junk);
    EXPECT_EQ(Lines(RowsOf(*Database::Open(s.path, kWrite), "Log")), s.before);
    EXPECT_FALSE(fs::exists(s.journal));
    EXPECT_EQ(testing::ReadAll(s.path), original);
  }

  // Ended right after the journal was sealed (its first header copy vouching for records
  // written), before any page of the database was written: playing it back changes nothing.
  std::string sealed;
  for (std::uint64_t n = 1; n < 60 && sealed.empty(); ++n) {
    s.RunChild(n);
    std::string j = fs::exists(s.journal) ? testing::ReadAll(s.journal) : std::string();
    if (j.size() > 8192 && j[32] == 2) sealed = j;
  }
  ASSERT_FALSE(sealed.empty());
  EXPECT_EQ(testing::ReadAll(s.path), original);
  Database::Open(s.path, kWrite).reset();
  EXPECT_FALSE(fs::exists(s.journal));
  EXPECT_EQ(testing::ReadAll(s.path), original);

  // The same journal with a damaged page record is refused and kept.
  sealed[8192 + 100] = static_cast<char>(sealed[8192 + 100] ^ 0x55);
  testing::WriteAll(s.journal, sealed);
  ExpectJetError(ErrorCode::Corrupt, s.journal, [&] { Database::Open(s.path, kWrite); });
  EXPECT_EQ(testing::ReadAll(s.journal), sealed);
  EXPECT_EQ(testing::ReadAll(s.path), original);
}

// A damaged byte in either header copy or both: the journal can no longer be trusted to say
// what it vouches for, so nothing is played back or removed, and every opening fails.
TEST(WriteJournal, DamagedHeaderCopiesAreRefused) {
  Scenario s;
  const std::pair<const char*, std::vector<std::size_t>> damages[] = {
      {"first copy's sizes", {20}}, {"first copy's magic", {2}}, {"second copy", {4096 + 40}}, {"both", {20, 4096 + 40}}};
  for (const auto& [what, offsets] : damages) {
    SCOPED_TRACE(what);
    ASSERT_EQ(s.RunChild(s.steps - 5), testing::FaultEnv::kExitStatus);
    std::string journal = testing::ReadAll(s.journal);
    for (std::size_t at : offsets) journal[at] = static_cast<char>(journal[at] ^ 0x10);
    testing::WriteAll(s.journal, journal);
    const std::string database = testing::ReadAll(s.path);
    for (bool read_write : {true, false}) {
      for (const std::string& named : {s.path, s.journal})
        ExpectJetError(ErrorCode::Corrupt, "'" + named + "'",
                       [&] { Database::Open(s.path, {.password = "", .read_write = read_write}); });
    }
    EXPECT_EQ(testing::ReadAll(s.path), database);
    EXPECT_EQ(testing::ReadAll(s.journal), journal);
    fs::remove(s.journal);
  }
}

// Another program changed a page after the interrupted run: the opening refuses; the
// administrator's forced playback keeps a copy of both files and restores the file.
TEST(WriteJournal, RestoringTheJournalKeepsCopiesAndUndoesTheChange) {
  Scenario s;
  ASSERT_EQ(s.RunChild(s.steps - 5), testing::FaultEnv::kExitStatus);
  const std::string pristine = testing::ReadAll(s.pristine), journal = testing::ReadAll(s.journal);
  std::string changed = testing::ReadAll(s.path);
  std::size_t at = 4096;
  while (changed.compare(at, 512, pristine, at, 512) == 0) at += 512;
  changed[at + 7] = static_cast<char>(changed[at + 7] ^ 0x40);
  testing::WriteAll(s.path, changed);
  ExpectJetError(ErrorCode::Corrupt, "--restore-journal", [&] { Database::Open(s.path, kWrite); });

  const std::string jetsql = std::string(JETSQL_BINARY) + " '" + s.path + "' --restore-journal 2>&1";
  int status = -1;
  const std::string said = testing::Shell(jetsql, &status);
  EXPECT_EQ(status, 0) << said;
  EXPECT_NE(said.find(s.path + ".before-restore"), std::string::npos) << said;
  EXPECT_EQ(testing::ReadAll(s.path), pristine);
  EXPECT_FALSE(fs::exists(s.journal));
  EXPECT_EQ(testing::ReadAll(s.path + ".before-restore"), changed);
  EXPECT_EQ(testing::ReadAll(s.journal + ".before-restore"), journal);
  // Without a journal there is nothing to restore; the copies are never overwritten.
  EXPECT_NE(testing::Shell(jetsql, &status).find("no journal"), std::string::npos);
  EXPECT_EQ(status, 1);
}

// The previous layout's 8-byte checksum: SHA-256 of the nonce (little endian) and the bytes.
std::string PreviousSum(std::uint64_t nonce, const std::string& bytes) {
  crypto::Sha256 hash;
  std::uint8_t n[8], out[8];
  Put64(n, nonce);
  hash.Update(n, 8);
  hash.Update(bytes.data(), bytes.size());
  hash.Final(out, 8);
  return std::string(reinterpret_cast<const char*>(out), 8);
}

// A journal left by the previous release (header copies at 0 and 64, records from 512,
// SHA-256 checksums, one per version written) is still played back after an upgrade.
TEST(WriteJournal, JournalOfThePreviousLayoutIsPlayedBack) {
  Scenario s;
  ASSERT_EQ(s.RunChild(s.steps - 5), testing::FaultEnv::kExitStatus);
  const std::string now = testing::ReadAll(s.path), journal = testing::ReadAll(s.journal);
  auto u64 = [&](std::size_t at) { return ByteView(journal).U64(at); };
  const std::size_t h = u64(32) > u64(4096 + 32) ? 0 : 4096;
  const std::uint32_t page_size = ByteView(journal).U32(h + 12);
  const std::uint64_t nonce = u64(h + 24);
  // The same originals; as the version written, what each page holds now.
  std::string records;
  for (std::size_t at = 8192; at < 8192 + u64(h + 40);) {
    const std::uint32_t tag = ByteView(journal).U32(at);
    if (tag >> 24 == 1) {
      at += 4 + page_size / 512 * 8 + 8;
      continue;
    }
    const std::string original = journal.substr(at, 4 + page_size);
    records += original + PreviousSum(nonce, original);
    std::string written = original.substr(0, 4);
    written[3] = 1;
    written += PreviousSum(nonce, now.substr(std::size_t{tag} * page_size, page_size));
    records += written + PreviousSum(nonce, written);
    at += 4 + page_size + 8;
  }
  std::string previous(512, '\0');
  previous.replace(0, 56, journal, h, 56);
  auto* header = reinterpret_cast<std::uint8_t*>(previous.data());
  Put32(header + 8, 2);
  Put64(header + 32, 1);
  Put64(header + 40, records.size());
  previous.replace(56, 8, PreviousSum(0, previous.substr(0, 56)));
  testing::WriteAll(s.journal, previous + records);

  EXPECT_EQ(Lines(RowsOf(*Database::Open(s.path, kWrite), "Log")), s.before);
  EXPECT_FALSE(fs::exists(s.journal));
  EXPECT_EQ(testing::ReadAll(s.path), testing::ReadAll(s.pristine));
}

// Through a symbolic link the journal goes beside the real file, where any program finds
// it; opening only to read plays it back first.
TEST(WriteJournal, JournalBesideTheRealFileIsPlayedBackByAReaderToo) {
  Scenario s;
  TempDir elsewhere;
  const std::string link = (elsewhere.path() / "linked.mdb").string();
  fs::create_symlink(s.path, link);
  // Past the first pages written, before the commit.
  ASSERT_EQ(s.RunChild(s.steps - 5, link), testing::FaultEnv::kExitStatus);
  EXPECT_FALSE(fs::exists(link + "-journal"));
  ASSERT_TRUE(fs::exists(s.journal));
  ASSERT_NE(testing::ReadAll(s.path), testing::ReadAll(s.pristine));
  EXPECT_EQ(Lines(RowsOf(*Database::Open(s.path), "Log")), s.before);
  EXPECT_FALSE(fs::exists(s.journal));
  EXPECT_EQ(testing::ReadAll(s.path), testing::ReadAll(s.pristine));
}

// The file changed after an interrupted run (a writer moved the journal aside, or a backup
// was restored): the next opening refuses, names both files and changes neither.
TEST(WriteJournal, JournalOfAFileChangedSinceIsRefused) {
  Scenario s;
  const std::string aside = s.path + "-aside", backup = (s.dir.path() / "backup.mdb").string();
  fs::copy_file(s.pristine, backup);
  Session::Open(backup, kWrite)->Execute("DELETE FROM Log WHERE ID > 2990");
  auto foreign_writer = [&] {
    fs::rename(s.journal, aside);
    Session::Open(s.path, kWrite)->Execute("DELETE FROM Log WHERE ID > 2990");
    fs::rename(aside, s.journal);
  };
  auto backup_restored = [&] { fs::copy_file(backup, s.path, fs::copy_options::overwrite_existing); };
  for (const auto& change : {std::function<void()>(foreign_writer), std::function<void()>(backup_restored)}) {
    ASSERT_EQ(s.RunChild(s.steps - 5), testing::FaultEnv::kExitStatus);
    change();
    const std::string file_bytes = testing::ReadAll(s.path), journal_bytes = testing::ReadAll(s.journal);
    for (bool read_write : {true, false}) {
      for (const std::string& fragment : {"'" + s.path + "'", "'" + s.journal + "'", std::string("--restore-journal")})
        ExpectJetError(ErrorCode::Corrupt, fragment,
                       [&] { Database::Open(s.path, {.password = "", .read_write = read_write}); });
    }
    EXPECT_EQ(testing::ReadAll(s.path), file_bytes);
    EXPECT_EQ(testing::ReadAll(s.journal), journal_bytes);
    fs::remove(s.journal);
  }
}

}  // namespace
}  // namespace jet
