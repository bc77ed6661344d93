#pragma once

#include <string>
#include <vector>

// What every benchmark reports, in one shape, so scripts/bench.sh can gather the table.
namespace zentrava::bench {

struct Spread {
    double median = 0;
    double p25 = 0;
    double p75 = 0;
    int n = 0;
};

Spread spread(std::vector<double> samples);

// Each round's measured value over its baseline from the same round.
std::vector<double> ratios(const std::vector<double>& measured,
                           const std::vector<double>& baseline);

// A goal's line for the results table:
//   RESULT|goal|measure|median|p25|p75|n|target|met
void printResult(const std::string& goal, const std::string& measure, const Spread& ratio,
                 const std::string& target, bool met);

// Absolute figures behind a ratio, for the notes under the table:
//   DETAIL|goal|text
void printDetail(const std::string& goal, const std::string& text);

// Text of a spread in milliseconds (or any unit): "12.3 (11.9..12.8; 30)".
std::string describe(const Spread& s, int decimals = 2);

} // namespace zentrava::bench
