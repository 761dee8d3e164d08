// SPDX-License-Identifier: GPL-3.0-or-later
#include "Figures.h"

#include <algorithm>
#include <cstdio>

namespace postlark::bench {

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    if (values.size() % 2 == 1)
        return values[middle];
    return (values[middle - 1] + values[middle]) / 2;
}

void ReportFigure(const std::string& label, const std::string& value, const std::string& target,
                  bool pass) {
    std::printf("%s: %s   target %s   %s\n", label.c_str(), value.c_str(), target.c_str(),
                pass ? "PASS" : "MISS");
    std::fflush(stdout);
}

Spread SpreadOf(const std::vector<double>& values) {
    if (values.empty())
        return {};
    return {*std::min_element(values.begin(), values.end()), Median(values),
            *std::max_element(values.begin(), values.end())};
}

void ReportRounds(const std::string& label, const std::vector<double>& values, int decimals,
                  const std::string& unit, const std::string& target, bool (*pass)(double)) {
    const Spread s = SpreadOf(values);
    ReportFigure(label,
                 Fixed(s.median, decimals) + unit + " (min " + Fixed(s.min, decimals) + ", max " +
                     Fixed(s.max, decimals) + ", " + std::to_string(values.size()) + " rounds)",
                 target, pass(s.median));
}

void ReportMissing(const std::string& label, const std::string& why) {
    std::printf("%s: not measured (%s)   MISS\n", label.c_str(), why.c_str());
    std::fflush(stdout);
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace postlark::bench
