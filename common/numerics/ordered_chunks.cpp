#include "ordered_chunks.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace rg {

int pass_threads() {
  if (const char* s = std::getenv("RAINGLM_THREADS")) {
    char* end = nullptr;
    const long v = std::strtol(s, &end, 10);
    if (end != s && *end == '\0' && v >= 1 && v <= 64) return static_cast<int>(v);
  }
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 64u));
}

void for_chunks_in_order(std::int64_t nchunks, int threads, const std::function<void(std::int64_t, int)>& work,
                         const std::function<void(std::int64_t, int)>& fold) {
  if (nchunks <= 0) return;
  threads = static_cast<int>(std::clamp<std::int64_t>(threads, 1, nchunks));
  if (threads == 1) {
    for (std::int64_t c = 0; c < nchunks; ++c) {
      work(c, 0);
      fold(c, 0);
    }
    return;
  }
  const int nslots = chunk_slots(threads);
  std::mutex mtx;
  std::condition_variable cv;
  std::atomic<std::int64_t> next{0};
  std::vector<char> filled(static_cast<std::size_t>(nslots), 0);
  std::int64_t folded = 0;  // chunks folded so far: chunk c may use its slot once c - nslots < folded
  std::exception_ptr error;
  bool stop = false;

  auto run = [&] {
    for (;;) {
      const std::int64_t c = next.fetch_add(1);
      if (c >= nchunks) return;
      const int slot = static_cast<int>(c % nslots);
      {
        std::unique_lock lock(mtx);
        cv.wait(lock, [&] { return stop || c - nslots < folded; });
        if (stop) return;
      }
      try {
        work(c, slot);
      } catch (...) {
        std::lock_guard lock(mtx);
        if (!error) error = std::current_exception();
        stop = true;
        cv.notify_all();
        return;
      }
      std::lock_guard lock(mtx);
      filled[static_cast<std::size_t>(slot)] = 1;
      // Whoever completes the next chunk in order folds it and any finished ones after it.
      try {
        while (!stop && folded < nchunks && filled[static_cast<std::size_t>(folded % nslots)]) {
          fold(folded, static_cast<int>(folded % nslots));
          filled[static_cast<std::size_t>(folded % nslots)] = 0;
          ++folded;
        }
      } catch (...) {
        if (!error) error = std::current_exception();
        stop = true;
      }
      cv.notify_all();
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(static_cast<std::size_t>(threads - 1));
  for (int t = 1; t < threads; ++t) pool.emplace_back(run);
  run();
  for (auto& t : pool) t.join();
  if (error) std::rethrow_exception(error);
}

}  // namespace rg
