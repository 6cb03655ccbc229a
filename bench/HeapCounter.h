// Counts the bytes the process holds on the heap through operator new, by
// replacing it; link only into programs that measure memory.
#ifndef BENCH_HEAPCOUNTER_H_
#define BENCH_HEAPCOUNTER_H_

#include <cstddef>

namespace jxrestart {
namespace bench {

size_t HeapInUse();
size_t PeakInUse();
void ResetPeak();

}  // namespace bench
}  // namespace jxrestart

#endif  // BENCH_HEAPCOUNTER_H_
