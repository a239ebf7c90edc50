#pragma once
// Puts written files on the disk and closes them on worker threads. One flush a file costs a round trip
// to the disk, 20,000 of them one after another take seconds; many in flight at once overlap, and the
// caller goes on writing and calling back meanwhile.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/Stream.h"

namespace rtp {

// How often a wait for the disk calls back: the engine's caller must hear from it every 100 ms.
constexpr uint32_t kSyncBeatMs = 50;
// Files waiting for a worker at most; each holds an open handle.
constexpr size_t kMostInHand = 64;

class SyncQueue {
 public:
  // Up to `threads` workers, started when first needed. With none, or where none can be started, the
  // files are synced and closed one after another by Wait.
  explicit SyncQueue(unsigned threads);
  // Workers finish the files in hand; without them, files never waited for are closed unsynced.
  ~SyncQueue();
  SyncQueue(const SyncQueue&) = delete;
  SyncQueue& operator=(const SyncQueue&) = delete;

  void Add(const std::string& name, std::unique_ptr<Sink> sink);
  // Returns once every file added so far is on the disk and closed, calling `beat` every kSyncBeatMs
  // meanwhile (after it returns false, only the calls end). False when a file could not be synced or
  // closed; *failed is the first such file's name.
  bool Wait(const std::function<bool()>& beat, std::string* failed);

 private:
  struct Thread;
  static void Work(void* self);
  void SyncAndClose(const std::string& name, Sink& sink);
  // Without workers: syncs and closes the files in hand on the calling thread.
  void SyncInHand();

  const unsigned mWanted;
  std::vector<std::unique_ptr<Thread>> mThreads;
  std::mutex mMutex;
  std::condition_variable mWork;
  std::condition_variable mIdle;
  std::condition_variable mRoom;
  std::deque<std::pair<std::string, std::unique_ptr<Sink>>> mQueue;
  size_t mBusy = 0;
  bool mStopping = false;
  bool mFailed = false;
  std::string mFailure;
};

}  // namespace rtp
