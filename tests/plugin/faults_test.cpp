// HSave meeting a full disk, a directory the server may not write or that is
// gone, or a file that changed behind the pool's back since HLoad: the native
// returns 0 when the file was not written, the old file stays whole and no
// temporary file is left.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "Child.h"
#include "NativesFixture.h"

namespace {

using Lines = std::vector<std::string>;
const char kOld[] = "old\n1\n";
const int kEntries = 2500;  // about 270 KB of file

size_t LineCount(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n' ? 1 : 0;
  return n;
}

class Faults : public NativesTest {
 protected:
  // Opens the pool on `file` and adds enough entries to outgrow small limits.
  void Fill(const std::string& file) {
    Open("p", file);
    const std::string value(100, 'v');
    for (int i = 0; i < kEntries; ++i) {
      script.ResetHeap();
      ASSERT_EQ(Call("HAdd", {S("p"), S("key" + std::to_string(i)), S(value)}), 1);
    }
  }
  cell Save() { return Call("HSave", {S("p")}); }

  // A full disk is a 64 KiB tmpfs at scriptfiles/tiny, for as long as it lives.
  struct TinyDisk {
    TinyDisk()
        : mounted(mkdir("scriptfiles/tiny", 0777) == 0 &&
                  mount("pairvault-test", "scriptfiles/tiny", "tmpfs", 0, "size=64k") == 0) {}
    ~TinyDisk() {
      if (mounted) umount2("scriptfiles/tiny", MNT_DETACH);
    }
    const bool mounted;
  };
};

TEST_F(Faults, SavePastTheFileSizeLimitKeepsTheOldFile) {
  Write("scriptfiles/f.txt", kOld);
  Fill("f.txt");
  // Writes past the limit fail with EFBIG, as on a full disk.
  const int code = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 98;
    return Save() == 0 ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Read("scriptfiles/f.txt"), kOld);
  EXPECT_EQ(List("scriptfiles"), Lines{"f.txt"});
  EXPECT_EQ(Save(), 1);
  EXPECT_EQ(LineCount(Read("scriptfiles/f.txt")), 2u * (kEntries + 1)) << "room again";
}

TEST_F(Faults, SaveOnAFullFilesystemKeepsTheOldFile) {
  const TinyDisk tiny;
  if (!tiny.mounted) GTEST_SKIP() << "no tmpfs can be mounted here";
  Write("scriptfiles/tiny/f.txt", kOld);
  Fill("tiny/f.txt");
  EXPECT_EQ(Save(), 0);
  EXPECT_EQ(Read("scriptfiles/tiny/f.txt"), kOld);
  EXPECT_EQ(List("scriptfiles/tiny"), Lines{"f.txt"});
  for (int i = 100; i < kEntries; ++i) {
    script.ResetHeap();
    Call("HDel", {S("p"), S("key" + std::to_string(i))});
  }
  EXPECT_EQ(Save(), 1);
  EXPECT_EQ(LineCount(Read("scriptfiles/tiny/f.txt")), 2u * 101) << "fits now";
}

