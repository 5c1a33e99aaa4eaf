#pragma once
// Takes pipelines down one after the other on a thread of its own: a sink may take its time to
// stop (a sound server, a streaming thread stuck in a slow write), and the window must not wait
// for it. Each user keeps an instance of its own, so that one slow release never holds another
// kind of device.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace gst {

class Releaser {
 public:
  Releaser() = default;
  ~Releaser();  // runs what is still queued first
  Releaser(const Releaser&) = delete;
  Releaser& operator=(const Releaser&) = delete;

  // Queues a job behind those queued already; it runs, and is destroyed, on the releaser's
  // thread, so whatever it holds is let go there.
  void Add(std::function<void()> job);
  // Until every job added so far has run.
  void WaitIdle();

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> queue_;
  bool busy_ = false;
  bool quit_ = false;
  std::thread worker_;
};

}  // namespace gst
