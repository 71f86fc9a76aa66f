// Loading a module file and finding its exported functions, and the few facts about the
// running program that a command-line host needs.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace iniplugin::platform {

class Library {
 public:
  // Loads the module at `path`; null with a readable reason in `error` when it cannot.
  static std::unique_ptr<Library> Open(const std::u16string& path, std::string& error);
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library();

  // The exported function of that (undecorated) name, or null.
  void* Symbol(const char* name) const;

 private:
  explicit Library(void* handle) : m_handle(handle) {}
  void* m_handle;
};

// The folder the running program was started from.
std::u16string ExecutableDirectory();

// The program's arguments as UTF-8, whatever the system passed (on Windows the narrow
// arguments are in the ANSI code page, so the wide command line is used instead).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// The name of the module file the build places beside its programs.
const char16_t* DefaultModuleName();

}  // namespace iniplugin::platform
