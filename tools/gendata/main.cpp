// quillory-gendata: writes a synthetic catalogue and ratings in the movielens-100k layout, for benchmarks and tuning.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "SyntheticData.h"

namespace {

void Usage() {
    std::fputs("usage: quillory-gendata --users U --movies M --ratings R [--seed S] [--taste] --out DIR\n"
               "  --taste: users choose what they rate by the genres and eras they like, as in public data\n",
               stderr);
}

bool ParseNumber(const char* text, std::uint64_t& value) {
    if (!text || !*text) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || text[0] == '-') {
        return false;
    }
    value = parsed;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    quillory::tools::SyntheticDataSettings settings;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        std::uint64_t number = 0;
        if (arg == "--taste") {
            settings.taste = true;
            continue;
        }
        if (arg == "--out" && next) {
            out = next;
            ++i;
            continue;
        }
        if (!ParseNumber(next, number)) {
            Usage();
            return 2;
        }
        if (arg == "--users" && number > 0 && number <= 0xffffffffu) {
            settings.users = static_cast<std::uint32_t>(number);
        } else if (arg == "--movies" && number > 0 && number <= 0xffffffffu) {
            settings.movies = static_cast<std::uint32_t>(number);
        } else if (arg == "--ratings") {
            settings.ratings = number;
        } else if (arg == "--seed") {
            settings.seed = number;
        } else {
            Usage();
            return 2;
        }
        ++i;
    }
    if (out.empty()) {
        Usage();
        return 2;
    }
    try {
        quillory::tools::GenerateSyntheticData(settings, out);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillory-gendata: %s\n", e.what());
        return 1;
    }
    return 0;
}
