// Timing for the benchmarks: seconds since a start, and the best time of a
// few rounds of one piece of work (a failed round ends the benchmark).
#pragma once
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

inline double Rv_BenchSeconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// fnReset, when given, runs untimed before each round.
inline double Rv_BenchBestOf(int nRounds, const std::function<bool()>& fnRun,
                             const std::function<bool()>& fnReset = nullptr)
{
    double dBest = 1e30;
    for (int i = 0; i < nRounds; ++i) {
        if (fnReset && !fnReset()) {
            fprintf(stderr, "reset failed\n");
            exit(1);
        }
        auto start = std::chrono::steady_clock::now();
        if (!fnRun()) {
            fprintf(stderr, "run failed\n");
            exit(1);
        }
        double dSeconds = Rv_BenchSeconds(start);
        if (dSeconds < dBest)
            dBest = dSeconds;
    }
    return dBest;
}
