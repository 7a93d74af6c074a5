// One writer at a time: a database open for writing is locked against every other
// opening (this process or another) and against Access having it open, whatever the
// letter case of Access's lock file; nothing is left beside the file afterwards, and
// what others plant beside it is never followed, waited on or overwritten.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../fault_env.h"
#include <cstring>
#include <functional>
#include <iostream>

#include "jet/session.h"
#include "write_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const OpenOptions kWrite{.password = "", .read_write = true};
const OpenOptions kRead{.password = "", .read_write = false};

void ExpectLocked(const std::string& path, const OpenOptions& options) {
  try {
    Database::Open(path, options);
    ADD_FAILURE() << "opened " << path << (options.read_write ? " for writing" : " for reading");
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::Locked);
    EXPECT_EQ(std::string(e.what()), "Database '" + path + "' is in use by another program");
  }
}

std::vector<std::string> FolderContents(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// What a child process gets when it opens the file (and deletes rows when it may): 0
// done, 1 locked, 2 other error; -1 when it did not finish within ten seconds. With
// `message`, the child's error description ends up there.
int OpenInChild(const std::string& path, const OpenOptions& options, std::string* message = nullptr) {
  int out[2];
  if (pipe(out) != 0) return -2;
  pid_t pid = fork();
  if (pid == 0) {
    alarm(10);
    int code = 0;
    try {
      auto s = Session::Open(path, options);
      if (options.read_write) s->Execute("DELETE FROM Log WHERE ID <= 5");
    } catch (const Error& e) {
      code = e.code() == ErrorCode::Locked ? 1 : 2;
      (void)!::write(out[1], e.what(), std::strlen(e.what()));
    }
    _exit(code);
  }
  close(out[1]);
  char buf[4096];
  std::string text;
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  close(out[0]);
  if (message != nullptr) *message = text;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    int ok = fd >= 0 && fcntl(fd, F_SETLK, &fl) == 0;
    char c = ok ? 'y' : 'n';
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
  std::string path = (dir.path() / "events.mdb").string();
  testing::MakeEventDatabase(path, 200);
  {
    auto writer = Session::Open(path, kWrite);
    ExpectLocked(path, kWrite);
    ExpectLocked(path, kRead);
    EXPECT_EQ(OpenInChild(path, kWrite), 1);
    EXPECT_EQ(OpenInChild(path, kRead), 1);
    // The refused openings did not disturb the writer.
    EXPECT_EQ(writer->Execute("DELETE FROM Log WHERE ID <= 50").affected, 50);
    EXPECT_EQ(writer->Execute("SELECT COUNT(*) FROM Log").rows[0][0].i, 150);
  }
  {
    auto reader1 = Database::Open(path, kRead);
    auto reader2 = Database::Open(path, kRead);
    EXPECT_EQ(OpenInChild(path, kRead), 0);
    ExpectLocked(path, kWrite);
    EXPECT_EQ(OpenInChild(path, kWrite), 1);
    EXPECT_EQ(reader2->GetTable("Log")->RecordedRowCount(), 150u);
  }
  EXPECT_EQ(OpenInChild(path, kWrite), 0);
  EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"events.mdb"});
}

TEST(WriteLock, AccessLockFileWithLocksRefusesStaleOneIsIgnored) {
  TempDir dir;
  std::string path = (dir.path() / "site.mdb").string();
  std::string ldb = (dir.path() / "site.ldb").string();
  testing::MakeEventDatabase(path, 20);

  // A stale lock file (nobody holds a lock on it) is ignored and left alone.
  testing::WriteAll(ldb, std::string(64, 'x'));
  Database::Open(path, kWrite).reset();
  EXPECT_EQ(testing::ReadAll(ldb), std::string(64, 'x'));

  // A program holding a byte-range lock in it means the database is in use, whatever
  // the letter case a client gave the lock file's name.
  const std::string original = testing::ReadAll(path);
  for (std::string name : {"site.ldb", "SITE.LDB", "Site.Ldb"}) {
    SCOPED_TRACE(name);
    std::string lock_file = (dir.path() / name).string();
    if (name != "site.ldb") fs::rename(ldb, lock_file);
    auto release = LockInChild(lock_file);
    ExpectLocked(path, kWrite);
    EXPECT_EQ(OpenInChild(path, kWrite), 1);
    release();
    if (name != "site.ldb") fs::rename(lock_file, ldb);
  }
  EXPECT_EQ(testing::ReadAll(path), original);

  // A lock file that cannot be examined may be in use all the same: the statement is
  // refused. (Permissions do not stop a process running as root.)
  if (geteuid() != 0) {
    fs::permissions(ldb, fs::perms::none);
    std::string message;
    EXPECT_EQ(OpenInChild(path, kWrite, &message), 1);
    EXPECT_NE(message.find(ldb), std::string::npos) << message;
    fs::permissions(ldb, fs::perms::owner_read | fs::perms::owner_write);
  } else {
    std::cout << "[ SKIPPED  ] an unreadable lock file: running as root\n";
  }
  // A FIFO there neither holds the program nor counts as "not in use".
  fs::remove(ldb);
  ASSERT_EQ(mkfifo(ldb.c_str(), 0600), 0);
  std::string message;
  EXPECT_EQ(OpenInChild(path, kWrite, &message), 1);
  EXPECT_NE(message.find("'" + ldb + "' cannot be examined (a FIFO"), std::string::npos) << message;
  fs::remove(ldb);
  EXPECT_EQ(testing::ReadAll(path), original);
  testing::WriteAll(ldb, std::string(64, 'x'));
  Database::Open(path, kWrite).reset();
  EXPECT_EQ(FolderContents(dir.path()), (std::vector<std::string>{"site.ldb", "site.mdb"}));
}

