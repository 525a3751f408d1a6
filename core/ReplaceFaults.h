// The points where a test stops or fails a replacement of files (ReplaceFilesAtomically) on
// purpose. They exist only in a build with QUORVEL_FAULT_SEAMS defined: the test programs link
// such a build of Files.cpp, with the switches that set the points (tests/support/FaultSeams.h),
// in place of the library's own. The shipped library and programs compile the empty versions
// below, which leave nothing behind.
#pragma once

namespace quorvel {

// The steps of a replacement that a test can make fail with an errno of its choosing.
enum class ReplaceStep {
  kCreateFirstTemporary = 1,
  kWriteSecondTemporary = 2,
  kRenameSecondFile = 3
};

#ifdef QUORVEL_FAULT_SEAMS
// True, with errno set, when a test planted a failure at `step`.
bool ReplaceFaultAt(ReplaceStep step);
// Called at each point of a replacement of n files: 0 temporaries written and synced, 1 renames
// recorded (or about to start without a record), 2 + i file i renamed, 2 + n done (record
// removed). A crash test stops the process there.
void ReachReplacePoint(int point);
#else
inline bool ReplaceFaultAt(ReplaceStep) { return false; }
inline void ReachReplacePoint(int) {}
#endif

}  // namespace quorvel
