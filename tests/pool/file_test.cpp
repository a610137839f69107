#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Child.h"
#include "FailingAllocator.h"
#include "HashPool.h"
#include "ScratchDirectory.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Entries(const CHashPool& pool) {
  Pairs all;
  for (auto* e = pool.Table().first(); e; e = pool.Table().next(e)) {
    all.emplace_back(e->key(), e->value.c_str());
  }
  return all;
}

Pairs Sorted(Pairs pairs) {
  std::sort(pairs.begin(), pairs.end());
  return pairs;
}

// A pool bound to scriptfiles/<name> and loaded from it.
struct BoundPool {
  explicit BoundPool(const char* file) : pool("p") { pool.SetFileName(file); }
  CHashPool pool;
};

class PoolFile : public ScratchDirectory {};

TEST_F(PoolFile, WorkedExampleIs27Bytes) {
  for (bool motdFirst : {false, true}) {
    BoundPool p("stats.txt");
    if (motdFirst) p.pool.Add("motd", "hello world");
    p.pool.Add("visits", "17");
    p.pool.Add("motd", "hello world");
    EXPECT_EQ(p.pool.Save(), 1);
    EXPECT_EQ(Read("scriptfiles/stats.txt"), "visits\n17\nmotd\nhello world\n");
  }
}

TEST_F(PoolFile, HandEditedFile) {
  Write("scriptfiles/edited.txt", "\nalpha\n1\n\nbeta\n\ngamma\n2\nalpha\n3\ndelta\n");
  BoundPool p("edited.txt");
  EXPECT_EQ(p.pool.Load(), 1);
  EXPECT_EQ(p.pool.Table().size(), 3u);
  EXPECT_STREQ(p.pool.Get("alpha"), "3");
  EXPECT_STREQ(p.pool.Get("beta"), "");
  EXPECT_STREQ(p.pool.Get("gamma"), "2");
  EXPECT_EQ(p.pool.Table().size(), 3u) << "delta has no value line";
  ASSERT_EQ(p.pool.Save(), 1);
  std::string expected;
  for (const auto& kv : Entries(p.pool)) {
    if (!kv.second.empty()) expected += kv.first + "\n" + kv.second + "\n";
  }
  EXPECT_EQ(Read("scriptfiles/edited.txt"), expected);
  EXPECT_EQ(expected.find("beta"), std::string::npos);
}

TEST_F(PoolFile, RoundTripReversesKeysSharingABucket) {
  BoundPool p("rt.txt");
  p.pool.Add("a", "A");
  p.pool.Add("02", "Z");
  p.pool.Add("visits", "17");
  p.pool.Get("unset");  // an empty value is not written
  ASSERT_EQ(p.pool.Save(), 1);
  BoundPool q("rt.txt");
  ASSERT_EQ(q.pool.Load(), 1);
  // Saved 02, a (newest first in bucket 97); loaded a, 02. visits is in bucket 64.
  EXPECT_EQ(Read("scriptfiles/rt.txt"), "visits\n17\n02\nZ\na\nA\n");
  EXPECT_EQ(Entries(q.pool), (Pairs{{"visits", "17"}, {"a", "A"}, {"02", "Z"}}));
}

TEST_F(PoolFile, LoadKeepsTheBucketCountOfAGrownPool) {
  Write("scriptfiles/two.txt", "02\nZ\na\nA\n");
  BoundPool p("two.txt");
  for (int i = 0; i < 300; ++i) p.pool.Add(std::to_string(i).c_str(), "x");
  ASSERT_EQ(p.pool.Table().bucket_count(), 389u);
  ASSERT_EQ(p.pool.Load(), 1);
  EXPECT_EQ(p.pool.Table().bucket_count(), 389u);
  // At 389 buckets a stays in bucket 97 and 02 falls into 290.
  EXPECT_EQ(Entries(p.pool), (Pairs{{"a", "A"}, {"02", "Z"}}));
}

