// How long THeadlessDownloader's construction blocks the window's thread.
// Usage: engine_start_bench ENGINE METAINFO ARGS ROUNDS
// Prints "median max" in milliseconds; each engine is stopped between rounds.
#include "engine/headless.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  if (argc != 5)
    return 2;
  const std::string exe = std::string("\"") + argv[1] + "\"";
  const int rounds = std::max(1, std::atoi(argv[4]));
  std::vector<double> ms;
  for (int i = 0; i < rounds; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    auto engine = std::make_unique<mirel::THeadlessDownloader>(argv[2], exe, argv[3], true);
    const auto t1 = std::chrono::steady_clock::now();
    if (!engine->Running()) {
      std::fprintf(stderr, "engine did not start\n");
      return 1;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%.3f %.3f\n", ms[ms.size() / 2], ms.back());
  return 0;
}
