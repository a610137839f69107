// Makes journals' records durable from a thread of its own, so that a power
// cut costs at most about the last second of changes and the server's thread
// never waits for the disk.
//
// Each journal file has a slot: a descriptor of its own on it, which only the
// syncer closes, so that a sync never reaches a file the journal has since
// replaced or closed, and a count of appends. The server's thread counts an
// append without a lock; the thread wakes every kTick and syncs the slots
// with appends not yet synced, reporting a failed sync to their journals.
// The lock guards the list and is never held across a sync.
//
// One journal to sync gets a fdatasync; more get one syncfs for each file
// system they are on. On ext4 on a virtual disk a pass over 1,000 journals
// took 124 ms to 3.9 s with a fdatasync each (0.14 to 3.9 ms apiece, as
// the disk was busy or not) and 9 to 30 ms with one syncfs, 6 to 14 times
// less from 10 journals on (bench/sync_bench.cpp). A syncfs that fails
// stops every journal it synced, since it cannot say whose data was lost;
// kernels before 5.8 do not report its failures at all.
#pragma once

#include <atomic>
#include <cstdint>

class JournalSyncer {
 public:
  static const int kTickMs = 200;

  struct Slot {
    int fd = -1;
    uint64_t device = 0;  // of the file system it is on
    std::atomic<uint32_t> appended{0};
    std::atomic<int> error{0};  // of a failed sync, until the journal takes it
    // The syncer's own, under its lock.
    uint32_t synced = 0;
    uint32_t taking = 0;
    bool busy = false;       // being synced outside the lock
    bool forgotten = false;  // its journal is done with it
    bool taken = false;      // synced in this pass
    Slot* next = nullptr;
    Slot* batch = nullptr;
  };

  // A slot for the journal open on `fd` under `path`, and the thread started
  // if it is not running; null without a descriptor or memory to spare, or
  // when the name no longer holds that file, and then nothing syncs it.
  static Slot* Watch(int fd, const char* path);
  static void Appended(Slot* slot) {
    if (slot) slot->appended.fetch_add(1, std::memory_order_release);
  }
  // The errno of a failed sync, handed over once; 0 when there was none.
  static int TakeFailure(Slot* slot) {
    return slot && slot->error.load(std::memory_order_relaxed)
               ? slot->error.exchange(0, std::memory_order_relaxed)
               : 0;
  }
  // The journal is done with the slot: closed once no sync uses it.
  static void Forget(Slot* slot);
  // Syncs what was appended and stops the thread; Watch starts it again.
  static void Stop();

  // What the thread did, for measuring it.
  struct Stats {
    uint64_t passes, syncs, failures;
    uint64_t longestPassUs;  // a record waits at most a tick and a pass
  };
  static Stats Totals();
};