TEST_F(PoolFile, PathBinding) {
  const std::string long300(300, 'L');
  const std::pair<std::string, std::string> cases[] = {
      {"stats.txt", "scriptfiles/stats.txt"},
      {"scriptfiles/stats.txt", "scriptfiles/stats.txt"},
      {"scores/table.txt", "scriptfiles/scores/table.txt"},
      {"scriptfiles", "scriptfiles/scriptfiles"},
      {"ScriptFiles/stats.txt", "scriptfiles/ScriptFiles/stats.txt"},
      {"scriptfilesX.txt", "scriptfilesX.txt"},
      {long300, "scriptfiles/" + long300.substr(0, 238)},
      {"a..b", "scriptfiles/a..b"},
      {"...", "scriptfiles/..."},
      {"/abs.txt", "scriptfiles//abs.txt"},
      // Nothing may climb out of the directory.
      {"../server.cfg", ""},
      {"..", ""},
      {"x/../../y", ""},
      {"scriptfiles/../server.cfg", ""},
      {"scriptfiles..", "scriptfiles.."},
      {"logs/..", ""},
      // Nor be one of the plugin's own files, which it replays, cuts and removes.
      {"a.txt.journal", ""},
      {"d/.journal", ""},
      {"a.txt.journal.stale", ""},
      {"a.txt.journal.stale.12", ""},
      {".s.txt.tmp.0", ""},
      {"d/.s.txt.tmp.123.4", ""},
      {"a.journal.txt", "scriptfiles/a.journal.txt"},
      {"a.txt.journal.stale.x", "scriptfiles/a.txt.journal.stale.x"},
      {"s.txt.tmp.0", "scriptfiles/s.txt.tmp.0"},
      {".s.txt.tmp.", "scriptfiles/.s.txt.tmp."},
  };
  for (const auto& c : cases) {
    CHashPool pool("p");
    pool.SetFileName("bound-before.txt");
    pool.SetFileName(c.first.c_str());
    EXPECT_EQ(std::string(pool.FileName()), c.second) << c.first;
  }
}

TEST_F(PoolFile, PathsReachRealFiles) {
  ASSERT_EQ(mkdir("scriptfiles/scores", 0777), 0);
  const std::pair<const char*, const char*> cases[] = {
      {"stats.txt", "scriptfiles/stats.txt"},
      {"scriptfiles/direct.txt", "scriptfiles/direct.txt"},
      {"scores/table.txt", "scriptfiles/scores/table.txt"},
      {"scriptfilesX.txt", "scriptfilesX.txt"},
  };
  for (const auto& c : cases) {
    BoundPool p(c.first);
    p.pool.Add("k", c.first);
    EXPECT_EQ(p.pool.Save(), 1) << c.first;
    EXPECT_EQ(Read(c.second), std::string("k\n") + c.first + "\n");
  }
}

TEST_F(PoolFile, ParentComponentsTouchNothing) {
  Write("outside.txt", "k\nv\n");
  BoundPool p("../outside.txt");
  p.pool.Add("k", "mine");
  EXPECT_EQ(p.pool.Load(), 0);
  EXPECT_EQ(p.pool.Save(), 0);
  EXPECT_STREQ(p.pool.Get("k"), "mine");
  EXPECT_EQ(Read("outside.txt"), "k\nv\n");
}

TEST_F(PoolFile, LongLinesStayInStep) {
  const std::string key300(300, 'k');
  const std::string value127(127, 'v');
  Write("scriptfiles/long.txt", key300 + "\n" + value127 + "\nnext\n1\n");
  BoundPool p("long.txt");
  ASSERT_EQ(p.pool.Load(), 1);
  EXPECT_EQ(std::string(p.pool.Get(key300.c_str())), value127);
  EXPECT_STREQ(p.pool.Get("next"), "1");
  EXPECT_EQ(p.pool.Table().size(), 2u);
}

// Each file loads as plain keys and values, and a save and a reload give
// them back whole.
TEST_F(PoolFile, LineEnds) {
  const std::pair<std::string, Pairs> cases[] = {
      {"k\n42", {{"k", "42"}}},  // no final line feed
      {"alpha\r\n1\r\n\r\nbeta\r\n2\r\n", {{"alpha", "1"}, {"beta", "2"}}},
      // CR LF converted to CR LF once more
      {"alice\r\r\n10\r\r\nbob\r\r\n20\r\r\n", {{"alice", "10"}, {"bob", "20"}}},
      {"k\r\n\r\n", {{"k", ""}}},
      {"k\nv\r", {{"k", "v"}}},  // the end of the file ends a line too
      {"k\n2\r\r", {{"k", "2"}}},
      {"k\na\rb\n", {{"k", "a\rb"}}},
      {std::string("k\nab\0cd\n", 8), {{"k", "ab"}}},
  };
  for (const auto& c : cases) {
    Write("scriptfiles/ends.txt", c.first);
    Pairs want = Sorted(c.second);
    for (const char* pass : {"load", "save and reload"}) {
      BoundPool p("ends.txt");
      ASSERT_EQ(p.pool.Load(), 1);
      EXPECT_EQ(Sorted(Entries(p.pool)), want) << pass << " of " << c.first;
      ASSERT_EQ(p.pool.Save(), 1);
      want.erase(std::remove_if(want.begin(), want.end(),
                                [](const auto& kv) { return kv.second.empty(); }),
                 want.end());
    }
  }
}

