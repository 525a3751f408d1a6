// The switches of the fault points of a replacement of files (core/ReplaceFaults.h). They work in
// the test programs that link quorvel_fault_seams (tests/support/CMakeLists.txt), which builds
// Files.cpp with the points compiled in; the shipped programs have neither.
#pragma once

namespace quorvel {

// Makes ReplaceFilesAtomically fail with `errnoValue` at `step` (0 = none). Steps (ReplaceStep):
// 1 creating the first temporary, 2 writing the second temporary, 3 renaming the second file.
void PlantReplaceFailure(int step, int errnoValue);

// Called at each point of a replacement (see ReachReplacePoint); nullptr removes it.
using ReplacePointHook = void (*)(int point);
void SetReplacePointHook(ReplacePointHook hook);

}  // namespace quorvel
