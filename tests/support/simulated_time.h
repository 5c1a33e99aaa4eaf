#pragma once
// A time source that only moves when the code under test sleeps (or a test moves it), with
// actions that run when the time passes a given moment.

#include <QDateTime>
#include <functional>
#include <map>

#include "platform/forms/clock.h"

namespace testing_support {

class SimulatedTime : public forms::TimeSource {
 public:
  static constexpr std::int64_t kMs = 1000000;

  explicit SimulatedTime(std::int64_t startNs) : now_(startNs), start_(startNs) {}

  std::int64_t Nanoseconds() override { return now_; }
  void SleepUntil(std::int64_t deadline) override {
    ++sleeps_;
    MoveTo(deadline);
  }
  // Wall-clock time moves with the simulated time from a fixed moment.
  QDateTime Now() override {
    return QDateTime(QDate(2026, 12, 6), QTime(14, 5, 9)).addMSecs((now_ - start_) / kMs);
  }

  // Moves the time forward (never back) and runs the actions that fall due.
  void MoveTo(std::int64_t when);
  void Advance(std::int64_t ns) { MoveTo(now_ + ns); }
  // Runs `action` once the time reaches start + `afterMs`.
  void At(double afterMs, std::function<void()> action) {
    actions_.emplace(start_ + static_cast<std::int64_t>(afterMs * kMs), std::move(action));
  }

  double ElapsedMs() const { return static_cast<double>(now_ - start_) / kMs; }
  int Sleeps() const { return sleeps_; }

 private:
  std::int64_t now_;
  std::int64_t start_;
  int sleeps_ = 0;
  std::multimap<std::int64_t, std::function<void()>> actions_;
};

inline void SimulatedTime::MoveTo(std::int64_t when) {
  while (!actions_.empty() && actions_.begin()->first <= when) {
    auto node = actions_.extract(actions_.begin());
    now_ = std::max(now_, node.key());
    node.mapped()();
  }
  now_ = std::max(now_, when);
}

}  // namespace testing_support