// A key or value with a line feed, or a key that would read back empty,
// would put every later line out of step: such entries are counted instead.
// A text ending in carriage returns is written and comes back without them.
TEST_F(PoolFile, TextsALineCannotHoldAreCountedNotWritten) {
  BoundPool p("bad.txt");
  p.pool.Add("good", "1");
  p.pool.Add("multi", "line one\nline two");
  p.pool.Add("line\nkey", "x");
  p.pool.Add("cr", "ends in\r");
  p.pool.Add("crkey\r", "x");
  p.pool.Add("inner", "a\rb");
  p.pool.Add("", "empty key");
  p.pool.Add("\r\r", "blank key");
  p.pool.Get("unset");  // an empty value is no loss
  p.pool.Add("later", "2");
  // A line feed at any byte of a text of any length.
  std::vector<std::string> withLineFeed;
  for (size_t len = 1; len <= 20; ++len) {
    for (size_t at = 0; at < len; ++at) {
      withLineFeed.push_back(std::string(len, 'x'));
      withLineFeed.back()[at] = '\n';
    }
  }
  withLineFeed.push_back(std::string(5000, 'x'));
  withLineFeed.back()[4999] = '\n';
  for (size_t i = 0; i < withLineFeed.size(); ++i) {
    p.pool.Add(withLineFeed[i].c_str(), "x");
    p.pool.Add(("lf" + std::to_string(i)).c_str(), withLineFeed[i].c_str());
  }
  ASSERT_EQ(p.pool.Save(), 1);
  EXPECT_EQ(p.pool.Unwritten(), 2 * withLineFeed.size() + 4);
  uint32_t left = 0;
  for (auto* e = p.pool.Table().first(); e; e = p.pool.Table().next(e)) {
    left += CHashPool::Saves(*e) ? 0 : 1;
  }
  EXPECT_EQ(left, p.pool.Unwritten() + 1) << "the unset key is left out too";
  BoundPool q("bad.txt");
  ASSERT_EQ(q.pool.Load(), 1);
  EXPECT_EQ(
      Sorted(Entries(q.pool)),
      (Pairs{{"cr", "ends in"}, {"crkey", "x"}, {"good", "1"}, {"inner", "a\rb"}, {"later", "2"}}));
}

TEST_F(PoolFile, EmptyPoolTruncatesTheFile) {
  Write("scriptfiles/e.txt", "old\ncontent\n");
  BoundPool p("e.txt");
  EXPECT_EQ(p.pool.Save(), 1);
  EXPECT_EQ(Read("scriptfiles/e.txt"), "");
}

TEST_F(PoolFile, FailedLoadKeepsTheEntries) {
  ASSERT_EQ(mkdir("scriptfiles/dir.txt", 0777), 0);
  ASSERT_EQ(mkfifo("scriptfiles/fifo.txt", 0666), 0);
  for (const char* name : {"missing.txt", "dir.txt", "fifo.txt"}) {
    BoundPool p(name);
    p.pool.Add("k", "v");
    EXPECT_EQ(p.pool.Load(), 0) << name;  // a pipe must not block the server
    EXPECT_EQ(Entries(p.pool), (Pairs{{"k", "v"}})) << name;
  }
  CHashPool unbound("u");
  EXPECT_EQ(unbound.Load(), 0);
  EXPECT_EQ(unbound.Save(), 0);
}

