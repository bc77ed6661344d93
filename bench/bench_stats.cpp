#include "bench_stats.h"

#include <algorithm>
#include <cstdio>

namespace zentrava::bench {

namespace {

// Nearest-rank on a sorted sample, so a small sample reports values it really saw.
double rank(const std::vector<double>& sorted, int percent) {
    return sorted[(sorted.size() - 1) * std::size_t(percent) / 100];
}

} // namespace

Spread spread(std::vector<double> samples) {
    Spread s;
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    s.median = rank(samples, 50);
    s.p25 = rank(samples, 25);
    s.p75 = rank(samples, 75);
    s.n = int(samples.size());
    return s;
}

std::vector<double> ratios(const std::vector<double>& measured,
                           const std::vector<double>& baseline) {
    std::vector<double> out;
    const std::size_t n = std::min(measured.size(), baseline.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (baseline[i] > 0)
            out.push_back(measured[i] / baseline[i]);
    }
    return out;
}

void printResult(const std::string& goal, const std::string& measure, const Spread& ratio,
                 const std::string& target, bool met) {
    std::printf("RESULT|%s|%s|%.3f|%.3f|%.3f|%d|%s|%s\n", goal.c_str(), measure.c_str(),
                ratio.median, ratio.p25, ratio.p75, ratio.n, target.c_str(), met ? "yes" : "no");
    std::fflush(stdout);
}

void printDetail(const std::string& goal, const std::string& text) {
    std::printf("DETAIL|%s|%s\n", goal.c_str(), text.c_str());
    std::fflush(stdout);
}

std::string describe(const Spread& s, int decimals) {
    char text[128];
    std::snprintf(text, sizeof text, "%.*f (%.*f..%.*f; %d)", decimals, s.median, decimals, s.p25,
                  decimals, s.p75, s.n);
    return text;
}

} // namespace zentrava::bench
