// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's numbered run-time error: raised by the routine that detects a failure and
// caught by the caller that expects it. Free of Qt so that the store can use it.
#include <stdexcept>
#include <string>

namespace postlark {

class RuntimeError : public std::runtime_error {
public:
    RuntimeError(long number, std::string description, std::string source = "Postlark")
        : std::runtime_error(description), Number(number), Description(std::move(description)),
          Source(std::move(source)) {}

    long Number;
    std::string Description;
    std::string Source;
};

// Base of the numbered errors raised by the support components.
constexpr long vbObjectError = -2147221504L; // 0x80040000 as a signed 32-bit number

} // namespace postlark
