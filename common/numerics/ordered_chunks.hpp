#pragma once
// Passes over many records split into chunks that run on several threads, with
// results that do not depend on the number of threads: every chunk forms its own
// partial results from nothing, and the partials are folded in chunk order.
#include <cstdint>
#include <functional>

namespace rg {

// Threads for such passes: the hardware's count, or RAINGLM_THREADS (1 to 64) when
// set, which also lets a run be kept to one core.
int pass_threads();

// Slots that hold chunk results between their work and their fold.
constexpr int chunk_slots(int threads) { return 2 * threads; }

// Calls work(chunk, slot) once for every chunk 0..nchunks-1, on up to `threads`
// threads (the caller's among them), and fold(chunk, slot) for every chunk in
// increasing order, one at a time, after its work. A slot (0..chunk_slots(threads)-1)
// carries a chunk's results from its work to its fold and is given to another chunk
// only after that fold. The first exception thrown by work or fold stops the pass and
// is rethrown here once every thread has ended.
void for_chunks_in_order(std::int64_t nchunks, int threads, const std::function<void(std::int64_t, int)>& work,
                         const std::function<void(std::int64_t, int)>& fold);

}  // namespace rg
