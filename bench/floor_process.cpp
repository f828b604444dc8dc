// ecuprog_floor_process: the floor's work as the only work of a process,
// linked as the tool is. Run by ecuprog_bench to show what the same work
// costs from a cold start (process start, first touch of every buffer,
// empty caches) next to the tool's whole job.
#include <cstdio>

#include "bench/floor_work.h"

int main() {
  // Exit status 0 whatever the sum is; printing it keeps the work done.
  std::printf("%llu\n", static_cast<unsigned long long>(DoFloorWork()));
  return 0;
}
