// SQLite stores with what POSIX systems offer: several processes on one store, files and folders
// that cannot be written, a full disk (a file size limit of 0).
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "sqlite_store_support.h"

namespace {

using zel::dir::testing::Opened;
using zel::dir::testing::Raw;
using zel::dir::testing::SqliteStoreTest;

TEST_F(SqliteStoreTest, ProcessesShareTheStore) {
  const int kChildren = 3, kEach = 20;
  for (int c = 0; c < kChildren; ++c) {
    if (fork() == 0) {
      Opened own(path_);
      int failures = own.Directory().CreateDataContext(u"Child", u"C") != 0;
      for (int i = 0; i < kEach; ++i) {
        const std::string dn = "p" + std::to_string(c) + "-" + std::to_string(i);
        failures += ZEL_DIR_BaseEntry(&own.Directory(), ZELString::FromUtf8(dn), 1).Add() != 0;
      }
      _exit(failures);
    }
  }
  for (int c = 0; c < kChildren; ++c) {
    int status = 0;
    wait(&status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Raw(path_, "SELECT count(*) FROM entries"), std::to_string(kChildren * kEach));
  uint32_t child = 0;
  EXPECT_EQ(first_.Directory().BindLDAP(u"&Child", child), 0);
}

// A store that cannot be written is read, each row in a child process. Tests may run as root,
// where a file's mode does not stop writes: that row checks the refused writes only when the
// mode binds (run the suite as another user to see it).
TEST_F(SqliteStoreTest, StoresThatCannotBeWrittenAreRead) {
  const std::string folder = store_.Folder() + "/ro", path = folder + "/directory.db";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  WriteAndClose(path);
  const struct {
    const char* what;
    mode_t fileMode, folderMode;
    bool fullDisk;
  } cases[] = {
      {"a read-only file in a read-only folder", 0444, 0555, false},
      {"on a full disk", 0644, 0755, true},
  };
  for (const auto& c : cases) {
    chmod(path.c_str(), c.fileMode);
    chmod(folder.c_str(), c.folderMode);
    const pid_t child = fork();
    if (child == 0) {
      const rlimit nothing{0, 0};
      if (c.fullDisk &&
          (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &nothing) != 0)) {
        _exit(16);
      }
      _exit(zel::dir::testing::ReadOnlyFailures(path, c.fullDisk || geteuid() != 0));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << c.what;
    EXPECT_EQ(WEXITSTATUS(status), 0) << c.what << " (bits: bind, read, search, write refused)";
    chmod(folder.c_str(), 0755);
    chmod(path.c_str(), 0644);
  }
  EXPECT_EQ(Raw(path, "SELECT count(*) FROM entries"), "1");
}

}  // namespace
