// One writer at a time: a database open for writing is locked against every other
// opening (this process or another) and against Access having it open; nothing is left
// beside the file afterwards.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

// What a child process gets when it opens the file: 0 opened, 1 locked, 2 other error.
int OpenInChild(const std::string& path, const OpenOptions& options) {
  pid_t pid = fork();
  if (pid == 0) {
    int code = 0;
    try {
      Database::Open(path, options);
    } catch (const Error& e) {
      code = e.code() == ErrorCode::Locked ? 1 : 2;
    }
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

  // A program holding a byte-range lock in it (as a file server does for a Windows
  // client) means the database is in use.
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(ldb.c_str(), O_RDWR);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0x10000000;  // beyond the end, where Jet takes its locks
    fl.l_len = 1;
    int ok = fd >= 0 && fcntl(fd, F_SETLK, &fl) == 0;
    char c = ok ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    (void)!read(done[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  ExpectLocked(path, kWrite);
  (void)!write(done[1], "x", 1);
  waitpid(pid, nullptr, 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
  Database::Open(path, kWrite).reset();
  EXPECT_EQ(FolderContents(dir.path()), (std::vector<std::string>{"site.ldb", "site.mdb"}));
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