// Whatever stands at the journal's path is never followed, opened or waited on: the
// statement fails naming it, and the file and the link's target stay as they were.
TEST(WriteLock, ObjectsAtTheJournalsPathAreRefused) {
  TempDir dir;
  std::string path = (dir.path() / "events.mdb").string();
  std::string journal = path + "-journal";
  std::string target = (dir.path() / "precious.txt").string();
  testing::MakeEventDatabase(path, 50);
  testing::WriteAll(target, "precious");
  const std::string original = testing::ReadAll(path);
  struct Planted {
    const char* what;
    std::function<void()> plant;
  };
  for (const Planted& p : {Planted{"a symbolic link", [&] { fs::create_symlink(target, journal); }},
                           Planted{"a symbolic link", [&] { fs::create_symlink(dir.path() / "nowhere", journal); }},
                           Planted{"a FIFO", [&] { ASSERT_EQ(mkfifo(journal.c_str(), 0600), 0); }},
                           Planted{"a folder", [&] { fs::create_directory(journal); }}}) {
    SCOPED_TRACE(p.what);
    p.plant();
    for (const OpenOptions& options : {kWrite, kRead}) {
      std::string message;
      EXPECT_EQ(OpenInChild(path, options, &message), 2);  // -1 would be a hang
      EXPECT_NE(message.find(std::string(p.what) + " stands at its journal's path '" + journal + "'"),
                std::string::npos)
          << message;
    }
    fs::remove(journal);
    EXPECT_EQ(testing::ReadAll(path), original);
    EXPECT_EQ(testing::ReadAll(target), "precious");
  }
  // Planted after the database was opened, it is refused when the journal is created.
  auto s = Session::Open(path, kWrite);
  fs::create_symlink(target, journal);
  try {
    s->Execute("DELETE FROM Log");
    ADD_FAILURE() << "a journal was written through a link";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("'" + journal + "': a symbolic link is already there"), std::string::npos)
        << e.what();
  }
  s.reset();
  fs::remove(journal);
  EXPECT_EQ(testing::ReadAll(path), original);
  EXPECT_EQ(testing::ReadAll(target), "precious");
}

// The journal holds the database's rows in clear: it is no more readable than the
// database, and belongs to the database's owner when the program runs as root. A file
// with several names is not changed, as an interrupted change could not be undone
// through each of them.
TEST(WriteLock, JournalTakesTheDatabasesPermissionsHardLinksAreRefused) {
  TempDir dir;
  std::string path = (dir.path() / "events.mdb").string();
  testing::MakeEventDatabase(path, 300);
  const bool root = geteuid() == 0;
  for (mode_t mode : {0600, 0640, 0664}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    if (root) {
      ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    }
    pid_t pid = fork();
    if (pid == 0) {
      testing::FaultEnv env;
      auto s = Session::Open(path, {.password = "", .read_write = true, .env = &env});
      env.Arm(testing::FaultEnv::Op::Write, 1, testing::FaultEnv::Kind::Exit);
      s->Execute("DELETE FROM Log WHERE ID <= 5");
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), testing::FaultEnv::kExitStatus);
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
  try {
    Database::Open(path, kWrite);
    ADD_FAILURE() << "opened a file with two names for writing";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("has 2 names in the file system"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Database::Open(path, kRead)->GetTable("Log")->RecordedRowCount(), 300u);
  EXPECT_EQ(testing::ReadAll(path), original);
}

TEST(WriteLock, NothingLeftBehindAfterErrorsAndRollbacks) {
  TempDir dir;
  std::string path = (dir.path() / "events.mdb").string();
  testing::MakeEventDatabase(path, 300);
  {
    auto s = Session::Open(path, kWrite);
    EXPECT_THROW(s->Execute("DELETE FROM Nowhere"), Error);
    EXPECT_THROW(s->Execute("DELETE FROM Log WHERE"), Error);
    EXPECT_THROW(s->Execute("DELETE FROM Log", {.timeout_seconds = 1e-9}), Error);
    EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"events.mdb"});
    EXPECT_EQ(s->Execute("DELETE FROM Log WHERE ID > 100").affected, 200);
  }
  EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"events.mdb"});
  // Read-only sessions refuse changes without touching anything.
  auto reader = Session::Open(path, kRead);
  try {
    reader->Execute("DELETE FROM Log");
    ADD_FAILURE() << "a read-only session deleted rows";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::ReadOnly);
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
  }
  EXPECT_EQ(reader->Execute("SELECT COUNT(*) FROM Log").rows[0][0].i, 100);
  EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"events.mdb"});
}

}  // namespace
}  // namespace jet
