#pragma once
// Nearest-rank quantiles of measured times, for the benchmarks that print latencies.
#include <algorithm>
#include <vector>

// The q-quantile (0..1) of `values`, nearest rank; 0 for none.
inline double quantile(std::vector<double> values, double q) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}
