// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Repeated measurements and the lines that report them.
#include <string>
#include <vector>

namespace postlark::bench {

// The middle value (the mean of the two middle values for an even count); 0 for none.
double Median(std::vector<double> values);

// Prints "label: value   target ...   PASS|MISS".
void ReportFigure(const std::string& label, const std::string& value, const std::string& target,
                  bool pass);

// The smallest, middle and largest of a figure measured over several rounds.
struct Spread {
    double min = 0, median = 0, max = 0;
};
Spread SpreadOf(const std::vector<double>& values);

// Prints "label: median M (min A, max B, N rounds)   target ...   PASS|MISS", with the
// numbers to `decimals` places and `unit` after them; the median is judged by `pass`.
void ReportRounds(const std::string& label, const std::vector<double>& values, int decimals,
                  const std::string& unit, const std::string& target, bool (*pass)(double));

// Prints a line that explains why a figure could not be measured.
void ReportMissing(const std::string& label, const std::string& why);

// Fixed-point text of a number.
std::string Fixed(double value, int decimals);

} // namespace postlark::bench
