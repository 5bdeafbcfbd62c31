#pragma once

#include <functional>
#include <initializer_list>
#include <utility>

// What every benchmark program's main() does around its own cases, written once.
namespace quillory::bench {

// A flag of the program's own ("--large"), and the switch it sets when given.
using Flag = std::pair<const char*, bool*>;

// Takes the program's own `flags` out of the command line, hands the rest to Google Benchmark (an argument neither
// knows fails the run), then runs `prepare` (which registers the cases, and makes their data) and every benchmark
// asked for. A CMException or another exception from either is reported as one line on stderr, "<program>: <caption>:
// <text>", and ends the run with status 1; 0 otherwise.
int RunBenchmarks(const char* program, int argc, char** argv, std::initializer_list<Flag> flags,
                  const std::function<void()>& prepare);

} // namespace quillory::bench