// Only a missing file leaves the path bound; a file that is there but could
// not be read must never be replaced by the next save.
TEST_F(PoolFile, AFileThatCouldNotBeReadIsNeverSavedOver) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  const std::string original = "k\nfrom the file\n";
  ASSERT_EQ(chmod(m_root.c_str(), 0755), 0);
  ASSERT_EQ(chmod("scriptfiles", 0777), 0);
  const struct {
    const char* what;
    const char* file;
    int error;
    std::function<bool()> prepare;  // in the child, before the load
  } cases[] = {
      {"missing", "missing.txt", ENOENT, [] { return true; }},
      {"unreadable", "f.txt", EACCES,
       [] {
         return chmod("scriptfiles/f.txt", 0222) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
       }},
      {"no descriptor left", "f.txt", EMFILE,
       [] {
         rlimit limit;
         if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
         limit.rlim_cur = 16;
         if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
         for (int i = 0; i < 64; ++i) {
           if (open("/dev/null", O_RDONLY) < 0) return errno == EMFILE;
         }
         return false;  // the limit does not bind here
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Write("scriptfiles/f.txt", original);
    ASSERT_EQ(chmod("scriptfiles/f.txt", 0666), 0);
    const int code = InChild([&] {
      CHashPool pool("p");
      pool.SetFileName(c.file);
      pool.Add("unsaved", "x");
      if (!c.prepare()) return 77;
      if (pool.Load() != 0 || pool.FileError() != c.error) return 1;
      for (int fd = 3; fd < 64; ++fd) close(fd);  // the save gets its descriptors
      const bool missing = c.error == ENOENT;
      if ((pool.FileName()[0] != '\0') != missing) return 2;
      return pool.Save() == (missing ? 1 : 0) ? 0 : 3;
    });
    if (code == 77) {
      ADD_FAILURE() << "could not set the case up";
      continue;
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Read("scriptfiles/f.txt"), original);
    if (c.error == ENOENT) {
      EXPECT_EQ(Read("scriptfiles/missing.txt"), "unsaved\nx\n");
    }
  }
}

// Every file this program creates through open64, with the mode asked for:
// the mode a file gets at its creation cannot be seen from outside.
std::vector<std::pair<std::string, mode_t>> g_created;
// While set, the syncs and renames of this program, in order.
std::vector<std::string>* g_syncs = nullptr;
// fdatasync calls from the thread that set t_counting, and from others.
thread_local bool t_counting = false;
std::atomic<int> g_syncsHere{0}, g_syncsElsewhere{0};
// When set, fdatasync and syncfs fail with it.
std::atomic<int> g_syncFailure{0};

int Synced(int (*real)(int), int fd) {
  if (const int failure = g_syncFailure.load()) return errno = failure, -1;
  return real(fd);
}

template <typename Function>
Function Real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int fdatasync(int fd) {
  if (g_syncs) g_syncs->push_back("fdatasync");
  ++(t_counting ? g_syncsHere : g_syncsElsewhere);
  return Synced(Real<int (*)(int)>("fdatasync"), fd);
}

// The syncer's sync of a whole file system, for several journals at once.
extern "C" int syncfs(int fd) { return Synced(Real<int (*)(int)>("syncfs"), fd); }

extern "C" int fsync(int fd) {
  if (g_syncs) g_syncs->push_back("fsync");
  return Real<int (*)(int)>("fsync")(fd);
}

extern "C" int rename(const char* from, const char* to) {
  if (g_syncs) g_syncs->push_back(std::string("rename to ") + to);
  return Real<int (*)(const char*, const char*)>("rename")(from, to);
}

extern "C" int open64(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & O_CREAT) {
    va_list args;
    va_start(args, flags);
    mode = mode_t(va_arg(args, int));
    va_end(args);
    try {
      g_created.emplace_back(path, mode);
    } catch (const std::bad_alloc&) {
      // Saves run with allocations made to fail too; only the record is lost.
    }
  }
  static const auto real =
      reinterpret_cast<int (*)(const char*, int, ...)>(dlsym(RTLD_NEXT, "open64"));
  return real(path, flags, mode);
}

