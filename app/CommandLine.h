#pragma once

#include <string>
#include <string_view>

// The program's own options: --help (-h) and --version. Qt's options (-display, -platform, -style and the like) are
// not ours; they stay on the command line for QApplication, which takes them off, and whatever it leaves is unknown.
class CCommandLine {
public:
    enum class Request {
        Run,     // open the window
        Help,    // print the help and exit
        Version, // print the version and exit
    };

    // What the command line asks for: the first of our options on it wins, wherever it stands.
    static Request Read(int argc, const char* const* argv);
    // The value a Qt option such as -display or -platform is given on the command line (as -name value or
    // --name value), or an empty string.
    static std::string QtOptionValue(int argc, const char* const* argv, std::string_view name);

    static std::string HelpText();
    static std::string VersionText();
    // One line about an argument neither we nor Qt took.
    static std::string UnknownArgumentLine(std::string_view argument);
};
