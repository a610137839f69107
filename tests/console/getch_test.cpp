#include "getch.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "PluginHost.h"
#include "Pty.h"

namespace {

using Results = std::vector<int>;

// The routines linked in, or the plugin's exports loaded the host's way.
enum class Build { kLinked, kPlugin };

void PrintTo(Build build, std::ostream* out) {
  *out << (build == Build::kLinked ? "Linked" : "Plugin");
}

// Cooked: a fresh pty's settings (echo, line editing and signal keys on, VMIN
// 1, VTIME 0). Quiet differs in every kind of field, so restoring fixed values
// instead of the saved ones would show.
enum class Start { kCooked, kQuiet };

termios Quiet(termios t) {
  t.c_iflag = (t.c_iflag & ~IXON) | IGNBRK;
  t.c_oflag &= ~ONLCR;
  t.c_cflag &= ~HUPCL;
  t.c_lflag &= ~(ECHO | IEXTEN);
  t.c_cc[VMIN] = 4;
  t.c_cc[VTIME] = 2;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  return t;
}

// What the routines read with.
termios KeyMode(termios t) {
  t.c_lflag &= ~(ISIG | ICANON | ECHO);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return t;
}

void ExpectSettings(const termios& actual, const termios& expected) {
  EXPECT_EQ(actual.c_iflag, expected.c_iflag);
  EXPECT_EQ(actual.c_oflag, expected.c_oflag);
  EXPECT_EQ(actual.c_cflag, expected.c_cflag);
  EXPECT_EQ(actual.c_lflag, expected.c_lflag);
  EXPECT_EQ(std::vector<cc_t>(actual.c_cc, actual.c_cc + NCCS),
            std::vector<cc_t>(expected.c_cc, expected.c_cc + NCCS));
  EXPECT_EQ(cfgetispeed(&actual), cfgetispeed(&expected));
  EXPECT_EQ(cfgetospeed(&actual), cfgetospeed(&expected));
}

class Keys : public testing::TestWithParam<Build> {
 protected:
  void SetUp() override {
    if (GetParam() == Build::kLinked) {
      m_getch = &getch;
      m_kbhit = &kbhit;
      return;
    }
    m_host = std::make_unique<PluginHost>();
    m_getch = m_host->function<KeyFunction>("getch");
    m_kbhit = m_host->function<KeyFunction>("kbhit");
    ASSERT_NE(m_getch, nullptr);
    ASSERT_NE(m_kbhit, nullptr);
  }

  // The pty's settings once set up to start as asked.
  static bool Prepare(const Pty& pty, Start start, termios* before) {
    if (!pty.ok()) return false;
    if (start == Start::kQuiet && !pty.apply(Quiet(pty.settings()))) return false;
    *before = pty.settings();
    return true;
  }

  std::unique_ptr<PluginHost> m_host;
  KeyFunction m_getch = nullptr;
  KeyFunction m_kbhit = nullptr;
};

TEST_P(Keys, GetchTakesOneKeyWithoutEchoOrSignal) {
  constexpr int kSignal = -1;  // A caught signal instead of a key.
  const struct {
    const char* name;
    Start start;
    int key;
    Results expected;
  } cases[] = {
      {"letter", Start::kCooked, 'a', {'a'}},
      {"interrupt character", Start::kCooked, 3, {3}},
      {"byte 0xFF", Start::kCooked, 0xFF, {255}},
      {"letter, quiet start", Start::kQuiet, 'z', {'z'}},
      {"signal while waiting", Start::kCooked, kSignal, {-1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pty pty;
    termios before;
    ASSERT_TRUE(Prepare(pty, c.start, &before));
    KeyChild child(pty, Input::kTerminal, "g", m_getch, m_kbhit);

    termios during;
    ASSERT_TRUE(pty.waitForChange(before, &during)) << "getch never switched the terminal";
    ExpectSettings(during, KeyMode(before));
    if (c.key == kSignal) {
      ASSERT_TRUE(child.interruptRead());
    } else {
      ASSERT_TRUE(pty.type(std::string(1, static_cast<char>(c.key))));
    }

    KeyChild::Outcome outcome = child.finish();
    EXPECT_EQ(outcome.ending, "");
    EXPECT_EQ(outcome.results, c.expected);
    EXPECT_EQ(pty.output(1, 100), "");
    ExpectSettings(pty.settings(), before);
  }
}

TEST_P(Keys, KbhitSeesAWaitingKeyWithoutTakingIt) {
  const struct {
    const char* name;
    Start start;
    const char* typed;  // Before the child starts, while the terminal echoes.
    const char* calls;
    Results expected;
  } cases[] = {
      {"idle", Start::kCooked, "", "k", {0}},
      {"idle, quiet start", Start::kQuiet, "", "k", {0}},
      {"key waiting, no Enter", Start::kCooked, "q", "kkg", {1, 1, 'q'}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pty pty;
    termios before;
    ASSERT_TRUE(Prepare(pty, c.start, &before));
    ASSERT_TRUE(pty.type(c.typed));
    // The echo shows the terminal has taken the key in.
    ASSERT_EQ(pty.output(std::string(c.typed).size(), 5000), c.typed);

    KeyChild::Outcome outcome = KeyChild(pty, Input::kTerminal, c.calls, m_getch, m_kbhit).finish();
    EXPECT_EQ(outcome.ending, "");
    EXPECT_EQ(outcome.results, c.expected);
    ExpectSettings(pty.settings(), before);
  }
}

TEST_P(Keys, NothingHappensWhenStandardInputIsNoTerminal) {
  const struct {
    const char* name;
    Input input;
  } cases[] = {
      {"pipe", Input::kPipe},
      {"regular file", Input::kFile},
      {"closed", Input::kClosed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The pty is still the child's controlling terminal and stdout.
    Pty pty;
    termios before;
    ASSERT_TRUE(Prepare(pty, Start::kCooked, &before));

    KeyChild::Outcome outcome = KeyChild(pty, c.input, "gk", m_getch, m_kbhit).finish();
    EXPECT_EQ(outcome.ending, "");
    EXPECT_EQ(outcome.results, (Results{-1, 0}));
    ExpectSettings(pty.settings(), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Console, Keys, testing::Values(Build::kLinked, Build::kPlugin));

}  // namespace