// A journal that meets a full disk stops with one line while the changes
// still happen; a save that gets through empties it, and it journals again.
TEST_F(Faults, JournalOnAFullFilesystem) {
  const TinyDisk tiny;
  if (!tiny.mounted) GTEST_SKIP() << "no tmpfs can be mounted here";
  Write("scriptfiles/tiny/ballast", std::string(16 << 10, 'b'));
  ASSERT_EQ(Call("HLoad", {S("p"), S("tiny/f.txt"), 1}), 1);
  const std::string value(1000, 'v');
  for (int i = 0; i < 100; ++i) {
    script.ResetHeap();
    ASSERT_EQ(Call("HAdd", {S("p"), S("key" + std::to_string(i)), S(value)}), 1);
  }
  EXPECT_EQ(PluginHost::log().back(),
            "Journaling hash p to scriptfiles/tiny/f.txt.journal stopped: No space left on device");
  EXPECT_EQ(
      std::count(PluginHost::log().begin(), PluginHost::log().end(), PluginHost::log().back()), 1);
  for (int i = 5; i < 100; ++i) {
    script.ResetHeap();
    Call("HDel", {S("p"), S("key" + std::to_string(i))});
  }
  ASSERT_EQ(unlink("scriptfiles/tiny/ballast"), 0);
  EXPECT_EQ(Save(), 1);
  EXPECT_EQ(Call("HAdd", {S("p"), S("after"), S("1")}), 1);
  host.Unload();
  ASSERT_TRUE(host.Load());
  ASSERT_EQ(host.AmxLoad(script.amx()), 0);
  EXPECT_EQ(Call("HLoad", {S("p"), S("tiny/f.txt"), 1}), 1);
  EXPECT_EQ(Call("HCount", {S("p")}), 6) << "journaled again after the save";
  EXPECT_EQ(Get("p", "after"), "1");

  // A journaled load restarts a journal that stopped.
  Write("scriptfiles/tiny/ballast", std::string(60 << 10, 'b'));
  for (int i = 0; i < 10; ++i) {
    script.ResetHeap();
    Call("HAdd", {S("p"), S("key" + std::to_string(i)), S(value)});
  }
  EXPECT_EQ(PluginHost::log().back(),
            "Journaling hash p to scriptfiles/tiny/f.txt.journal stopped: No space left on device");
  ASSERT_EQ(unlink("scriptfiles/tiny/ballast"), 0);
  EXPECT_EQ(Call("HLoad", {S("p"), S("tiny/f.txt"), 1}), 1);
  EXPECT_EQ(Call("HAdd", {S("p"), S("again"), S("1")}), 1);
  Restart();
  EXPECT_EQ(Call("HLoad", {S("p"), S("tiny/f.txt"), 1}), 1);
  EXPECT_EQ(Get("p", "again"), "1");
}

// A journal write cut short says why: past a file size limit, not a full disk.
TEST_F(Faults, JournalPastTheFileSizeLimit) {
  ASSERT_EQ(Call("HLoad", {S("p"), S("f.txt"), 1}), 1);
  const int code = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 98;
    for (int i = 0; i < 10; ++i) {
      script.ResetHeap();
      Call("HAdd", {S("p"), S("key" + std::to_string(i)), S(std::string(1000, 'v'))});
    }
    return PluginHost::log().back() ==
                   "Journaling hash p to scriptfiles/f.txt.journal stopped: File too large"
               ? 0
               : 1;
  });
  EXPECT_EQ(code, 0);
}

TEST_F(Faults, SaveWhereTheServerMayNotWriteKeepsTheOldFile) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  const struct {
    const char* what;
    mode_t directory;
    mode_t file;
  } cases[] = {
      {"read-only directory", 0555, 0666},
      {"read-only file", 0777, 0444},
      {"both", 0555, 0444},
  };
  ASSERT_EQ(chmod(m_root.c_str(), 0755), 0);
  ASSERT_EQ(chmod("scriptfiles", 0755), 0);
  for (const auto& c : cases) {
    ASSERT_EQ(mkdir("scriptfiles/locked", 0777), 0);
    Write("scriptfiles/locked/f.txt", kOld);
    Open("p", "locked/f.txt");
    Call("HAdd", {S("p"), S("new"), S("value")});
    ASSERT_EQ(chmod("scriptfiles/locked/f.txt", c.file), 0);
    ASSERT_EQ(chmod("scriptfiles/locked", c.directory), 0);
    EXPECT_EQ(InChildAsNobody([&] { return Save() == 0 ? 0 : 1; }), 0) << c.what;
    EXPECT_EQ(Read("scriptfiles/locked/f.txt"), kOld) << c.what;
    EXPECT_EQ(List("scriptfiles/locked"), Lines{"f.txt"}) << c.what;
    ASSERT_EQ(chmod("scriptfiles/locked", 0777), 0);
    ASSERT_EQ(unlink("scriptfiles/locked/f.txt"), 0);
    ASSERT_EQ(rmdir("scriptfiles/locked"), 0);
  }
}

TEST_F(Faults, SaveAfterItsDirectoryWasRemoved) {
  ASSERT_EQ(mkdir("scriptfiles/sub", 0777), 0);
  Write("scriptfiles/sub/f.txt", kOld);
  Open("p", "sub/f.txt");
  Call("HAdd", {S("p"), S("new"), S("value")});
  std::filesystem::remove_all("scriptfiles/sub");
  EXPECT_EQ(Save(), 0);
  EXPECT_EQ(List("scriptfiles"), Lines{}) << "nothing made in its place";
  ASSERT_EQ(mkdir("scriptfiles/sub", 0777), 0);
  EXPECT_EQ(Save(), 1);
  EXPECT_EQ(LineCount(Read("scriptfiles/sub/f.txt")), 4u) << "back when the directory is";
}

