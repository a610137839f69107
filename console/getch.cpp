#include "getch.h"

#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Switches the terminal on standard input to single keys for the lifetime of
// the object: no line editing, so a key counts before Enter; no echo; and ^C
// arrives as a byte instead of a signal.
class KeyMode {
 public:
  KeyMode() {
    if (!isatty(0) || tcgetattr(0, &m_saved) < 0) return;
    termios work = m_saved;
    work.c_lflag &= ~(ISIG | ICANON | ECHO);
    work.c_cc[VMIN] = 1;
    work.c_cc[VTIME] = 0;
    m_changed = tcsetattr(0, TCSANOW, &work) >= 0;
  }

  ~KeyMode() {
    if (!m_changed) return;
    // A caught signal must not leave the terminal without echo.
    while (tcsetattr(0, TCSANOW, &m_saved) < 0 && errno == EINTR) {
    }
  }

  KeyMode(const KeyMode&) = delete;
  KeyMode& operator=(const KeyMode&) = delete;

  bool changed() const { return m_changed; }

 private:
  termios m_saved;
  bool m_changed = false;
};

}  // namespace

PLUGIN_EXPORT int getch() {
  KeyMode mode;
  if (!mode.changed()) return -1;
  unsigned char byte;
  // Not retried on EINTR, so a signal always gets the caller out of the wait.
  if (read(0, &byte, 1) != 1) return -1;
  return byte;
}

PLUGIN_EXPORT int kbhit() {
  timeval zero = {0, 0};
  KeyMode mode;
  if (!mode.changed()) return 0;
  fd_set keys;
  FD_ZERO(&keys);
  FD_SET(0, &keys);
  return select(1, &keys, nullptr, nullptr, &zero) == 1 ? 1 : 0;
}
