// Progress reports of long routines, to a callback of the calling thread.
#include "cluster_internal.h"

namespace lopper {

namespace {

struct Reporter {
  ProgressReport report = nullptr;
  void* context = nullptr;
};

// Per thread, as the routines that report run in the caller's thread.
thread_local Reporter reporter;

}  // namespace

void setprogress(ProgressReport report, void* context) { reporter = {report, context}; }

namespace detail {

void reportprogress(const char* step, long done, long total) {
  if (reporter.report && !quietthread()) reporter.report(step, done, total, reporter.context);
}

}  // namespace detail

}  // namespace lopper
