// Full differential run of the native ring simplification against GEOS, with timings; driven by
// bench/bench_simplify.py, which builds it and turns its JSON into a table.
//
//   ring_simplify_differential [--rings N] [--seed S] [--first I] [--repeat R]
//                                                                   JSON report on stdout
//   ring_simplify_differential --show I [--seed S]                  one ring and both results
//
// Every generated ring goes through both; each call is timed on its own (the fastest of R runs),
// so the native time of a ring and GEOS's time of the same ring are measured back to back.
// Progress goes to stderr.
#include <geos_c.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ring_differential.hpp"

using namespace tarnwick::testing;
using Clock = std::chrono::steady_clock;

namespace {

struct Tally {
  std::uint64_t rings = 0, points = 0, decided = 0, kept_points = 0, mismatches = 0,
                geos_failures = 0;
  double native_seconds = 0, geos_seconds = 0, geos_seconds_refused = 0;
  std::map<std::string, std::uint64_t> refusals;
  std::vector<std::uint64_t> refused;  // the first few refused rings, to look at with --show

  void add(const Tally& other) {
    rings += other.rings, points += other.points, decided += other.decided;
    kept_points += other.kept_points, mismatches += other.mismatches;
    geos_failures += other.geos_failures, native_seconds += other.native_seconds;
    geos_seconds += other.geos_seconds, geos_seconds_refused += other.geos_seconds_refused;
    for (const auto& [name, count] : other.refusals) refusals[name] += count;
    for (std::uint64_t index : other.refused) {
      if (refused.size() < 20) refused.push_back(index);
    }
  }
};

void print_tally(const Tally& t) {
  std::printf(
      "{\"rings\": %llu, \"points\": %llu, \"decided\": %llu, \"kept_points\": %llu, "
      "\"mismatches\": %llu, \"geos_failures\": %llu, \"native_seconds\": %.6f, "
      "\"geos_seconds\": %.6f, \"geos_seconds_refused\": %.6f, \"refusals\": {",
      static_cast<unsigned long long>(t.rings), static_cast<unsigned long long>(t.points),
      static_cast<unsigned long long>(t.decided), static_cast<unsigned long long>(t.kept_points),
      static_cast<unsigned long long>(t.mismatches),
      static_cast<unsigned long long>(t.geos_failures), t.native_seconds, t.geos_seconds,
      t.geos_seconds_refused);
  const char* separator = "";
  for (const auto& [name, count] : t.refusals) {
    std::printf("%s\"%s\": %llu", separator, name.c_str(), static_cast<unsigned long long>(count));
    separator = ", ";
  }
  std::printf("}, \"refused\": [");
  separator = "";
  for (std::uint64_t index : t.refused) {
    std::printf("%s%llu", separator, static_cast<unsigned long long>(index));
    separator = ", ";
  }
  std::printf("]}");
}

std::uint64_t number(const char* text) { return std::strtoull(text, nullptr, 10); }

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t rings = 100000, seed = 1, first = 0;
  long long show = -1;
  int repeat = 1;
  for (int k = 1; k + 1 < argc; k += 2) {
    const std::string_view option = argv[k];
    if (option == "--rings") {
      rings = number(argv[k + 1]);
    } else if (option == "--seed") {
      seed = number(argv[k + 1]);
    } else if (option == "--first") {
      first = number(argv[k + 1]);
    } else if (option == "--repeat") {
      repeat = std::max(1, static_cast<int>(number(argv[k + 1])));
    } else if (option == "--show") {
      show = static_cast<long long>(number(argv[k + 1]));
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[k]);
      return 2;
    }
  }

  RingDifferential differential;
  GeneratedRing ring;
  if (show >= 0) {
    generate_ring(seed, static_cast<std::uint64_t>(show), ring);
    const RingComparison outcome = differential.compare(ring);
    std::printf("%s\nrefusal: %s, GEOS ok: %d, mismatch: %d\n",
                describe(ring, differential.kept, differential.geos_result).c_str(),
                std::string(tarnwick::depthview::transform::refusal_name(outcome.refusal)).c_str(),
                outcome.geos_ok, outcome.mismatch);
    return outcome.mismatch ? 1 : 0;
  }

  std::map<std::string, Tally> by_kind;
  std::vector<std::uint64_t> mismatched;
  std::vector<std::uint32_t> scratch_kept;
  std::vector<std::array<double, 2>> scratch_result;
  const std::uint64_t report_every = rings >= 20 ? rings / 20 : 1;
  for (std::uint64_t n = 0; n < rings; ++n) {
    const std::uint64_t index = first + n;
    generate_ring(seed, index, ring);
    Tally& tally = by_kind[std::string(ring.kind)];
    // Each call is timed `repeat` times and its fastest time kept, so that a preemption of this
    // process on a busy machine does not count; the results of the first calls are compared.
    RingRefusal refusal = RingRefusal::none;
    bool geos_ok = false;
    double native_seconds = 1e300, geos_seconds = 1e300;
    for (int round = 0; round < repeat; ++round) {
      const auto t0 = Clock::now();
      const RingRefusal again = differential.native.simplify(
          ring.points, ring.tolerance, round == 0 ? differential.kept : scratch_kept);
      const auto t1 = Clock::now();
      const bool geos_again = differential.geos.simplify(
          ring.points, ring.tolerance, round == 0 ? differential.geos_result : scratch_result);
      const auto t2 = Clock::now();
      if (round == 0) refusal = again, geos_ok = geos_again;
      native_seconds = std::min(native_seconds, std::chrono::duration<double>(t1 - t0).count());
      geos_seconds = std::min(geos_seconds, std::chrono::duration<double>(t2 - t1).count());
    }

    ++tally.rings;
    tally.points += ring.points.size();
    tally.native_seconds += native_seconds;
    tally.geos_seconds += geos_seconds;
    if (!geos_ok) ++tally.geos_failures;
    if (refusal == RingRefusal::none) {
      ++tally.decided;
      tally.kept_points += differential.kept.size();
      if (!geos_ok || !same_points(ring.points, differential.kept, differential.geos_result)) {
        ++tally.mismatches;
        if (mismatched.size() < 20) mismatched.push_back(index);
      }
    } else {
      ++tally.refusals[std::string(tarnwick::depthview::transform::refusal_name(refusal))];
      tally.geos_seconds_refused += geos_seconds;
      if (tally.refused.size() < 5) tally.refused.push_back(index);
    }
    if ((n + 1) % report_every == 0) {
      std::fprintf(stderr, "\r%llu of %llu rings", static_cast<unsigned long long>(n + 1),
                   static_cast<unsigned long long>(rings));
    }
  }
  std::fprintf(stderr, "\n");

  Tally total;
  for (const auto& [kind, tally] : by_kind) total.add(tally);
  std::printf("{\"seed\": %llu, \"first\": %llu, \"geos_version\": \"%s\", \"total\": ",
              static_cast<unsigned long long>(seed), static_cast<unsigned long long>(first),
              GEOSversion());
  print_tally(total);
  std::printf(", \"kinds\": {");
  const char* separator = "";
  for (const auto& [kind, tally] : by_kind) {
    std::printf("%s\"%s\": ", separator, kind.c_str());
    print_tally(tally);
    separator = ", ";
  }
  std::printf("}, \"mismatched\": [");
  separator = "";
  for (std::uint64_t index : mismatched) {
    std::printf("%s%llu", separator, static_cast<unsigned long long>(index));
    separator = ", ";
  }
  std::printf("]}\n");
  return 0;
}