namespace {

// The new version is created with the old one's mode, so that nobody can
// read it, even briefly, who could not read the old file.
TEST_F(PoolFile, TheNewVersionIsNeverMoreReadableThanTheOld) {
  const mode_t umaskBefore = umask(0);
  Write("scriptfiles/private.txt", "k\nv\n");
  ASSERT_EQ(chmod("scriptfiles/private.txt", 0640), 0);
  const std::pair<const char*, mode_t> cases[] = {
      {"private.txt", 0640}, {"new.txt", 0666},  // as a file created in place
  };
  for (const auto& c : cases) {
    BoundPool p(c.first);
    p.pool.Add("k", "1");
    g_created.clear();
    ASSERT_EQ(p.pool.Save(), 1);
    ASSERT_EQ(g_created.size(), 1u);
    EXPECT_NE(g_created[0].first.find(".tmp."), std::string::npos);
    EXPECT_EQ(g_created[0].second, c.second) << c.first << " at its creation";
    struct stat st;
    ASSERT_EQ(stat(("scriptfiles/" + std::string(c.first)).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.second) << c.first;
  }
  umask(umaskBefore);
}

// A power cut must find the old version or the new one whole: the data
// reaches the disk before the new name does, and the name after that.
TEST_F(PoolFile, DataReachesTheDiskBeforeTheNewName) {
  BoundPool p("f.txt");
  p.pool.Add("k", "v");
  std::vector<std::string> syncs;
  g_syncs = &syncs;
  EXPECT_EQ(p.pool.Save(), 1);
  g_syncs = nullptr;
  EXPECT_EQ(syncs, (std::vector<std::string>{"fdatasync", "rename to scriptfiles/f.txt", "fsync"}));
}

// Journal records reach the disk from the syncer's thread within about a
// second, never from the thread that appends them; stopping it syncs what
// is left.
TEST_F(PoolFile, JournalRecordsAreSyncedByAnotherThread) {
  BoundPool p("s.txt");
  p.pool.Load();
  ASSERT_EQ(p.pool.OpenJournal(), 0);
  t_counting = true;
  g_syncsHere = g_syncsElsewhere = 0;
  for (int i = 0; i < 1000; ++i) p.pool.Add(("k" + std::to_string(i)).c_str(), "v");
  const auto appended = std::chrono::steady_clock::now();
  while (!g_syncsElsewhere && std::chrono::steady_clock::now() - appended < std::chrono::seconds(3))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_LT(std::chrono::steady_clock::now() - appended, std::chrono::milliseconds(1200));
  const int synced = g_syncsElsewhere;
  EXPECT_GT(synced, 0);
  p.pool.Add("last", "1");
  JournalSyncer::Stop();
  EXPECT_GT(g_syncsElsewhere, synced) << "the rest is synced before it stops";
  EXPECT_EQ(g_syncsHere, 0) << "appends never sync";
  t_counting = false;

  // After a failed sync a journal may lack records: it stops until a save
  // holds everything again. Several journals are synced together, and all
  // of them stop.
  BoundPool q("q.txt"), r("r.txt");
  ASSERT_EQ(q.pool.OpenJournal(), 0);
  ASSERT_EQ(r.pool.OpenJournal(), 0);
  for (const bool together : {false, true}) {
    const uint64_t failures = JournalSyncer::Totals().failures;
    g_syncFailure = EIO;
    q.pool.Add("k", "1");
    if (together) r.pool.Add("k", "1");
    while (JournalSyncer::Totals().failures == failures &&
           std::chrono::steady_clock::now() - appended < std::chrono::seconds(10))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    g_syncFailure = 0;
    for (BoundPool* b : {&q, &r}) {
      b->pool.Add("k", "2");
      const bool stops = b == &q || together;
      EXPECT_EQ(b->pool.GetJournal()->Error(), stops ? EIO : 0) << together;
      EXPECT_EQ(b->pool.GetJournal()->StoppedJustNow(), stops);
      EXPECT_EQ(b->pool.Save(), 1);
      EXPECT_EQ(b->pool.GetJournal()->Error(), 0) << "journaling again";
    }
  }
}

// A save killed midway leaves its temporary file; the next save of that file
// removes it, unless a live writer, here or in another server, still holds it.
TEST_F(PoolFile, TheNextSaveRemovesWhatACrashedOneLeft) {
  Write("scriptfiles/.f.txt.tmp.0", "k\nleft by a crash\n");
  Write("scriptfiles/.f.txt.tmp.1", "k\nbeing written\n");
  const int live = open("scriptfiles/.f.txt.tmp.1", O_RDONLY);
  ASSERT_EQ(flock(live, LOCK_EX), 0);
  BoundPool p("f.txt");
  p.pool.Add("k", "v");
  EXPECT_EQ(p.pool.Save(), 1);
  EXPECT_EQ(List("scriptfiles"), (std::vector<std::string>{".f.txt.tmp.1", "f.txt"}));
  EXPECT_EQ(Read("scriptfiles/.f.txt.tmp.1"), "k\nbeing written\n");
  close(live);
  EXPECT_EQ(p.pool.Save(), 1);
  EXPECT_EQ(List("scriptfiles"), std::vector<std::string>{"f.txt"});
  EXPECT_EQ(Read("scriptfiles/f.txt"), "k\nv\n");
}

TEST_F(PoolFile, FailedSaveLeavesTheOldFile) {
  ASSERT_EQ(mkdir("scriptfiles/dir.txt", 0777), 0);
  for (const char* name : {"nodir/x.txt", "dir.txt"}) {
    BoundPool p(name);
    p.pool.Add("k", "v");
    EXPECT_EQ(p.pool.Save(), 0) << name;
  }
  EXPECT_FALSE(Exists("scriptfiles/nodir"));
  EXPECT_EQ(List("scriptfiles"), std::vector<std::string>{"dir.txt"});
}

TEST_F(PoolFile, ReadOnlyTargetOrDirectoryIsLeftAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  ASSERT_EQ(chmod(m_root.c_str(), 0755), 0);
  ASSERT_EQ(chmod("scriptfiles", 0777), 0);
  Write("scriptfiles/ro.txt", "old\n1\n");
  ASSERT_EQ(chmod("scriptfiles/ro.txt", 0444), 0);
  ASSERT_EQ(mkdir("scriptfiles/locked", 0555), 0);
  Write("scriptfiles/locked/f.txt", "old\n2\n");
  ASSERT_EQ(chmod("scriptfiles/locked/f.txt", 0666), 0);

  const int code = InChildAsNobody([] {
    int failures = 0;
    for (const char* name : {"ro.txt", "locked/f.txt"}) {
      CHashPool pool("p");
      pool.SetFileName(name);
      pool.Add("new", "value");
      failures += pool.Save() == 0 ? 0 : 1;
    }
    return failures;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Read("scriptfiles/ro.txt"), "old\n1\n");
  EXPECT_EQ(Read("scriptfiles/locked/f.txt"), "old\n2\n");
  EXPECT_EQ(List("scriptfiles/locked"), std::vector<std::string>{"f.txt"});
}

TEST_F(PoolFile, SaveKeepsModeAndLinks) {
  Write("scriptfiles/real.txt", "old\n1\n");
  ASSERT_EQ(chmod("scriptfiles/real.txt", 0640), 0);
  ASSERT_EQ(symlink("real.txt", "scriptfiles/link.txt"), 0);
  BoundPool p("link.txt");
  p.pool.Add("k", "v");
  ASSERT_EQ(p.pool.Save(), 1);
  struct stat st;
  ASSERT_EQ(lstat("scriptfiles/link.txt", &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat("scriptfiles/real.txt", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Read("scriptfiles/real.txt"), "k\nv\n");
  EXPECT_EQ(List("scriptfiles"), (std::vector<std::string>{"link.txt", "real.txt"}));
}

TEST_F(PoolFile, LoadReplacesEntriesOnlyWhenTheFileOpens) {
  Write("scriptfiles/f.txt", "a\n1\n");
  BoundPool p("f.txt");
  p.pool.Add("unsaved", "x");
  ASSERT_EQ(p.pool.Load(), 1);
  EXPECT_EQ(Entries(p.pool), (Pairs{{"a", "1"}}));
}

TEST_F(PoolFile, RecordsWithoutMemoryLeaveTheFileUnbound) {
  const std::string original = "a\n1\nb\n2\nc\n3\n";
  Write("scriptfiles/f.txt", original);
  for (long succeed = 0;; ++succeed) {  // at least an entry for each record
    BoundPool p("f.txt");
    p.pool.Add("unsaved", "x");
    int loaded;
    {
      ScopedAllocationFailure fail(succeed, 1);
      loaded = p.pool.Load();
    }
    if (FailedAllocations() == 0) {
      EXPECT_EQ(loaded, 1);
      EXPECT_EQ(Entries(p.pool).size(), 3u);
      EXPECT_GE(succeed, 3);
      break;
    }
    EXPECT_EQ(loaded, 0) << succeed;
    EXPECT_STREQ(p.pool.FileName(), "") << succeed;
    EXPECT_EQ(p.pool.Save(), 0) << succeed;
    EXPECT_EQ(Read("scriptfiles/f.txt"), original) << succeed;
  }
}

// Reads the current data segment size from the kernel, in bytes.
long DataSize() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmData:", 0) == 0) return std::atol(line.c_str() + 7) * 1024;
  }
  return -1;
}

TEST_F(PoolFile, ALineWithoutMemoryLeavesTheFileUnbound) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's allocator ends the process where malloc would fail";
#endif
  const size_t kLine = 48u << 20;
  const std::string original = "a\n1\nbig\n" + std::string(kLine, 'v') + "\nz\n2\n";
  Write("scriptfiles/f.txt", original);
  const int code = InChild([&] {
    // Too little memory for the long line, plenty for the rest. Where the limit
    // does not bind (sanitizers, valgrind, emulators), there is nothing to test.
    const long used = DataSize();
    const rlimit limit{rlim_t(used + (16 << 20)), rlim_t(used + (16 << 20))};
    if (used < 0 || setrlimit(RLIMIT_DATA, &limit) != 0) return 77;
    if (void* probe = std::malloc(kLine)) {
      std::free(probe);
      return 77;
    }
    CHashPool pool("p");
    pool.SetFileName("f.txt");
    if (pool.Load() != 0) return 1;
    if (pool.FileName()[0] != '\0') return 2;
    return pool.Save() == 0 ? 0 : 3;
  });
  ASSERT_NE(code, -1) << "the child died";
  if (code == 77) GTEST_SKIP() << "the data limit does not bind here";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Read("scriptfiles/f.txt"), original);
}

long SizeOf(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 ? long(st.st_size) : -1;
}

// Every change of a journaled pool is a record; a load replays the whole
// records onto the file and cuts off a torn or corrupt end wherever it
// starts, which a crash or a bad disk may leave.
TEST_F(PoolFile, JournalReplaysItsWholeRecords) {
  Write("scriptfiles/j.txt", "a\n1\nb\n2\n");
  const char* journal = "scriptfiles/j.txt.journal";
  const std::pair<std::function<void(CHashPool&)>, Pairs> changes[] = {
      {[](CHashPool&) {}, {{"a", "1"}, {"b", "2"}}},
      {[](CHashPool& p) { p.Add("a", "10"); }, {{"a", "10"}, {"b", "2"}}},
      {[](CHashPool& p) { p.Inc("b", 5); }, {{"a", "10"}, {"b", "7"}}},
      {[](CHashPool& p) { p.Del("a"); }, {{"b", "7"}}},
      {[](CHashPool& p) { p.Add("line\nkey", "x\ny"); }, {{"b", "7"}, {"line\nkey", "x\ny"}}},
      {[](CHashPool& p) { p.Add("b", ""); }, {{"line\nkey", "x\ny"}}},  // as a deletion
  };
  std::vector<long> ends;
  {
    BoundPool p("j.txt");
    ASSERT_EQ(p.pool.Load(), 1);
    ASSERT_EQ(p.pool.OpenJournal(), 0);
    for (const auto& c : changes) {
      c.first(p.pool);
      p.pool.Get("read");  // reads change nothing that is saved
      ends.push_back(SizeOf(journal));
    }
  }
  const std::string whole = Read(journal);
  auto replay = [&](const std::string& bytes, size_t records) {
    Write(journal, bytes);
    BoundPool p("j.txt");
    ASSERT_EQ(p.pool.Load(), 1);
    if (!bytes.empty() && bytes.size() < Journal::kHeaderSize) {
      EXPECT_EQ(p.pool.OpenJournal(), EBADMSG) << "a torn mark is no journal";
      EXPECT_EQ(Read(journal), bytes) << "and not ours to cut";
      return;
    }
    ASSERT_EQ(p.pool.OpenJournal(), 0);
    Journal::Replayed replayed;
    ASSERT_EQ(p.pool.ReplayJournal(&replayed), 0);
    EXPECT_EQ(Sorted(Entries(p.pool)), changes[records].second) << bytes.size() << " bytes";
    EXPECT_EQ(replayed.applied, records);
    EXPECT_EQ(SizeOf(journal), ends[records]) << "cut after the last whole record";
  };
  for (size_t cut = 0, records = 0; cut <= whole.size(); ++cut) {
    while (records + 1 < ends.size() && size_t(ends[records + 1]) <= cut) ++records;
    replay(whole.substr(0, cut), records);
  }
  for (size_t at = size_t(ends[2]); at < size_t(ends[3]); ++at) {
    std::string corrupt = whole;
    corrupt[at] ^= 0x20;
    replay(corrupt, 2);
  }
}

// Replay reads a megabyte at a time: records that straddle that boundary,
// or outgrow it, come back whole.
TEST_F(PoolFile, JournalLongerThanTheReadChunk) {
  Write("scriptfiles/m.txt", "big\n" + std::string(2 << 20, 'b') + "\n");
  Pairs expected{{"big", std::string(2 << 20, 'b')}};
  {
    BoundPool p("m.txt");
    ASSERT_EQ(p.pool.Load(), 1);
    ASSERT_EQ(p.pool.OpenJournal(), 0);
    for (int i = 0; i < 1200; ++i) {
      const std::string key = "k" + std::to_string(i), value(999 + i % 7, char('a' + i % 26));
      p.pool.Add(key.c_str(), value.c_str());
      expected.emplace_back(key, value);
    }
    const std::string huge(1536 << 10, 'h');
    p.pool.Add("huge", huge.c_str());
    expected.emplace_back("huge", huge);
  }
  ASSERT_GT(SizeOf("scriptfiles/m.txt.journal"), 2l << 20) << "not rewritten on the way";
  BoundPool p("m.txt");
  ASSERT_EQ(p.pool.Load(), 1);
  ASSERT_EQ(p.pool.OpenJournal(), 0);
  Journal::Replayed replayed;
  ASSERT_EQ(p.pool.ReplayJournal(&replayed), 0);
  EXPECT_EQ(replayed.applied, 1201u);
  EXPECT_EQ(Sorted(Entries(p.pool)), Sorted(expected));
}

TEST_F(PoolFile, TwentyMegabytesOfLongLines) {
  std::string longKey(8 << 20, 'k'), longValue(6 << 20, 'v'), otherKey(4 << 20, 'o');
  longKey.back() = 'K';
  longValue.back() = 'V';
  std::string text = longKey + "\n" + longValue + "\r\n" + otherKey + "\nshort\n";
  for (int i = 0; i < 1000; ++i) text += std::to_string(i) + "\n" + std::to_string(i * 7) + "\n";
  text += "tail\n1";
  Write("scriptfiles/big.txt", text);
  BoundPool p("big.txt");
  ASSERT_EQ(p.pool.Load(), 1);
  EXPECT_EQ(p.pool.Table().size(), 1003u);
  EXPECT_TRUE(p.pool.Get(longKey.c_str()) == longValue) << "lines are taken whole";
  EXPECT_STREQ(p.pool.Get(otherKey.c_str()), "short");
  EXPECT_STREQ(p.pool.Get("999"), "6993");
  EXPECT_STREQ(p.pool.Get("tail"), "1");
  p.pool.Add(longKey.substr(0, 300).c_str(), "shares 300 bytes with the long key");
  // Written whole, in pieces of a megabyte, byte for byte in the pool's order.
  ASSERT_EQ(p.pool.Save(), 1);
  std::string expected;
  for (const auto& kv : Entries(p.pool)) expected += kv.first + "\n" + kv.second + "\n";
  EXPECT_TRUE(Read("scriptfiles/big.txt") == expected);
  BoundPool q("big.txt");
  ASSERT_EQ(q.pool.Load(), 1);
  EXPECT_EQ(q.pool.Table().size(), 1004u);
  EXPECT_TRUE(q.pool.Get(longKey.c_str()) == longValue);
}

TEST_F(PoolFile, SavePastTheFileSizeLimitKeepsTheOldFile) {
  Write("scriptfiles/f.txt", "old\n1\n");
  BoundPool p("f.txt");
  for (int i = 0; i < 1000; ++i)
    p.pool.Add(std::to_string(i).c_str(), std::string(100, 'v').c_str());
  // Writes past the limit fail with EFBIG, as they would on a full disk.
  const int code = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 98;
    return p.pool.Save() == 0 ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Read("scriptfiles/f.txt"), "old\n1\n");
  EXPECT_EQ(List("scriptfiles"), std::vector<std::string>{"f.txt"});
  EXPECT_EQ(p.pool.Save(), 1);
}

