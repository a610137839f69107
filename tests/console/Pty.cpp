#include "Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

// Generous for qemu; a hung child fails its test instead of hanging ctest.
constexpr int kChildSeconds = 5;
constexpr auto kParentDeadline = std::chrono::seconds(10);

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void Interrupted(int) {}

// Padding and fields the kernel does not keep aside.
bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc) &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// A failed setup shows as an exit code from 90 up.
[[noreturn]] void RunChild(int slave, Input input, int inputFd, const char* calls,
                           KeyFunction getch, KeyFunction kbhit, int report) {
  // Whoever started the tests may have ignored or blocked these.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGINT, SIG_DFL);
  signal(SIGALRM, SIG_DFL);
  struct sigaction interrupt = {};
  interrupt.sa_handler = Interrupted;  // No SA_RESTART: the read fails with EINTR.
  sigaction(SIGUSR1, &interrupt, nullptr);
  alarm(kChildSeconds);

  // Controlling terminal and foreground, so ^C would raise SIGINT here.
  if (setsid() < 0 || ioctl(slave, TIOCSCTTY, 0) < 0) _exit(90);
  if (dup2(slave, 1) < 0 || dup2(slave, 2) < 0) _exit(91);
  if (input == Input::kClosed) {
    close(0);
  } else if (dup2(input == Input::kTerminal ? slave : inputFd, 0) < 0) {
    _exit(92);
  }
  for (const char* call = calls; *call; ++call) {
    int result = *call == 'g' ? getch() : kbhit();
    if (write(report, &result, sizeof result) != sizeof result) _exit(93);
  }
  _exit(0);
}

// A pipe or regular file with one byte to read, for the non-terminal inputs.
int InputFd(Input input) {
  if (input == Input::kPipe) {
    int fds[2];
    if (pipe(fds) < 0) return -1;
    bool written = write(fds[1], "x", 1) == 1;
    close(fds[1]);
    if (written) return fds[0];
    close(fds[0]);
    return -1;
  }
  if (input == Input::kFile) {
    FILE* file = std::tmpfile();
    if (!file) return -1;
    int fd = dup(fileno(file));
    std::fclose(file);
    if (fd >= 0 && pwrite(fd, "x", 1, 0) != 1) {
      close(fd);
      fd = -1;
    }
    return fd;
  }
  return -1;
}

}  // namespace

Pty::Pty() {
  m_master = posix_openpt(O_RDWR | O_NOCTTY);
  if (m_master < 0 || grantpt(m_master) < 0 || unlockpt(m_master) < 0) return;
  const char* name = ptsname(m_master);
  if (name) m_slave = open(name, O_RDWR | O_NOCTTY);
}

Pty::~Pty() {
  if (m_slave >= 0) close(m_slave);
  if (m_master >= 0) close(m_master);
}

termios Pty::settings() const {
  termios now = {};
  tcgetattr(m_slave, &now);
  return now;
}

bool Pty::apply(const termios& settings) const {
  return tcsetattr(m_slave, TCSANOW, &settings) == 0;
}

bool Pty::type(const std::string& bytes) const {
  return write(m_master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

bool Pty::waitForChange(const termios& from, termios* now) const {
  auto deadline = Clock::now() + std::chrono::seconds(kChildSeconds);
  do {
    if (tcgetattr(m_slave, now) == 0 && !SameSettings(*now, from)) return true;
    usleep(1000);
  } while (Clock::now() < deadline);
  return false;
}

std::string Pty::output(size_t count, int ms) const {
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  std::string out;
  pollfd master = {m_master, POLLIN, 0};
  while (out.size() < count && poll(&master, 1, MsLeft(deadline)) > 0) {
    char buffer[64];
    ssize_t n = read(m_master, buffer, std::min(sizeof buffer, count - out.size()));
    if (n <= 0) break;
    out.append(buffer, n);
  }
  return out;
}

KeyChild::KeyChild(const Pty& pty, Input input, const char* calls, KeyFunction getch,
                   KeyFunction kbhit) {
  int report[2];
  if (pipe(report) < 0) return;
  int inputFd = InputFd(input);
  m_pid = fork();
  if (m_pid == 0) {
    close(report[0]);
    RunChild(pty.slave(), input, inputFd, calls, getch, kbhit, report[1]);
  }
  close(report[1]);
  if (inputFd >= 0) close(inputFd);
  if (m_pid > 0) {
    m_report = report[0];
  } else {
    close(report[0]);
  }
}

KeyChild::~KeyChild() {
  if (m_pid > 0) finish();
}

bool KeyChild::interruptRead() {
  auto deadline = Clock::now() + std::chrono::seconds(kChildSeconds);
  pollfd report = {m_report, POLLIN, 0};
  while (m_pid > 0 && Clock::now() < deadline) {
    if (kill(m_pid, SIGUSR1) < 0) return false;
    if (poll(&report, 1, 20) != 0) return true;
  }
  return false;
}

KeyChild::Outcome KeyChild::finish() {
  Outcome outcome;
  if (m_pid <= 0) return {{}, "not started"};
  auto deadline = Clock::now() + kParentDeadline;
  std::string bytes;
  pollfd report = {m_report, POLLIN, 0};
  bool timedOut = true;
  while (poll(&report, 1, MsLeft(deadline)) > 0) {
    char buffer[64];
    ssize_t n = read(m_report, buffer, sizeof buffer);
    if (n <= 0) {
      timedOut = false;
      break;
    }
    bytes.append(buffer, n);
  }
  if (timedOut) kill(m_pid, SIGKILL);
  int status = 0;
  waitpid(m_pid, &status, 0);
  close(m_report);
  m_pid = -1;

  for (size_t at = 0; at + sizeof(int) <= bytes.size(); at += sizeof(int)) {
    int result;
    std::memcpy(&result, bytes.data() + at, sizeof result);
    outcome.results.push_back(result);
  }
  if (timedOut) {
    outcome.ending = "timed out";
  } else if (WIFSIGNALED(status)) {
    outcome.ending = std::string("killed by ") + strsignal(WTERMSIG(status));
  } else if (WEXITSTATUS(status) != 0) {
    outcome.ending = "exit code " + std::to_string(WEXITSTATUS(status));
  }
  return outcome;
}
