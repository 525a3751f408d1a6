#include "FaultSeams.h"

#include <cerrno>

#include "ReplaceFaults.h"

namespace quorvel {

namespace {
int gFailStep = 0;
int gFailErrno = 0;
ReplacePointHook gPointHook = nullptr;
}  // namespace

void PlantReplaceFailure(int step, int errnoValue) {
  gFailStep = step;
  gFailErrno = errnoValue;
}

void SetReplacePointHook(ReplacePointHook hook) { gPointHook = hook; }

bool ReplaceFaultAt(ReplaceStep step) {
  if (gFailStep != static_cast<int>(step)) return false;
  errno = gFailErrno;
  return true;
}

void ReachReplacePoint(int point) {
  if (gPointHook) gPointHook(point);
}

}  // namespace quorvel
