#include <gtest/gtest.h>
#include <unistd.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "NativesFixture.h"

namespace {

using Lines = std::vector<std::string>;
const cell kCanary = 0x5A5A5A5A;

TEST_F(NativesTest, RegistersTheNativesInOrder) {
  EXPECT_EQ(
      script.amx()->registered,
      (Lines{"HLoad", "HSave", "HClose", "HAdd", "HAddInt", "HAddFloat", "HGet", "HGetInt",
             "HGetFloat", "HGetIndex", "HInc", "HDec", "HDel", "HGetKey", "HExists", "HCount"}));
  Script other;
  other.amx()->registerResult = AMX_ERR_NOTFOUND;
  EXPECT_EQ(host.AmxLoad(other.amx()), AMX_ERR_NOTFOUND) << "the host's code comes back";
}

TEST_F(NativesTest, WithoutAnOpenPoolNothingHappens) {
  Open("open");
  Call("HClose", {S("open")});  // closed pools count as missing too
  for (const char* name : {"never", "open"}) {
    const cell dest = script.Array(8, kCanary);
    const cell ref = script.Array(1, kCanary);
    const struct {
      const char* native;
      std::vector<cell> args;
    } calls[] = {
        {"HSave", {S(name)}},
        {"HClose", {S(name)}},
        {"HAdd", {S(name), S("k"), S("v")}},
        {"HAddInt", {S(name), S("k"), 5}},
        {"HAddFloat", {S(name), S("k"), FromFloat(1.5f)}},
        {"HGet", {S(name), S("k"), dest}},
        {"HGetInt", {S(name), S("k")}},
        {"HGetFloat", {S(name), S("k"), ref}},
        {"HGetIndex", {S(name), 0, dest}},
        {"HInc", {S(name), S("k")}},
        {"HDec", {S(name), S("k"), 3}},
        {"HDel", {S(name), S("k")}},
        {"HGetKey", {S(name), 0, dest}},
        {"HGetKey", {S(name), 0, dest, 8}},
        {"HExists", {S(name), S("k")}},
    };
    for (const auto& c : calls) EXPECT_EQ(Call(c.native, c.args), 0) << c.native << " " << name;
    EXPECT_EQ(Call("HCount", {S(name)}), -1) << "not open, unlike empty";
    for (int i = 0; i < 8; ++i) EXPECT_EQ(script.At(dest + 4 * i), kCanary);
    EXPECT_EQ(script.At(ref), kCanary);
  }
  EXPECT_TRUE(PluginHost::log().size() == 1u) << "only the first HLoad logs";
}

TEST_F(NativesTest, CloseTwiceThenReopen) {
  Open("p");
  Call("HAdd", {S("p"), S("k"), S("v")});
  EXPECT_EQ(Call("HClose", {S("p")}), 1);
  EXPECT_EQ(Call("HClose", {S("p")}), 0);
  EXPECT_EQ(Call("HGetInt", {S("p"), S("k")}), 0);
  Open("p");
  EXPECT_EQ(Get("p", "k"), "") << "a reopened pool starts from its file";
}

TEST_F(NativesTest, LoadOnMissingFileLogsAndOpens) {
  EXPECT_EQ(Call("HLoad", {S("scores"), S("scores.txt")}), 1);
  EXPECT_EQ(PluginHost::log(), Lines{"Loading hash scores from scriptfiles/scores.txt"});
  EXPECT_EQ(Call("HAddInt", {S("scores"), S("alice"), 10}), 1);
  EXPECT_EQ(Call("HSave", {S("scores")}), 1);
  EXPECT_EQ(PluginHost::log().back(), "Saving hash scores to scriptfiles/scores.txt");
  EXPECT_EQ(Read("scriptfiles/scores.txt"), "alice\n10\n");
}

TEST_F(NativesTest, LoadOnAnOpenPoolTakesTheFile) {
  Write("scriptfiles/f.txt", "a\n1\n");
  Open("p");
  Call("HAdd", {S("p"), S("unsaved"), S("x")});
  Call("HAdd", {S("p"), S("a"), S("2")});
  Open("p");
  EXPECT_EQ(Get("p", "a"), "1");
  EXPECT_EQ(Get("p", "unsaved"), "");
}

TEST_F(NativesTest, SaveReportsAFileItCouldNotWrite) {
  Open("p", "nodir/f.txt");
  EXPECT_EQ(Call("HSave", {S("p")}), 0);
  EXPECT_EQ(PluginHost::log(),
            (Lines{"Loading hash p from scriptfiles/nodir/f.txt",
                   "Saving hash p to scriptfiles/nodir/f.txt",
                   "Saving hash p to scriptfiles/nodir/f.txt failed: No such file or directory"}))
      << "a missing file is no failure to load";
  EXPECT_FALSE(Exists("scriptfiles/nodir"));
}

TEST_F(NativesTest, ParentDirectoryNamesBindNoFile) {
  Write("escape.txt", "k\nv\n");
  EXPECT_EQ(Call("HLoad", {S("p"), S("../escape.txt")}), 0) << "the pool opens all the same";
  EXPECT_EQ(Get("p", "k"), "");
  Call("HAdd", {S("p"), S("k"), S("mine")});
  EXPECT_EQ(Call("HSave", {S("p")}), 0);
  EXPECT_EQ(Read("escape.txt"), "k\nv\n");
  EXPECT_EQ(PluginHost::log(),
            (Lines{"Loading hash p from ",
                   "Loading hash p from ../escape.txt failed: the name leaves scriptfiles/",
                   "Saving hash p to ",
                   "Saving hash p to ../escape.txt failed: the name leaves scriptfiles/"}));
}

TEST_F(NativesTest, NumbersAsText) {
  Open("p");
  const struct {
    const char* native;
    cell value;
    const char* text;
  } cases[] = {
      {"HAddInt", -5, "-5"},
      {"HAddInt", std::numeric_limits<cell>::min(), "-2147483648"},
      {"HAddFloat", FromFloat(1.5f), "1.500000"},
      {"HAddFloat", FromFloat(-0.0f), "-0.000000"},
      {"HAddFloat", FromFloat(0.1f), "0.100000"},
      {"HAddFloat", FromFloat(FLT_MAX), "340282346638528859811704183484516925440.000000"},
      {"HAddFloat", FromFloat(-FLT_MAX), "-340282346638528859811704183484516925440.000000"},
      {"HAddFloat", FromFloat(INFINITY), "inf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Call(c.native, {S("p"), S("k"), c.value}), 1);
    EXPECT_EQ(Get("p", "k"), c.text) << c.native;
  }
}

// Another plugin or the server may set a decimal-comma locale; pool texts
// and files must not follow it.
TEST_F(NativesTest, NumbersIgnoreTheProcessLocale) {
  const std::string locales = m_root + "/locales";
  const std::string make =
      "localedef -i de_DE -f UTF-8 " + locales + "/de_DE.UTF-8 >/dev/null 2>&1";
  if (std::system(("mkdir -p " + locales + " && " + make).c_str()) != 0) {
    GTEST_SKIP() << "localedef cannot make a decimal-comma locale here";
  }
  setenv("LOCPATH", locales.c_str(), 1);
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
  unsetenv("LOCPATH");
  char comma[16];
  std::snprintf(comma, sizeof comma, "%.1f", 1.5);
  EXPECT_STREQ(comma, "1,5") << "the locale is in force";

  Open("p");
  Call("HAddFloat", {S("p"), S("f"), FromFloat(1.5f)});
  Call("HAdd", {S("p"), S("g"), S("2.5")});
  const cell ref = script.Array(1);
  Call("HGetFloat", {S("p"), S("g"), ref});
  const float read = AsFloat(script.At(ref));
  Call("HSave", {S("p")});
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(Get("p", "f"), "1.500000");
  EXPECT_EQ(read, 2.5f);
  EXPECT_EQ(Read("scriptfiles/f.txt"), "f\n1.500000\ng\n2.5\n");
}

// A log hook may run script code; here it closes the pool while HLoad and
// HSave log. Neither may touch the pool afterwards.
TEST_F(NativesTest, ALogHookThatClosesThePool) {
  static Script* hooked;
  static bool closing;
  struct Hook {
    static void Log(const char*, ...) {
      if (closing) hooked->Call("HClose", {hooked->Str("p")});
    }
  };
  hooked = &script;
  closing = false;
  host.pluginData[0] = reinterpret_cast<void*>(&Hook::Log);
  ASSERT_TRUE(host.Load());
  Write("scriptfiles/f.txt", "k\nv\n");
  Open("p");
  closing = true;
  EXPECT_EQ(Call("HLoad", {S("p"), S("f.txt")}), 0) << "closed while loading";
  EXPECT_EQ(Call("HGetInt", {S("p"), S("k")}), 0);
  closing = false;
  Open("p");
  Call("HAdd", {S("p"), S("k"), S("new")});
  closing = true;
  EXPECT_EQ(Call("HSave", {S("p")}), 0) << "closed while saving";
  closing = false;
  EXPECT_EQ(Read("scriptfiles/f.txt"), "k\nv\n");
}

// Failed loads and saves return 0 and add a line with a reason; a missing
// file is no failure. A save that left entries out says how many.
TEST_F(NativesTest, FailuresReachTheLog) {
  ASSERT_EQ(mkdir("scriptfiles/dir.txt", 0777), 0);
  EXPECT_EQ(Call("HLoad", {S("p"), S("dir.txt")}), 0);
  EXPECT_EQ(Call("HSave", {S("p")}), 0);
  EXPECT_EQ(Call("HLoad", {S("q"), S("missing.txt")}), 1);
  Call("HAdd", {S("q"), S("k"), S("line\nfeed")});
  Call("HAdd", {S("q"), S("ok"), S("1")});
  EXPECT_EQ(Call("HSave", {S("q")}), 1);
  EXPECT_EQ(
      PluginHost::log(),
      (Lines{"Loading hash p from scriptfiles/dir.txt",
             "Loading hash p from scriptfiles/dir.txt failed: Is a directory", "Saving hash p to ",
             "Saving hash p to scriptfiles/dir.txt failed: no file bound since loading it "
             "failed",
             "Loading hash q from scriptfiles/missing.txt",
             "Saving hash q to scriptfiles/missing.txt",
             "Saving hash q to scriptfiles/missing.txt: 1 entries not written (a key or value "
             "holds a line feed, or a key is empty)"}));
}

// A journal that another pool owns, or something else in its place, is
// neither taken, followed nor waited on: the pool opens without one. A load
// without a journal says that one is waiting.
TEST_F(NativesTest, JournalsThatCannotBeUsed) {
  const std::string line = "Loading hash p from scriptfiles/f.txt: ";
  const struct {
    std::function<int()> plant;
    std::string log;
  } cases[] = {
      {[&] {
         return Call("HLoad", {S("owner"), S("f.txt"), 1}) == 1 ? 0 : -1;
       },
       line + "scriptfiles/f.txt.journal belongs to another pool; this one is not journaled"},
      {[] { return symlink("elsewhere", "scriptfiles/f.txt.journal"); },
       line + "journaling failed: Too many levels of symbolic links"},
      {[] { return mkfifo("scriptfiles/f.txt.journal", 0666); },
       line + "journaling failed: Invalid argument"},
      // Another pool's saved file, or anything else without the mark.
      {[] { return Write("scriptfiles/f.txt.journal", "k\nv\n"), 0; },
       line + "scriptfiles/f.txt.journal is not a journal (it lacks the journal's mark); this one "
              "is not journaled"},
      {[] { return Write("scriptfiles/f.txt.journal", std::string("PVJOURN\x02", 8)), 0; },
       line + "scriptfiles/f.txt.journal was written by a newer journal format; this one is not "
              "journaled"},
      {[] {
         return Write("outside.txt", std::string(35, 'o')),
                link("outside.txt", "scriptfiles/f.txt.journal");
       },
       line + "scriptfiles/f.txt.journal has other names (hard links); this one is not journaled"},
  };
  for (const auto& c : cases) {
    Call("HClose", {S("owner")});
    std::filesystem::remove_all("scriptfiles/f.txt.journal");
    ASSERT_EQ(c.plant(), 0);
    const bool file = std::filesystem::is_regular_file("scriptfiles/f.txt.journal");
    const std::string planted = file ? Read("scriptfiles/f.txt.journal") : "";
    EXPECT_EQ(Call("HLoad", {S("p"), S("f.txt"), 1}), 0);
    EXPECT_EQ(PluginHost::log().back(), c.log);
    EXPECT_EQ(Call("HAdd", {S("p"), S("k"), S("v")}), 1) << "open, not journaled";
    Call("HClose", {S("p")});
    if (file) {
      EXPECT_EQ(Read("scriptfiles/f.txt.journal"), planted) << "neither cut nor written";
    }
  }
  EXPECT_FALSE(Exists("scriptfiles/elsewhere"));
  EXPECT_EQ(Read("outside.txt"), std::string(35, 'o'));
  EXPECT_EQ(Call("HLoad", {S("q"), S("a.txt.journal")}), 0);
  EXPECT_EQ(PluginHost::log().back(),
            "Loading hash q from a.txt.journal failed: the name is one of the plugin's own files");
  Call("HLoad", {S("q"), S("g.txt"), 1});
  Call("HAdd", {S("q"), S("k"), S("v")});
  Call("HLoad", {S("r"), S("g.txt")});
  EXPECT_EQ(PluginHost::log().back(),
            "Loading hash r from scriptfiles/g.txt: scriptfiles/g.txt.journal holds changes that "
            "were never saved; loading with journal recovers them");
}

// A journal applies to the version of the file it was started on. When the
// file changed since (saved without the journal, by another server, by
// hand), the journal is set aside unapplied and the pool journals afresh.
TEST_F(NativesTest, JournalOfAnotherVersionIsSetAside) {
  const std::string big(2000, 'x');
  const struct {
    const char* what;
    std::function<void()> change;
    std::string aside;
  } cases[] = {
      {"a set record",
       [&] {
         Call("HAdd", {S("p"), S("k"), S("old")});
       },
       "scriptfiles/f.txt.journal.stale"},
      {"a clearing record, after a rewrite",
       [&] {
         for (int i = 0; i < 600; ++i) {
           script.ResetHeap();
           Call("HAdd", {S("p"), S("k"), S(big)});
         }
       },
       "scriptfiles/f.txt.journal.stale.1"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove("scriptfiles/f.txt");
    ASSERT_EQ(Call("HLoad", {S("p"), S("f.txt"), 1}), 1);
    c.change();
    Restart();
    Open("p");
    Call("HAdd", {S("p"), S("k"), S("new")});
    Call("HAdd", {S("p"), S("a"), S("1")});
    ASSERT_EQ(Call("HSave", {S("p")}), 1);
    Restart();
    EXPECT_EQ(Call("HLoad", {S("p"), S("f.txt"), 1}), 1) << c.what;
    EXPECT_EQ(PluginHost::log().back(),
              "Loading hash p from scriptfiles/f.txt: the file changed since "
              "scriptfiles/f.txt.journal was written; the journal was not applied and is kept as " +
                  c.aside);
    EXPECT_EQ(Call("HCount", {S("p")}), 2) << c.what;
    EXPECT_EQ(Get("p", "k"), "new") << c.what;
    EXPECT_TRUE(Exists(c.aside));
    Call("HAdd", {S("p"), S("later"), S("1")});
    Restart();
    EXPECT_EQ(Call("HLoad", {S("p"), S("f.txt"), 1}), 1);
    EXPECT_EQ(Get("p", "later"), "1") << "journaled afresh";
    Call("HClose", {S("p")});
  }
  // The same when another pool saves the file under an open journal.
  ASSERT_EQ(Call("HLoad", {S("p"), S("f.txt"), 1}), 1);
  Call("HAdd", {S("p"), S("k"), S("mine")});
  Open("q");
  Call("HAdd", {S("q"), S("k"), S("theirs")});
  ASSERT_EQ(Call("HSave", {S("q")}), 1);
  EXPECT_EQ(Call("HLoad", {S("p"), S("f.txt"), 1}), 1);
  EXPECT_EQ(Get("p", "k"), "theirs");
  EXPECT_TRUE(Exists("scriptfiles/f.txt.journal.stale.2"));
}

// A journaled load keeps its journal for the same file and drops it for
// another; entries a load keeps over a missing file are journaled; a torn
// end is cut with one line.
TEST_F(NativesTest, JournaledLoadsOfAnOpenPool) {
  Call("HLoad", {S("pb"), S("pb.txt")});
  Call("HDec", {S("pb"), S("vm"), 1000000000});
  ASSERT_EQ(Call("HLoad", {S("pb"), S("pb.txt"), 1}), 1);
  Call("HAdd", {S("pb"), S("02"), S("=v")});
  ASSERT_EQ(Call("HLoad", {S("p"), S("f.txt"), 1}), 1);
  Call("HAdd", {S("p"), S("a"), S("1")});
  ASSERT_EQ(Call("HLoad", {S("p"), S("f.txt"), 1}), 1);
  EXPECT_EQ(Get("p", "a"), "1") << "the same journal, replayed again";
  Call("HAdd", {S("p"), S("b"), S("2")});
  Restart();
  ASSERT_EQ(Call("HLoad", {S("pb"), S("pb.txt"), 1}), 1);
  EXPECT_EQ(Get("pb", "vm"), "-1000000000");
  EXPECT_EQ(Get("pb", "02"), "=v");
  std::ofstream("scriptfiles/f.txt.journal", std::ios::app) << "torn";
  ASSERT_EQ(Call("HLoad", {S("p"), S("f.txt"), 1}), 1);
  EXPECT_EQ(PluginHost::log().back(),
            "Loading hash p from scriptfiles/f.txt: 4 bytes at the end of "
            "scriptfiles/f.txt.journal dropped (a torn or corrupt record)");
  EXPECT_EQ(Get("p", "b"), "2");
  ASSERT_EQ(Call("HLoad", {S("p"), S("g.txt"), 1}), 1);
  EXPECT_FALSE(Exists("scriptfiles/f.txt.journal")) << "its changes went with the load";
}

// The journal touches no file but its own: one put over its name is neither
// removed nor written through, and a read-only pool file still gets a
// journal its owner can open again.
TEST_F(NativesTest, JournalTouchesOnlyItsOwnFile) {
  ASSERT_EQ(Call("HLoad", {S("p"), S("f.txt"), 1}), 1);
  Call("HAdd", {S("p"), S("k"), S("v")});
  Write("scriptfiles/other", "other");
  ASSERT_EQ(rename("scriptfiles/other", "scriptfiles/f.txt.journal"), 0);
  Call("HClose", {S("p")});
  EXPECT_EQ(Read("scriptfiles/f.txt.journal"), "other");

  Write("outside.txt", "outside");
  ASSERT_EQ(Call("HLoad", {S("q"), S("g.txt"), 1}), 1);
  Call("HAdd", {S("q"), S("k"), S("v")});
  ASSERT_EQ(unlink("scriptfiles/g.txt.journal"), 0);
  ASSERT_EQ(symlink("../outside.txt", "scriptfiles/g.txt.journal"), 0);
  const std::string big(2000, 'x');
  for (int i = 0; i < 600; ++i) {
    script.ResetHeap();
    Call("HAdd", {S("q"), S("k"), S(big)});
  }
  EXPECT_EQ(Read("outside.txt"), "outside") << "a rewrite replaces the link";
  EXPECT_TRUE(std::filesystem::is_regular_file(
      std::filesystem::symlink_status("scriptfiles/g.txt.journal")));

  Write("scriptfiles/ro.txt", "k\n1\n");
  ASSERT_EQ(chmod("scriptfiles/ro.txt", 0444), 0);
  ASSERT_EQ(Call("HLoad", {S("r"), S("ro.txt"), 1}), 1);
  struct stat st;
  ASSERT_EQ(stat("scriptfiles/ro.txt.journal", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(NativesTest, GetIntReadsLeadingNumber) {
  Open("p");
  const std::pair<const char*, cell> cases[] = {
      {"12abc", 12},
      {" 42", 42},
      {"abc", 0},
      {"", 0},
      {"-7", -7},
      {"+8", 8},
      {"99999999999", std::numeric_limits<cell>::max()},
      {"-99999999999", std::numeric_limits<cell>::min()},
  };
  for (const auto& c : cases) {
    Call("HAdd", {S("p"), S("k"), S(c.first)});
    EXPECT_EQ(Call("HGetInt", {S("p"), S("k")}), c.second) << c.first;
  }
}

TEST_F(NativesTest, GetFloat) {
  Open("p");
  const std::pair<const char*, float> cases[] = {
      {"2.5xyz", 2.5f}, {"", 0.0f}, {"abc", 0.0f}, {"0.1", 0.1f}, {"1e39", INFINITY},
  };
  for (const auto& c : cases) {
    Call("HAdd", {S("p"), S("k"), S(c.first)});
    const cell ref = script.Array(1, kCanary);
    EXPECT_EQ(Call("HGetFloat", {S("p"), S("k"), ref}), 1);
    EXPECT_EQ(AsFloat(script.At(ref)), c.second) << c.first;
  }
}

TEST_F(NativesTest, ReadingAMissingKeyAddsIt) {
  Open("p");
  Call("HAdd", {S("p"), S("~"), S("tilde")});  // bucket 126, after m's 109
  const cell ref = script.Array(1, kCanary);
  EXPECT_EQ(Call("HGetFloat", {S("p"), S("m"), ref}), 1);
  EXPECT_EQ(AsFloat(script.At(ref)), 0.0f);
  const cell dest = script.Array(16, kCanary);
  EXPECT_EQ(Call("HGetIndex", {S("p"), 0, dest}), 1);
  EXPECT_EQ(script.Text(dest), "");
  EXPECT_EQ(Call("HGetIndex", {S("p"), 1, dest}), 1);
  EXPECT_EQ(script.Text(dest), "tilde");
}

TEST_F(NativesTest, GetWritesTheTextAndOneZeroCell) {
  Open("p");
  Call("HAdd", {S("p"), S("k"), S("hello")});
  const cell dest = script.Array(8, kCanary);
  EXPECT_EQ(Call("HGet", {S("p"), S("k"), dest}), 1);
  const cell expected[] = {'h', 'e', 'l', 'l', 'o', 0, kCanary, kCanary};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(script.At(dest + 4 * i), expected[i]) << i;
}

// With a size after the destination, at most that many cells are written,
// the last a zero cell; 0 or less writes nothing.
TEST_F(NativesTest, SizedDestinations) {
  Open("p");
  Call("HAdd", {S("p"), S("hello"), S("world")});
  const std::pair<cell, const char*> sizes[] = {
      {-5, nullptr}, {-1, nullptr}, {0, nullptr}, {1, ""},
      {2, "w"},      {5, "worl"},   {6, "world"}, {100, "world"},
  };
  for (const auto& size : sizes) {
    for (const char* native : {"HGet", "HGetIndex", "HGetKey"}) {
      SCOPED_TRACE(std::string(native) + " size " + std::to_string(size.first));
      const cell dest = script.Array(8, kCanary);
      const cell second = std::string(native) == "HGet" ? S("hello") : 0;
      EXPECT_EQ(Call(native, {S("p"), second, dest, size.first}), 1);
      const std::string text = std::string(native) == "HGetKey" ? "hello" : "world";
      const size_t written = size.second ? std::strlen(size.second) + 1 : 0;
      for (size_t i = 0; i < 8; ++i) {
        const cell expected = i + 1 < written ? text[i] : i + 1 == written ? 0 : kCanary;
        EXPECT_EQ(script.At(dest + cell(4 * i)), expected) << i;
      }
    }
  }
  // A size that reaches past the script's memory, or past the top of the
  // address space and round to just below the array, is cut cell by cell.
  const cell pool = S("p"), key = S("hello");
  const struct {
    cell dest;
    cell size;
    const char* text;
  } beyond[] = {
      {script.StackArray(3, kCanary), 1000, "wo"},
      {script.Array(2, kCanary), 0x40000000, "w"},  // the heap's last two cells
  };
  for (const auto& b : beyond) {
    EXPECT_EQ(Call("HGet", {pool, key, b.dest, b.size}), 1);
    EXPECT_EQ(script.Text(b.dest), b.text) << b.size;
  }
}

// Keys and values walk together by position; asking whether a key exists,
// reading keys and counting add nothing and never change the order.
TEST_F(NativesTest, KeysValuesExistenceAndCount) {
  Open("p");
  EXPECT_EQ(Call("HCount", {S("p")}), 0);
  for (int i = 0; i < 193; ++i) {
    script.ResetHeap();
    Call("HAddInt", {S("p"), S(std::to_string(i)), i});
  }
  auto walk = [&] {
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < 194; ++i) {
      script.ResetHeap();
      const cell key = script.Array(16), value = script.Array(16);
      EXPECT_EQ(Call("HGetKey", {S("p"), i, key, 16}), 1);
      EXPECT_EQ(Call("HGetIndex", {S("p"), i, value, 16}), 1);
      entries.emplace_back(script.Text(key), script.Text(value));
    }
    return entries;
  };
  const auto before = walk();
  EXPECT_EQ(before.back(), std::make_pair(std::string(), std::string())) << "past the end";
  for (int i = 0; i < 193; ++i) {
    EXPECT_EQ(before[size_t(i)].first, before[size_t(i)].second) << "each key holds itself";
  }
  script.ResetHeap();
  EXPECT_EQ(Call("HExists", {S("p"), S("7")}), 1);
  EXPECT_EQ(Call("HExists", {S("p"), S("missing")}), 0);
  EXPECT_EQ(Call("HExists", {S("p"), S("")}), 0);
  EXPECT_EQ(Call("HCount", {S("p")}), 193);
  EXPECT_EQ(walk(), before) << "asking grew or reordered the pool";
  EXPECT_EQ(Get("p", "7"), "7");
  EXPECT_NE(walk(), before) << "a read of a present key grows the pool";
  EXPECT_EQ(Call("HCount", {S("p")}), 193);
}

TEST_F(NativesTest, IncAndDecTakeTheAmountOnlyAsThirdArgument) {
  Open("p");
  const struct {
    const char* native;
    cell byteCount;
    cell amount;
    cell expected;
  } steps[] = {
      {"HInc", 8, 99, 1},   {"HInc", 12, 5, 6},  {"HDec", 8, 99, 5},
      {"HDec", 12, 10, -5}, {"HInc", 16, 7, -4},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(script.CallWithCount(s.native, s.byteCount, {S("p"), S("c"), s.amount, 0}), 1);
    EXPECT_EQ(Call("HGetInt", {S("p"), S("c")}), s.expected) << s.native << " " << s.byteCount;
  }
  Call("HAdd", {S("p"), S("c"), S("1.5")});
  EXPECT_EQ(Call("HInc", {S("p"), S("c")}), 0) << "refused: nothing counted";
  EXPECT_EQ(Call("HDec", {S("p"), S("c"), 2}), 0);
}

TEST_F(NativesTest, GetIndexAtMinusOneWritesEmptyText) {
  Open("p");
  Call("HAdd", {S("p"), S("k"), S("v")});
  const cell dest = script.Array(4, kCanary);
  EXPECT_EQ(Call("HGetIndex", {S("p"), -1, dest}), 1);
  EXPECT_EQ(script.At(dest), 0);
  EXPECT_EQ(script.At(dest + 4), kCanary);
  EXPECT_EQ(Call("HGetIndex", {S("p"), 0, dest}), 1);
  EXPECT_EQ(script.Text(dest), "v");
}

TEST_F(NativesTest, DelRemovesTheKey) {
  Open("p");
  Call("HAdd", {S("p"), S("k"), S("v")});
  EXPECT_EQ(Call("HDel", {S("p"), S("k")}), 1);
  EXPECT_EQ(Call("HDel", {S("p"), S("k")}), 1);
  const cell dest = script.Array(4, kCanary);
  Call("HGetIndex", {S("p"), 0, dest});
  EXPECT_EQ(script.At(dest), 0);
}

TEST_F(NativesTest, TooFewArgumentsTouchNothing) {
  Open("p");
  Call("HAdd", {S("p"), S("k"), S("v")});
  const cell dest = script.Array(4, kCanary);
  EXPECT_EQ(script.CallWithCount("HGet", 8, {S("p"), S("k"), dest}), 0);
  EXPECT_EQ(script.CallWithCount("HAdd", 8, {S("p"), S("k"), S("w")}), 0);
  EXPECT_EQ(script.CallWithCount("HLoad", 4, {S("q"), S("f")}), 0);
  EXPECT_EQ(script.CallWithCount("HInc", 4, {S("p"), S("k")}), 0);
  EXPECT_EQ(script.At(dest), kCanary);
  EXPECT_EQ(Get("p", "k"), "v");
}

TEST_F(NativesTest, TwoScriptsShareAPoolAndUnloadSavesNothing) {
  Script second;
  ASSERT_EQ(host.AmxLoad(second.amx()), 0);
  Open("shared", "shared.txt");
  EXPECT_EQ(second.Call("HAdd", {second.Str("shared"), second.Str("k"), second.Str("v")}), 1);
  EXPECT_EQ(Get("shared", "k"), "v");
  EXPECT_EQ(host.AmxUnload(second.amx()), 0);
  EXPECT_EQ(Get("shared", "k"), "v") << "pools outlive the script";
  host.Unload();
  EXPECT_FALSE(Exists("scriptfiles/shared.txt"));
  EXPECT_EQ(PluginHost::log().back(), "Plugin pairvault.dll got unloaded.");
  ASSERT_TRUE(host.Load());
  EXPECT_EQ(Call("HGetInt", {S("shared"), S("k")}), 0) << "no pool after Unload";
}

TEST_F(NativesTest, TypicalRoad) {
  EXPECT_EQ(Call("HLoad", {S("scores"), S("scores.txt")}), 1);
  EXPECT_EQ(Call("HAddInt", {S("scores"), S("alice"), 10}), 1);
  EXPECT_EQ(Call("HInc", {S("scores"), S("alice")}), 1);
  EXPECT_EQ(Call("HGetInt", {S("scores"), S("alice")}), 11);
  const cell dest = script.Array(16);
  EXPECT_EQ(Call("HGetIndex", {S("scores"), 0, dest}), 1);
  EXPECT_EQ(script.Text(dest), "11");
  EXPECT_EQ(Call("HSave", {S("scores")}), 1);
  EXPECT_EQ(Read("scriptfiles/scores.txt"), "alice\n11\n");
  EXPECT_EQ(Call("HClose", {S("scores")}), 1);
  EXPECT_EQ(Call("HGetInt", {S("scores"), S("alice")}), 0);
  EXPECT_EQ(Call("HLoad", {S("scores"), S("scores.txt")}), 1);
  EXPECT_EQ(Call("HGetInt", {S("scores"), S("alice")}), 11);
}

}  // namespace
