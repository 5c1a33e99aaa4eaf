#include "platform/gst/releaser.h"

#include <pthread.h>

namespace gst {

Releaser::~Releaser() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    wake_.notify_all();
  }
  if (worker_.joinable()) worker_.join();
}

void Releaser::Add(std::function<void()> job) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(job));
  if (!worker_.joinable())
    worker_ = std::thread([this] {
      // Named, so that a profile or `top -H` tells a slow release from the window's time.
      pthread_setname_np(pthread_self(), "gst releaser");
      Run();
    });
  wake_.notify_all();
}

void Releaser::WaitIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] { return queue_.empty() && !busy_; });
}

void Releaser::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return quit_ || !queue_.empty(); });
    if (queue_.empty()) return;
    std::function<void()> job = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    job();
    job = nullptr;  // what it captured goes before the release counts as done
    lock.lock();
    busy_ = false;
    idle_.notify_all();
  }
}

}  // namespace gst
