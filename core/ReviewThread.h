// The review of a long run made on a thread of its own (quorvel-cli --review): the run's line hook
// only copies the lines the review's watch wants, and the review's thread makes their rows on
// another core while the run goes on (bench/README.md measures what that saves).
//
// Every line is reviewed against the state of the lists it was converted with: before the lists
// change (ListFiles::SetBeforeChange), every line handed over is reviewed first. The rows come out
// in line order, the same bytes as NameReviewer::AppendRow makes on the run's own thread. A short
// run is reviewed on the run's own thread and starts no second one (its start and the wait for its
// last lines would cost more than it took over); nor does a run on a machine of one core, with
// QUORVEL_THREADS=1, or where no thread can be had.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "BatchConversion.h"
#include "Review.h"

namespace quorvel {

class ReviewThread {
 public:
  // Reviews the lines of runs over `lists` with `options`, which it watches for changes until it
  // is destroyed (one ReviewThread per ListFiles at a time). `sourceBytes`, the size of the run's
  // source where it is known (0: not known): a long source has its thread from the first lines.
  ReviewThread(ListFiles& lists, const ConversionOptions& options, size_t sourceBytes = 0);
  ~ReviewThread();
  ReviewThread(const ReviewThread&) = delete;
  ReviewThread& operator=(const ReviewThread&) = delete;

  // The run's line hook: hands the lines over to be reviewed. It throws the review's own failure
  // (a row that could not be spilled), which then ends the run.
  LineHook Hook();

  // While `spill` is set (until SpillTo(nullptr)), the rows go to it a block of whole rows at a
  // time, on whichever thread makes them, one call at a time; else they gather in Rows().
  // Returns once no call of the earlier spill is under way.
  using Spill = std::function<void(std::string_view rows)>;
  void SpillTo(const Spill* spill) noexcept;

  // Waits until every line handed over is reviewed; throws the review's failure.
  void Finish();

  // After Finish: the rows not spilled, and how many rows were made in all.
  std::string& Rows() { return rows_; }
  size_t Count() const { return count_; }

  static constexpr size_t kSpillBytes = size_t{1} << 18;

 private:
  void Take(size_t number, std::string_view name, std::string_view output);
  void Hand();
  void Settle();
  void WaitUntilIdle(std::unique_lock<std::mutex>& lock);
  void Review(std::string_view lines);
  void Loop();

  ListFiles& lists_;
  NameReviewer reviewer_;
  // The lines not handed over yet (the run's thread's), each its number, the sizes of its name and
  // output and their bytes.
  std::string pending_;
  size_t handAt_;  // the size of pending_ at which they are handed over
  std::mutex mutex_;
  std::condition_variable wake_;  // only to stop it
  std::condition_variable idle_;  // it finished the lines it took
  std::string handed_;            // handed over and not taken yet
  bool busy_ = false, stop_ = false;
  std::exception_ptr failure_;
  // The review's thread's while it reviews, the run's thread's while it is idle.
  std::string taken_, rows_;
  size_t count_ = 0;
  const Spill* spill_ = nullptr;
  bool alone_;           // the run's thread reviews every line
  size_t reviewedHere_;  // bytes of lines it reviewed before a thread was started (or would)
  std::thread thread_;   // started once a run has that much to review
};

}  // namespace quorvel
