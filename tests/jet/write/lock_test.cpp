// One writer at a time, against this process, others and Access's lock file; nothing is
// left beside the file, and what others plant there is never followed or overwritten.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <iostream>

#include "../fault_env.h"
#include "jet/session.h"
#include "write_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using testing::ExpectJetError;
using testing::TempDir;

const OpenOptions kWrite{.password = "", .read_write = true};
const OpenOptions kRead{.password = "", .read_write = false};

void ExpectLocked(const std::string& path, const OpenOptions& options) {
  ExpectJetError(ErrorCode::Locked, "Database '" + path + "' is in use by another program",
                 [&] { Database::Open(path, options); });
}

// What a child process gets when it opens the file (and deletes rows when it may): 0
// done, 1 locked, 2 other error, -1 a hang; its error description in *message.
int OpenInChild(const std::string& path, const OpenOptions& options, std::string* message = nullptr) {
  return testing::InChild(
      [&](std::string& said) {
        try {
          auto s = Session::Open(path, options);
          if (options.read_write) s->Execute("DELETE FROM Log WHERE ID <= 5");
          return 0;
        } catch (const Error& e) {
          said = e.what();
          return e.code() == ErrorCode::Locked ? 1 : 2;
        }
      },
      message);
}

// Holds a byte-range lock in `file` from a child process, as a file server does for a
// Windows client, until the returned function is called.
std::function<void()> LockInChild(const std::string& file) {
  int ready[2], done[2];
  if (pipe(ready) != 0 || pipe(done) != 0) return [] {};
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(file.c_str(), O_RDWR);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0x10000000;  // beyond the end, where Jet takes its locks
    fl.l_len = 1;
    char c = fd >= 0 && fcntl(fd, F_SETLK, &fl) == 0 ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    (void)!read(done[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  EXPECT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  return [=] {
    (void)!::write(done[1], "x", 1);
    waitpid(pid, nullptr, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
  };
}

TEST(WriteLock, OneWriterOrManyReaders) {
  TempDir dir;
  const std::string path = testing::MakeEventDatabase(dir.path() / "events.mdb", 200);
  {
    auto writer = Session::Open(path, kWrite);
    ExpectLocked(path, kWrite);
    ExpectLocked(path, kRead);
    EXPECT_EQ(OpenInChild(path, kWrite), 1);
    EXPECT_EQ(OpenInChild(path, kRead), 1);
    // The refused openings did not disturb the writer.
    EXPECT_EQ(writer->Execute("DELETE FROM Log WHERE ID <= 50").affected, 50);
  }
  {
    auto reader1 = Database::Open(path, kRead);
    auto reader2 = Database::Open(path, kRead);
    EXPECT_EQ(OpenInChild(path, kRead), 0);
    ExpectLocked(path, kWrite);
    EXPECT_EQ(OpenInChild(path, kWrite), 1);
    EXPECT_EQ(reader2->GetTable("Log")->RecordedRowCount(), 150u);
    ExpectJetError(ErrorCode::ReadOnly, path, [&] { Session::Open(path, kRead)->Execute("DELETE FROM Log"); });
  }
  EXPECT_EQ(OpenInChild(path, kWrite), 0);
  EXPECT_EQ(testing::FolderContents(dir.path()), std::vector<std::string>{"events.mdb"});
}

TEST(WriteLock, AccessLockFileWithLocksRefusesStaleOneIsIgnored) {
  TempDir dir;
  const std::string path = (dir.path() / "site.mdb").string(), ldb = (dir.path() / "site.ldb").string();
  testing::MakeEventDatabase(path, 20);
  const std::string original = testing::ReadAll(path);

  // A stale lock file (nobody holds a lock on it) is ignored and left alone.
  testing::WriteAll(ldb, std::string(64, 'x'));
  Database::Open(path, kWrite).reset();
  EXPECT_EQ(testing::ReadAll(ldb), std::string(64, 'x'));
  EXPECT_EQ(testing::FolderContents(dir.path()), (std::vector<std::string>{"site.ldb", "site.mdb"}));

  // A program holding a byte-range lock in it means the database is in use, whatever
  // the letter case a client gave the lock file's name.
  for (std::string name : {"site.ldb", "SITE.LDB", "Site.Ldb"}) {
    SCOPED_TRACE(name);
    const std::string lock_file = (dir.path() / name).string();
    fs::rename(ldb, lock_file);
    auto release = LockInChild(lock_file);
    ExpectLocked(path, kWrite);
    EXPECT_EQ(OpenInChild(path, kWrite), 1);
    release();
    fs::rename(lock_file, ldb);
  }

  // A lock file that cannot be examined may be in use all the same: the statement is
  // refused. (Permissions do not stop a process running as root.) A FIFO there neither
  // holds the program nor counts as "not in use".
  std::string message;
  if (geteuid() != 0) {
    fs::permissions(ldb, fs::perms::none);
    EXPECT_EQ(OpenInChild(path, kWrite, &message), 1);
    EXPECT_NE(message.find(ldb), std::string::npos) << message;
  } else {
    std::cout << "[ SKIPPED  ] an unreadable lock file: running as root\n";
  }
  fs::remove(ldb);
  ASSERT_EQ(mkfifo(ldb.c_str(), 0600), 0);
  EXPECT_EQ(OpenInChild(path, kWrite, &message), 1);
  EXPECT_NE(message.find("'" + ldb + "' cannot be examined (a FIFO"), std::string::npos) << message;
  fs::remove(ldb);
  EXPECT_EQ(testing::ReadAll(path), original);
}

// Whatever stands at the journal's path is never followed, opened or waited on: the
// statement fails naming it, and the file and the link's target stay as they were.
TEST(WriteLock, ObjectsAtTheJournalsPathAreRefused) {
  TempDir dir;
  const std::string path = (dir.path() / "events.mdb").string(), journal = path + "-journal";
  const std::string target = (dir.path() / "precious.txt").string();
  testing::MakeEventDatabase(path, 50);
  testing::WriteAll(target, "precious");
  const std::string original = testing::ReadAll(path);
  const struct {
    const char* what;
    std::function<void()> plant;
  } planted[] = {{"a symbolic link", [&] { fs::create_symlink(target, journal); }},
                 {"a symbolic link", [&] { fs::create_symlink(dir.path() / "nowhere", journal); }},
                 {"a FIFO", [&] { ASSERT_EQ(mkfifo(journal.c_str(), 0600), 0); }},
                 {"a folder", [&] { fs::create_directory(journal); }}};
  for (const auto& p : planted) {
    SCOPED_TRACE(p.what);
    p.plant();
    for (const OpenOptions& options : {kWrite, kRead}) {
      std::string message;
      EXPECT_EQ(OpenInChild(path, options, &message), 2);
      EXPECT_NE(message.find(std::string(p.what) + " stands at its journal's path '" + journal + "'"),
                std::string::npos)
          << message;
    }
    fs::remove(journal);
  }
  // Planted after the database was opened, it is refused when the journal is created.
  auto s = Session::Open(path, kWrite);
  fs::create_symlink(target, journal);
  ExpectJetError(ErrorCode::Io, "'" + journal + "': a symbolic link is already there",
                 [&] { s->Execute("DELETE FROM Log"); });
  s.reset();
  EXPECT_EQ(testing::ReadAll(path), original);
  EXPECT_EQ(testing::ReadAll(target), "precious");
}

// The journal holds rows in clear: it takes the database's permissions and owner. A file
// with several names is not changed: an interrupted change could not be undone through each.
TEST(WriteLock, JournalTakesTheDatabasesPermissionsHardLinksAreRefused) {
  TempDir dir;
  const std::string path = testing::MakeEventDatabase(dir.path() / "events.mdb", 300);
  const bool root = geteuid() == 0;
  for (mode_t mode : {0600, 0640, 0664}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    if (root) {
      ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(testing::InChild([&](std::string&) {
                testing::FaultEnv env;
                auto s = Session::Open(path, {.password = "", .read_write = true, .env = &env});
                env.Arm(testing::FaultEnv::Op::Write, 1, testing::FaultEnv::Kind::Exit);
                s->Execute("DELETE FROM Log WHERE ID <= 5");
                return 0;
              }),
              testing::FaultEnv::kExitStatus);
    struct stat db {}, j {};
    ASSERT_EQ(stat(path.c_str(), &db), 0);
    ASSERT_EQ(stat((path + "-journal").c_str(), &j), 0);
    EXPECT_EQ(j.st_mode & 07777, db.st_mode & 07777);
    EXPECT_EQ(j.st_uid, db.st_uid);
    EXPECT_EQ(j.st_gid, db.st_gid);
    Database::Open(path, kWrite).reset();
    EXPECT_FALSE(fs::exists(path + "-journal"));
  }
  if (!root) std::cout << "[ SKIPPED  ] the journal's owner: not running as root\n";

  const std::string original = testing::ReadAll(path);
  fs::create_hard_link(path, dir.path() / "second-name.mdb");
  ExpectJetError(ErrorCode::Unsupported, "has 2 names in the file system", [&] { Database::Open(path, kWrite); });
  EXPECT_EQ(Database::Open(path, kRead)->GetTable("Log")->RecordedRowCount(), 300u);
  EXPECT_EQ(testing::ReadAll(path), original);
}

}  // namespace
}  // namespace jet
