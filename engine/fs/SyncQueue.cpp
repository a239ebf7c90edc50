#include "engine/fs/SyncQueue.h"

#include <chrono>
#include <new>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace rtp {

// A worker started with the platform's own call, which reports a failure (the engine has no exceptions).
struct SyncQueue::Thread {
#ifdef _WIN32
  HANDLE handle = nullptr;
  static unsigned __stdcall Entry(void* queue) {
    SyncQueue::Work(queue);
    return 0;
  }
  bool Start(SyncQueue* queue) {
    handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 64 * 1024, Entry, queue, 0, nullptr));
    return handle != nullptr;
  }
  void Join() {
    ::WaitForSingleObject(handle, INFINITE);
    ::CloseHandle(handle);
  }
#else
  pthread_t thread{};
  static void* Entry(void* queue) {
    SyncQueue::Work(queue);
    return nullptr;
  }
  bool Start(SyncQueue* queue) {
    return pthread_create(&thread, nullptr, Entry, queue) == 0;
  }
  void Join() {
    pthread_join(thread, nullptr);
  }
#endif
};

SyncQueue::SyncQueue(unsigned threads) : mWanted(threads) {}

SyncQueue::~SyncQueue() {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mStopping = true;
  }
  mWork.notify_all();
  for (const auto& thread : mThreads) thread->Join();
}

void SyncQueue::SyncAndClose(const std::string& name, Sink& sink) {
  const bool synced = sink.Sync();
  const bool closed = sink.Close();
  if (synced && closed) return;
  std::lock_guard<std::mutex> lock(mMutex);
  if (!mFailed) mFailure = name;
  mFailed = true;
}

void SyncQueue::Add(const std::string& name, std::unique_ptr<Sink> sink) {
  if (mThreads.size() < mWanted) {
    std::unique_ptr<Thread> thread(new (std::nothrow) Thread);
    if (thread && thread->Start(this)) mThreads.push_back(std::move(thread));
  }
  {
    std::unique_lock<std::mutex> lock(mMutex);
    // Each file in hand holds a handle: the writer waits for the workers rather than run out of them.
    if (mThreads.empty() && mQueue.size() >= kMostInHand) {
      lock.unlock();
      SyncInHand();
      lock.lock();
    }
    mRoom.wait(lock, [&] { return mQueue.size() < kMostInHand; });
    mQueue.emplace_back(name, std::move(sink));
  }
  mWork.notify_one();
}

void SyncQueue::SyncInHand() {
  while (!mQueue.empty()) {
    SyncAndClose(mQueue.front().first, *mQueue.front().second);
    mQueue.pop_front();
  }
}

void SyncQueue::Work(void* self) {
  SyncQueue& queue = *static_cast<SyncQueue*>(self);
  std::unique_lock<std::mutex> lock(queue.mMutex);
  for (;;) {
    queue.mWork.wait(lock, [&] { return queue.mStopping || !queue.mQueue.empty(); });
    if (queue.mQueue.empty()) return;
    std::pair<std::string, std::unique_ptr<Sink>> file = std::move(queue.mQueue.front());
    queue.mQueue.pop_front();
    ++queue.mBusy;
    queue.mRoom.notify_one();
    lock.unlock();
    queue.SyncAndClose(file.first, *file.second);
    file.second.reset();
    lock.lock();
    --queue.mBusy;
    if (queue.mQueue.empty() && queue.mBusy == 0) queue.mIdle.notify_all();
  }
}

bool SyncQueue::Wait(const std::function<bool()>& beat, std::string* failed) {
  if (mThreads.empty()) SyncInHand();
  std::unique_lock<std::mutex> lock(mMutex);
  bool beating = true;
  while (!mQueue.empty() || mBusy != 0) {
    if (mIdle.wait_for(lock, std::chrono::milliseconds(kSyncBeatMs)) == std::cv_status::no_timeout) continue;
    if (!beating) continue;
    lock.unlock();
    beating = beat();
    lock.lock();
  }
  if (!mFailed) return true;
  *failed = mFailure;
  mFailed = false;
  mFailure.clear();
  return false;
}

}  // namespace rtp
