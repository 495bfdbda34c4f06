// Engine hand-over costs: packets through ACMediaList between two threads, and
// how late the millisecond sleeper wakes (next to a plain nanosleep).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include "engine/ACMediaList.h"
#include "engine/ACMovieFilter.h"
#include "platform/MsSleeper.h"

namespace {

// A reader thread puts packets of state.range(0) bytes; this thread gets them,
// each side under the object lock, yielding (not sleeping) on full or empty so
// the number is the queue's own cost.
void BM_MediaListTwoThreads(benchmark::State& state) {
  const auto packet_bytes = static_cast<uint32_t>(state.range(0));
  engine::ACMediaList list;
  std::atomic<bool> stop{false};
  std::vector<uint8_t> packet(packet_bytes, 0x42);
  std::thread producer([&] {
    int64_t time = 0;
    while (!stop.load(std::memory_order_relaxed)) {
      list.Lock(-1);
      const int stored = list.Put(0x1B, time, packet.data(), packet_bytes, 1280, 720, 0);
      list.Unlock();
      if (stored) {
        time += 40;
      } else {
        std::this_thread::yield();
      }
    }
  });
  std::vector<uint8_t> out(packet_bytes);
  engine::MediaPacketInfo info;
  for (auto _ : state) {
    for (;;) {
      list.Lock(-1);
      const bool got = list.Get(info, out.data(), packet_bytes);
      list.Unlock();
      if (got) break;
      std::this_thread::yield();
    }
    benchmark::DoNotOptimize(out.data());
  }
  stop = true;
  producer.join();
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(packet_bytes));
}
BENCHMARK(BM_MediaListTwoThreads)->Arg(256)->Arg(16 * 1024)->Arg(256 * 1024)->UseRealTime();

// Wake-up lateness of SleepMs(1) against plain 1 ms nanosleep: median and 99th
// percentile over 500 sleeps.
template <bool kGrid>
void BM_SleepOneMs(benchmark::State& state) {
  platform::MsSleeper grid;
  platform::SystemSleeper plain;
  grid.Start();
  std::vector<double> waits;
  for (auto _ : state) {
    waits.clear();
    for (int i = 0; i < 500; ++i) {
      const auto t = std::chrono::steady_clock::now();
      if (kGrid) {
        grid.SleepMs(1);
      } else {
        plain.SleepMs(1);
      }
      waits.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t).count());
    }
  }
  std::sort(waits.begin(), waits.end());
  state.counters["median_us"] = waits[waits.size() / 2];
  state.counters["p99_us"] = waits[waits.size() * 99 / 100];
  state.counters["max_us"] = waits.back();
}
BENCHMARK(BM_SleepOneMs<true>)->Name("BM_SleepOneMs/MsSleeper")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SleepOneMs<false>)->Name("BM_SleepOneMs/nanosleep")->Iterations(1)->Unit(benchmark::kMillisecond);

// The set-up filter with nothing to play: 36 threads waiting. CPU time of the
// whole process over the idle period, as a share of one core.
void BM_IdleFilter(benchmark::State& state) {
  engine::ACMovieFilter filter;
  filter.InitFilter(nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // threads settled
  double cpu_share = 0;
  for (auto _ : state) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(state.range(0)));
    getrusage(RUSAGE_SELF, &after);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    const double cpu = seconds(after.ru_utime) + seconds(after.ru_stime) - seconds(before.ru_utime) - seconds(before.ru_stime);
    cpu_share = cpu / wall;
  }
  filter.FinalFilter();
  state.counters["cpu_percent_of_a_core"] = cpu_share * 100;
}
BENCHMARK(BM_IdleFilter)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
