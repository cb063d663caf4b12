#pragma once
// Work split into numbered chunks and shared among a few threads, each thread taking
// the next chunk not yet taken. Which thread does a chunk is left to chance, so a
// result that must not depend on the number of threads is kept per chunk and
// combined in chunk order by the caller.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace rg {

// The threads to use for count chunks when nthreads are asked for (0 or less: one per
// core of the machine), never more than the chunks.
inline int chunk_threads(int nthreads, std::size_t count) {
  if (nthreads <= 0) nthreads = static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
  return static_cast<int>(std::clamp<std::size_t>(count, 1, static_cast<std::size_t>(nthreads)));
}

// Runs worker(thread, take) on nthreads threads, the calling thread being thread 0;
// take(k) sets k to the next chunk and is false once all count chunks are taken.
// Returns when every thread has finished. The worker must not throw: a failure is to
// be recorded and reported by the caller afterwards. Threads the system refuses are
// done without: the others take their chunks.
template <class Worker>
void share_chunks(std::size_t count, int nthreads, Worker worker) {
  std::atomic<std::size_t> next{0};
  auto take = [&](std::size_t& k) {
    k = next.fetch_add(1, std::memory_order_relaxed);
    return k < count;
  };
  std::vector<std::jthread> helpers;
  helpers.reserve(static_cast<std::size_t>(std::max(nthreads - 1, 0)));
  try {
    for (int t = 1; t < nthreads; ++t) helpers.emplace_back([&, t] { worker(t, take); });
  } catch (const std::system_error&) {
  }
  worker(0, take);
}

}  // namespace rg