TEST_F(Faults, FileChangedBetweenLoadAndSave) {
  const std::string mine = "k\nv\n";
  const std::string tooLong(4090, 'a');
  const struct {
    const char* what;
    std::function<void()> change;
    std::function<void()> check;
    const char* failure;  // the logged reason when nothing is written
  } cases[] = {
      {"removed", [] { unlink("scriptfiles/f.txt"); },
       [&] { EXPECT_EQ(Read("scriptfiles/f.txt"), mine); }, nullptr},
      {"replaced by another file",
       [] {
         Write("scriptfiles/other.tmp", "other\n2\n");
         rename("scriptfiles/other.tmp", "scriptfiles/f.txt");
       },
       [&] { EXPECT_EQ(Read("scriptfiles/f.txt"), mine); }, nullptr},
      {"replaced by a directory",
       [] {
         unlink("scriptfiles/f.txt");
         mkdir("scriptfiles/f.txt", 0777);
         Write("scriptfiles/f.txt/inside", "x");
       },
       [] { EXPECT_EQ(List("scriptfiles/f.txt"), Lines{"inside"}); }, "Is a directory"},
      {"replaced by a link",
       [] {
         unlink("scriptfiles/f.txt");
         Write("scriptfiles/target.txt", "other\n2\n");
         symlink("target.txt", "scriptfiles/f.txt");
       },
       [&] { EXPECT_EQ(Read("scriptfiles/target.txt"), mine); }, nullptr},
      {"replaced by a link with an absolute target",
       [&] {
         unlink("scriptfiles/f.txt");
         Write("scriptfiles/target.txt", "other\n2\n");
         symlink((m_root + "/scriptfiles/target.txt").c_str(), "scriptfiles/f.txt");
       },
       [&] { EXPECT_EQ(Read("scriptfiles/target.txt"), mine); }, nullptr},
      {"replaced by a dangling link",
       [] {
         unlink("scriptfiles/f.txt");
         symlink("target.txt", "scriptfiles/f.txt");
       },
       [&] { EXPECT_EQ(Read("scriptfiles/target.txt"), mine); }, nullptr},
      {"replaced by a loop of links",
       [] {
         unlink("scriptfiles/f.txt");
         symlink("loop.txt", "scriptfiles/f.txt");
         symlink("f.txt", "scriptfiles/loop.txt");
       },
       [] {
         EXPECT_EQ(List("scriptfiles"), (Lines{"f.txt", "loop.txt"}));
       },
       "Too many levels of symbolic links"},
      {"replaced by a link to a path too long",
       [&] {
         unlink("scriptfiles/f.txt");
         symlink(tooLong.c_str(), "scriptfiles/f.txt");
       },
       [] { EXPECT_EQ(List("scriptfiles"), Lines{"f.txt"}); }, "File name too long"},
      {"replaced by a pipe",
       [] {
         unlink("scriptfiles/f.txt");
         mkfifo("scriptfiles/f.txt", 0666);
       },
       [] {
         struct stat st;
         EXPECT_TRUE(lstat("scriptfiles/f.txt", &st) == 0 && S_ISFIFO(st.st_mode));
       },
       "Invalid argument"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all("scriptfiles");
    ASSERT_EQ(mkdir("scriptfiles", 0777), 0);
    Write("scriptfiles/f.txt", "k\nold\n");
    Open("p");
    Call("HAdd", {S("p"), S("k"), S("v")});
    c.change();
    EXPECT_EQ(Save(), c.failure ? 0 : 1);
    if (c.failure) {
      EXPECT_EQ(PluginHost::log().back(),
                std::string("Saving hash p to scriptfiles/f.txt failed: ") + c.failure);
    }
    c.check();
    for (const std::string& name : List("scriptfiles")) {
      EXPECT_EQ(name.find(".tmp."), std::string::npos) << name;
    }
    EXPECT_EQ(Call("HClose", {S("p")}), 1);
  }
}

}  // namespace
