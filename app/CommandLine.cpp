#include "CommandLine.h"

#include <span>

CCommandLine::Request CCommandLine::Read(int argc, const char* const* argv) {
    for (const std::string_view argument : std::span(argv, argc).subspan(argc > 0 ? 1 : 0)) {
        if (argument == "--help" || argument == "-h") {
            return Request::Help;
        }
        if (argument == "--version") {
            return Request::Version;
        }
    }
    return Request::Run;
}

std::string CCommandLine::QtOptionValue(int argc, const char* const* argv, std::string_view name) {
    const std::span arguments(argv, argc);
    std::string value;
    // Qt reads its options with one dash or two, and the last one given counts.
    for (std::size_t i = 1; i + 1 < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        if (argument.starts_with("--")) {
            argument.remove_prefix(1);
        }
        if (argument.starts_with('-') && argument.substr(1) == name) {
            value = arguments[i + 1];
        }
    }
    return value;
}

std::string CCommandLine::HelpText() {
    return "Usage: quillory [OPTION]...\n"
           "Rate movies and get personal predictions of how much you will like them.\n"
           "\n"
           "  -h, --help     print this help and exit\n"
           "      --version  print the version and exit\n"
           "\n"
           "Qt's own options, such as -display NAME, -platform NAME or -style NAME, are\n"
           "passed on to Qt.\n"
           "\n"
           "Exit status: 0 when the window is closed, 1 when the program cannot start\n"
           "(no display, or its data cannot be loaded), 2 for a bad command line.\n"
           "The manual page quillory(1) says where the program keeps its files.\n";
}

std::string CCommandLine::VersionText() {
    return "quillory " QUILLORY_VERSION "\n";
}

std::string CCommandLine::UnknownArgumentLine(std::string_view argument) {
    return "quillory: unknown argument '" + std::string(argument) + "' (try 'quillory --help')\n";
}
