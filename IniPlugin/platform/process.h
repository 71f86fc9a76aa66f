// The few facts about the running program that a command-line host needs.
#pragma once

#include <string>
#include <vector>

namespace iniplugin::platform {

// The folder the running program was started from.
std::u16string ExecutableDirectory();

// The program's arguments as UTF-8, whatever the system passed (on Windows the narrow
// arguments are in the ANSI code page, so the wide command line is used instead).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// The file name of the module the build places beside its programs.
const char16_t* DefaultModuleName();

}  // namespace iniplugin::platform
