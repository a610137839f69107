// The operator's shell: lines become native calls with real arguments.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "NativeShell.h"
#include "NativesFixture.h"

namespace {

std::string RunLines(Script& script, const std::vector<std::string>& lines, bool* ok) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  NativeShell shell(script, out);
  *ok = true;
  for (const auto& line : lines) *ok = shell.Run(line) && *ok;
  std::fclose(out);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

TEST_F(NativesTest, ShellRunsNativeCalls) {
  bool ok = false;
  const std::string out =
      RunLines(script,
               {"HLoad scores scores.txt", "HAdd scores \"two words\" \"a\\nb\"",
                "HAddFloat scores f 2.5", "HGetFloat scores f", "HInc scores n 5", "HGet scores n",
                "HGet scores f 4", "HExists scores nope", "HCount scores", "# a comment", "",
                "HSave scores", "show scores.txt"},
               &ok);
  EXPECT_TRUE(ok) << out;
  EXPECT_NE(out.find("  log: Loading hash scores from scriptfiles/scores.txt\n"),
            std::string::npos);
  EXPECT_NE(out.find("> HGetFloat scores f\n  = 1  value 2.5\n"), std::string::npos) << out;
  EXPECT_NE(out.find("> HGet scores n\n  = 1  dest \"5\"\n"), std::string::npos) << out;
  EXPECT_NE(out.find("> HGet scores f 4\n  = 1  dest \"2.5\"\n"), std::string::npos) << out;
  EXPECT_NE(out.find("> HExists scores nope\n  = 0\n> HCount scores\n  = 3\n"), std::string::npos)
      << out;
  EXPECT_EQ(Read("scriptfiles/scores.txt").find("two words"), std::string::npos)
      << "a value with a line feed is not saved";
  EXPECT_NE(out.find("  | f\n  | 2.500000\n"), std::string::npos) << out;
}

TEST_F(NativesTest, ShellRejectsWhatItCannotRun) {
  for (const char* line :
       {"HNope x", "HGet onlyone", "HAdd p \"open", "HInc p k 1 2", "HGetKey p 0 9 9"}) {
    bool ok = true;
    const std::string out = RunLines(script, {line}, &ok);
    EXPECT_FALSE(ok) << line;
    EXPECT_NE(out.find("! "), std::string::npos) << line;
  }
}

}  // namespace
