#include "BenchProgram.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include <benchmark/benchmark.h>

#include "MException.h"

namespace quillory::bench {

int RunBenchmarks(const char* program, int argc, char** argv, std::initializer_list<Flag> flags,
                  const std::function<void()>& prepare) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        bool ours = false;
        for (const auto& [name, set] : flags) {
            if (i > 0 && std::strcmp(argv[i], name) == 0) {
                *set = true;
                ours = true;
            }
        }
        if (!ours) {
            rest.push_back(argv[i]);
        }
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    if (benchmark::ReportUnrecognizedArguments(count, rest.data())) {
        return 1;
    }
    int status = 0;
    try {
        prepare();
        benchmark::RunSpecifiedBenchmarks();
    } catch (const CMException& e) {
        std::fprintf(stderr, "%s: %s: %s\n", program, e.GetCaption().c_str(), e.GetText().c_str());
        status = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
        status = 1;
    }
    benchmark::Shutdown();
    return status;
}

} // namespace quillory::bench
