#include "JournalSyncer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <new>

#include "FileStatus.h"
#include "OldThreads.h"

namespace {

typedef JournalSyncer::Slot Slot;

std::atomic_flag g_lock = ATOMIC_FLAG_INIT;
Slot* g_slots = nullptr;
JournalSyncer::Stats g_stats = {};
// The server's thread alone starts and stops the thread.
pthread_t g_thread;
bool g_running = false;
bool g_forkHandlers = false;
std::atomic<bool> g_stopping{false};
int g_wake[2] = {-1, -1};

// Held for a few instructions at a time, so a spin is cheaper than a mutex
// and needs nothing from the threads library.
struct Lock {
  Lock() {
    while (g_lock.test_and_set(std::memory_order_acquire)) sched_yield();
  }
  ~Lock() { g_lock.clear(std::memory_order_release); }
};

uint64_t NowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return uint64_t(t.tv_sec) * 1000000 + uint32_t(t.tv_nsec) / 1000u;
}

// Unlinks a forgotten slot that no sync uses; its descriptor is closed by the
// caller, outside the lock.
Slot* Unlink(Slot* slot) {
  for (Slot** link = &g_slots; *link; link = &(*link)->next) {
    if (*link == slot) {
      *link = slot->next;
      return slot;
    }
  }
  return nullptr;
}

void Free(Slot* slot) {
  if (!slot) return;
  close(slot->fd);
  delete slot;
}

int SyncFile(int fd) {
  int result;
  do {
    result = fdatasync(fd);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : errno;
}

int SyncFileSystem(int fd) { return syncfs(fd) == 0 ? 0 : errno; }

void Pass() {
  Slot* batch = nullptr;
  {
    Lock lock;
    for (Slot* s = g_slots; s; s = s->next) {
      const uint32_t appended = s->appended.load(std::memory_order_acquire);
      if (s->forgotten || appended == s->synced) continue;
      s->busy = true;
      s->taking = appended;
      s->batch = batch;
      batch = s;
    }
  }
  if (!batch) return;
  const uint64_t start = NowUs();
  uint64_t syncs = 0, failures = 0;
  // Slots already synced by their file system's sync are marked with it.
  for (Slot* s = batch; s; s = s->batch) s->taken = false;
  for (Slot* s = batch; s; s = s->batch) {
    if (s->taken) continue;
    const int error = batch->batch ? SyncFileSystem(s->fd) : SyncFile(s->fd);
    ++syncs;
    failures += error != 0;
    for (Slot* same = s; same; same = same->batch) {
      if (same->taken || same->device != s->device) continue;
      same->taken = true;
      // Retrying a failed sync may report success for pages it dropped: the
      // journal hears of the failure and stops.
      if (error) same->error.store(error, std::memory_order_relaxed);
    }
  }
  Slot* freed = nullptr;
  {
    Lock lock;
    for (Slot* s = batch; s; s = s->batch) {
      s->busy = false;
      s->synced = s->taking;
    }
    for (Slot *s = batch, *next; s; s = next) {
      next = s->batch;
      if (s->forgotten && Unlink(s)) {
        s->batch = freed;
        freed = s;
      }
    }
    ++g_stats.passes;
    g_stats.syncs += syncs;
    g_stats.failures += failures;
    const uint64_t took = NowUs() - start;
    if (took > g_stats.longestPassUs) g_stats.longestPassUs = took;
  }
  for (Slot *s = freed, *next; s; s = next) {
    next = s->batch;
    Free(s);
  }
}

void* Run(void*) {
  for (;;) {
    pollfd wake = {g_wake[0], POLLIN, 0};
    (void)poll(&wake, 1, JournalSyncer::kTickMs);
    const bool stopping = g_stopping.load(std::memory_order_acquire);
    Pass();
    if (stopping) return nullptr;
  }
}

// A fork copies no thread but the one that forked: the child starts its own
// when it next opens a journal. The lock is held across the fork, so that the
// child never finds it taken by a thread it does not have.
void BeforeFork() {
  while (g_lock.test_and_set(std::memory_order_acquire)) sched_yield();
}
void AfterForkInParent() { g_lock.clear(std::memory_order_release); }
void AfterForkInChild() {
  for (Slot* s = g_slots; s; s = s->next) s->busy = false;
  if (g_running) {
    close(g_wake[0]);
    close(g_wake[1]);
    g_running = false;
  }
  g_lock.clear(std::memory_order_release);
}

void Start() {
  if (g_running) return;
  if (!g_forkHandlers) {
    g_forkHandlers =
        __register_atfork(BeforeFork, AfterForkInParent, AfterForkInChild, &__dso_handle) == 0;
    if (!g_forkHandlers) return;
  }
  if (pipe2(g_wake, O_CLOEXEC) != 0) return;
  g_stopping.store(false);
  // The server's signals are for its own threads.
  sigset_t all, before;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, &before);
  g_running = pthread_create(&g_thread, nullptr, Run, nullptr) == 0;
  sigprocmask(SIG_SETMASK, &before, nullptr);
  if (!g_running) {
    close(g_wake[0]);
    close(g_wake[1]);
  }
}

}  // namespace

JournalSyncer::Slot* JournalSyncer::Watch(int fd, const char* path) {
  Slot* slot = new (std::nothrow) Slot;
  if (!slot) return nullptr;
  // A descriptor of its own, closed only here: the journal's may be closed
  // and its number reused for another file while a sync is under way. Opened
  // anew rather than duplicated, so that whoever watches opens and syncs
  // sees one file.
  slot->fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st, held;
  if (slot->fd < 0 || DescriptorStatus(slot->fd, &st) != 0 || DescriptorStatus(fd, &held) != 0 ||
      st.st_ino != held.st_ino || st.st_dev != held.st_dev) {
    if (slot->fd >= 0) close(slot->fd);
    delete slot;
    return nullptr;
  }
  slot->device = uint64_t(st.st_dev);
  {
    Lock lock;
    slot->next = g_slots;
    g_slots = slot;
  }
  Start();
  return slot;
}

void JournalSyncer::Forget(Slot* slot) {
  if (!slot) return;
  Slot* unused = nullptr;
  {
    Lock lock;
    slot->forgotten = true;
    if (!slot->busy) unused = Unlink(slot);
  }
  Free(unused);
}

void JournalSyncer::Stop() {
  if (!g_running) return;
  g_stopping.store(true, std::memory_order_release);
  (void)!write(g_wake[1], "", 1);
  pthread_join(g_thread, nullptr);
  close(g_wake[0]);
  close(g_wake[1]);
  g_running = false;
}

JournalSyncer::Stats JournalSyncer::Totals() {
  Lock lock;
  return g_stats;
}
