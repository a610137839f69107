// A pseudo-terminal, and forked children that read keys with it as their
// controlling terminal, so the test process never touches its own terminal.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <string>
#include <vector>

class Pty {
 public:
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return m_slave >= 0; }
  int slave() const { return m_slave; }

  termios settings() const;
  bool apply(const termios& settings) const;
  // Bytes as if typed on the keyboard.
  bool type(const std::string& bytes) const;
  // Waits a few seconds at most for the settings to differ from `from`.
  bool waitForChange(const termios& from, termios* now) const;
  // Up to `count` bytes the terminal wrote back, waiting `ms` at most.
  std::string output(size_t count, int ms) const;

 private:
  int m_master = -1;
  int m_slave = -1;
};

// Where a child's standard input comes from: the pty, or a pipe or regular
// file that each hold a byte.
enum class Input { kTerminal, kPipe, kFile, kClosed };

using KeyFunction = int (*)();

// A child with the pty as controlling terminal, stdout and stderr, that makes
// `calls` ('g': getch, 'k': kbhit) in order and reports each result.
class KeyChild {
 public:
  KeyChild(const Pty& pty, Input input, const char* calls, KeyFunction getch, KeyFunction kbhit);
  ~KeyChild();
  KeyChild(const KeyChild&) = delete;
  KeyChild& operator=(const KeyChild&) = delete;

  // Sends SIGUSR1 until the child reports: one that lands before the read
  // begins interrupts nothing.
  bool interruptRead();

  struct Outcome {
    std::vector<int> results;
    std::string ending;  // Empty for a clean exit.
  };
  // Waits for the child, killing it past a deadline.
  Outcome finish();

 private:
  pid_t m_pid = -1;
  int m_report = -1;
};
