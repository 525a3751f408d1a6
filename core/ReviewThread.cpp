#include "ReviewThread.h"

#include <pthread.h>

#include <chrono>

#include <cstdlib>
#include <cstring>
#include <system_error>

namespace quorvel {

namespace {

// A line handed over: its number, the sizes of its name and its output, then their bytes.
struct LineHead {
  size_t number, nameSize, outputSize;
};

// The lines go over once this many bytes of them wait (a few hundred names), so that what is left
// for the run's end to review or wait for stays small. Lines the thread has not taken yet gather,
// up to kMostPending, and then the run waits for it.
constexpr size_t kHandBytes = size_t{1} << 14;
constexpr size_t kMostPending = size_t{1} << 22;
// A thread of their own (its start, a cold cache, the wait for its last lines at the end) pays
// only where a run has a few thousand names to check (side by side in bench/README.md: at 100,000
// names a thread made the run slower, at 1,000,000 faster). So it is started at the first lines of
// a source of kLongSourceBytes or more (some 500,000 names), and for any other run once the run's
// own thread has reviewed kThreadFromBytes of lines.
constexpr size_t kLongSourceBytes = size_t{4} << 20;
constexpr size_t kThreadFromBytes = size_t{1} << 17;
// How often the review's thread looks for lines (the run never wakes it; see Hand): what the run's
// end finds not taken yet, it reviews itself.
constexpr std::chrono::milliseconds kLookEvery{1};

// Whether the review may take a thread of its own: the machine has a second core, and
// QUORVEL_THREADS=1 does not keep the run on one thread.
bool SecondThreadWanted() {
  if (const char* wanted = std::getenv("QUORVEL_THREADS"); wanted && std::strcmp(wanted, "1") == 0)
    return false;
  return std::thread::hardware_concurrency() >= 2;
}

}  // namespace

ReviewThread::ReviewThread(ListFiles& lists, const ConversionOptions& options, size_t sourceBytes)
    : lists_(lists),
      reviewer_(lists, options),
      handAt_(kHandBytes),
      alone_(!SecondThreadWanted()),
      reviewedHere_(sourceBytes >= kLongSourceBytes ? kThreadFromBytes : 0) {
  lists_.SetBeforeChange([this] { Settle(); });
}

ReviewThread::~ReviewThread() {
  lists_.SetBeforeChange(nullptr);
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

LineHook ReviewThread::Hook() {
  return {[this](size_t number, std::string_view name, std::string_view output) {
            Take(number, name, output);
          },
          &reviewer_.Watch()};
}

void ReviewThread::Take(size_t number, std::string_view name, std::string_view output) {
  const LineHead head{number, name.size(), output.size()};
  char line[256];  // the usual line goes in with one append
  if (sizeof head + name.size() + output.size() <= sizeof line) {
    std::memcpy(line, &head, sizeof head);
    std::memcpy(line + sizeof head, name.data(), name.size());
    std::memcpy(line + sizeof head + name.size(), output.data(), output.size());
    pending_.append(line, sizeof head + name.size() + output.size());
  } else {
    pending_.append(reinterpret_cast<const char*>(&head), sizeof head);
    pending_.append(name);
    pending_.append(output);
  }
  if (pending_.size() >= handAt_) Hand();
}

void ReviewThread::Hand() {
  if (!thread_.joinable()) {
    if (!alone_ && reviewedHere_ >= kThreadFromBytes) {
      try {
        thread_ = std::thread(&ReviewThread::Loop, this);
      } catch (const std::system_error&) {
        alone_ = true;  // no thread to be had
      }
    }
    if (!thread_.joinable()) {
      reviewedHere_ += pending_.size();
      Settle();
      return;
    }
  }
  // The run never wakes the review's thread, which looks for lines every kLookEvery: waking a
  // sleeping core cost the run 25 to 150 microseconds a time on the benchmark machine, in all
  // about as much as the review of the lines it handed over.
  std::unique_lock lock(mutex_);
  if (failure_) std::rethrow_exception(failure_);
  if (handed_.empty()) {
    handed_.swap(pending_);  // pending_ takes over the emptied buffer the thread handed back
  } else if (handed_.size() < kMostPending) {
    handed_.append(pending_);  // it has not looked yet: they go with the last ones
    pending_.clear();
  } else {
    WaitUntilIdle(lock);  // it fell behind by far (kept off its core)
    if (failure_) std::rethrow_exception(failure_);
    handed_.swap(pending_);
  }
  handAt_ = kHandBytes;
}

void ReviewThread::WaitUntilIdle(std::unique_lock<std::mutex>& lock) {
  idle_.wait(lock, [this] { return handed_.empty() && !busy_; });
}

void ReviewThread::Settle() {
  std::string rest;  // handed over and not taken yet: reviewed here, after what the thread took
  if (thread_.joinable()) {
    std::unique_lock lock(mutex_);
    rest.swap(handed_);
    idle_.wait(lock, [this] { return !busy_; });
    if (failure_) std::rethrow_exception(failure_);
  }
  // The review's thread waits for more: the lines it did not take are reviewed here.
  Review(rest);
  Review(pending_);
  pending_.clear();
  handAt_ = kHandBytes;
}

void ReviewThread::Finish() { Settle(); }

void ReviewThread::SpillTo(const Spill* spill) noexcept {
  if (thread_.joinable()) {
    std::unique_lock lock(mutex_);
    WaitUntilIdle(lock);
  }
  spill_ = spill;
  if (spill && rows_.capacity() < kSpillBytes) {
    try {
      rows_.reserve(kSpillBytes + 4096);  // one stretch of memory for every block
    } catch (const std::bad_alloc&) {
    }
  }
}

void ReviewThread::Review(std::string_view lines) {
  for (size_t at = 0; at < lines.size();) {
    LineHead head;
    std::memcpy(&head, lines.data() + at, sizeof head);
    const std::string_view name = lines.substr(at + sizeof head, head.nameSize);
    const std::string_view output = lines.substr(at + sizeof head + head.nameSize, head.outputSize);
    at += sizeof head + head.nameSize + head.outputSize;
    if (!reviewer_.AppendRow(rows_, head.number, name, output)) continue;
    ++count_;
    if (spill_ && rows_.size() >= kSpillBytes) {
      (*spill_)(rows_);
      rows_.clear();
    }
  }
}

void ReviewThread::Loop() {
  ::pthread_setname_np(::pthread_self(), "quorvel-review");  // as ps and top list it
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait_for(lock, kLookEvery, [this] { return stop_ || !handed_.empty(); });
    if (stop_) return;
    if (handed_.empty()) continue;
    taken_.swap(handed_);  // handed_ takes the emptied buffer of the last lines
    busy_ = true;
    const bool failed = failure_ != nullptr;  // then the lines are only taken
    lock.unlock();
    std::exception_ptr failure;
    if (!failed) {
      try {
        Review(taken_);
      } catch (...) {
        failure = std::current_exception();
      }
    }
    taken_.clear();
    lock.lock();
    busy_ = false;
    if (failure) failure_ = failure;
    idle_.notify_all();
  }
}

}  // namespace quorvel
