// Work shared among the threads the library may use.
#ifndef LOPPER_CLUSTER_COMMAND_IN_THREADS_H
#define LOPPER_CLUSTER_COMMAND_IN_THREADS_H

#include <lopper/cluster.h>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace lopper {

// Runs work(r) for r = 0 ... count-1 in as many threads as the library
// may use, each taking the next r not yet taken, so r are begun in order.
template <class Work>
void ForEachInThreads(int count, Work work) {
  std::atomic<int> next{0};
  const auto run = [&] {
    for (int r; (r = next.fetch_add(1)) < count;) work(r);
  };
  std::vector<std::thread> helpers;
  try {
    for (int t = 1; t < std::min(getthreads(), count); t++) helpers.emplace_back(run);
  } catch (const std::system_error&) {  // fewer threads, the same work
  }
  run();
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace lopper

#endif
