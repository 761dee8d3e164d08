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

// Prints a line that explains why a figure could not be measured.
void ReportMissing(const std::string& label, const std::string& why);

// Fixed-point text of a number.
std::string Fixed(double value, int decimals);

} // namespace postlark::bench
