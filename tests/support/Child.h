// Runs part of a test in a forked child, for conditions that must not reach
// the test process itself: resource limits, another user, ignored signals.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

// The body's result becomes the child's exit code; -1 when the child died of
// a signal.
template <typename Body>
int InChild(Body body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The same, after dropping root for the unprivileged user "nobody"; 99 when
// that is not possible.
template <typename Body>
int InChildAsNobody(Body body) {
  return InChild([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0) return 99;
    return body();
  });
}