// Without memory for its buffer a save keeps the old file; without memory for
// the larger buffer a file that outgrows the first one is still written whole.
TEST_F(PoolFile, SavesWithoutMemory) {
  BoundPool p("m.txt");
  for (int i = 0; i < 1000; ++i)
    p.pool.Add(std::to_string(i).c_str(), std::string(100, 'v').c_str());
  ASSERT_EQ(p.pool.Save(), 1);
  const std::string whole = Read("scriptfiles/m.txt");
  ASSERT_GT(whole.size(), 64u << 10);
  for (long succeed = 0;; ++succeed) {
    Write("scriptfiles/m.txt", "old\n1\n");
    int saved;
    {
      ScopedAllocationFailure fail(succeed, 1);
      saved = p.pool.Save();
    }
    EXPECT_EQ(Read("scriptfiles/m.txt"), saved == 1 ? whole : "old\n1\n") << succeed;
    EXPECT_EQ(List("scriptfiles"), std::vector<std::string>{"m.txt"}) << succeed;
    if (FailedAllocations() == 0) break;
  }
}

TEST_F(PoolFile, TheLongestNamesCanBeSavedAgainAndAgain) {
  const std::pair<std::string, std::string> cases[] = {
      {std::string(238, 'n'), "scriptfiles/" + std::string(238, 'n')},
      {"scriptfiles" + std::string(239, 'b'), "scriptfiles" + std::string(239, 'b')},
  };
  for (const auto& c : cases) {
    BoundPool p(c.first.c_str());
    ASSERT_EQ(std::string(p.pool.FileName()), c.second);
    for (int i = 0; i < 3; ++i) {
      p.pool.Add("k", std::to_string(i).c_str());
      EXPECT_EQ(p.pool.Save(), 1) << c.second.size() << " characters, save " << i;
      EXPECT_EQ(Read(c.second), "k\n" + std::to_string(i) + "\n");
    }
  }
}

}  // namespace
