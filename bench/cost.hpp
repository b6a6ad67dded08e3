// Elapsed and processor time of a piece of work, and the medians of repeated
// runs, for the benchmarks that print both.
#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

namespace tintsmith {

struct Cost {
    double elapsed = 0, processor = 0;  // seconds; processor: every thread of the process
};

// std::clock is the process's processor time on POSIX systems.
template <class Work>
Cost timed(Work&& work) {
    auto start = std::chrono::steady_clock::now();
    std::clock_t startClock = std::clock();
    work();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            double(std::clock() - startClock) / CLOCKS_PER_SEC};
}

inline Cost median(std::vector<Cost> costs) {
    std::vector<double> elapsed, processor;
    for (const Cost& cost : costs) {
        elapsed.push_back(cost.elapsed);
        processor.push_back(cost.processor);
    }
    std::sort(elapsed.begin(), elapsed.end());
    std::sort(processor.begin(), processor.end());
    return {elapsed[elapsed.size() / 2], processor[processor.size() / 2]};
}

}  // namespace tintsmith
