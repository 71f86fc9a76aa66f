// inihost: a command-line stand-in for the vault host. It loads the plug-in module, gets
// its class object, creates the format object and navigators, and makes the host's calls,
// printing what the vault would see.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string_view>

#include "HResultNames.h"
#include "ModuleHost.h"
#include "support/RecordArray.h"
#include "ValueSpec.h"
#include "inidoc/IniFileReader.h"
#include "platform/com_runtime.h"
#include "platform/portable.h"
#include "platform/process.h"
#include "platform/unicode.h"
#include "platform/wide.h"

namespace inihost {
namespace {

using iniplugin::platform::ComPtr;
using iniplugin::platform::UniqueBstr;
using json = nlohmann::ordered_json;
// Records a plug-in never touched show handled = -1.
using Records = iniplugin::test::RecordArray;

constexpr int kFailed = 1;
constexpr int kUsage = 2;

std::string Utf8(std::u16string_view text) { return iniplugin::platform::Utf16ToUtf8(text); }

std::optional<std::u16string> Utf16(const std::string& text) {
  return iniplugin::platform::Utf8ToUtf16(text);
}

struct Options {
  std::string module;
  std::string progid;
  bool json = false;
  bool firstMatch = false;
  bool noCommit = false;
  int dateLayout = 0;
  std::vector<std::string> args;
};

class Host {
 public:
  explicit Host(const Options& options) : m_options(options) {}

  // Each command returns the exit status.
  int Info();
  int Get();
  int Set();
  int Dump();
  int Registration(bool install);

  int UsageError(const std::string& message) {
    std::cerr << "inihost: " << message << "\n";
    return kUsage;
  }

 private:
  // The sentence a failed call left in the thread's error object; empty when it left none.
  // Reading it takes it: call it right after the call, before the next one.
  std::string TakeDescription();
  // Reports a failed call on stderr, its description after the result; with --json, also
  // as a line on stdout unless `jsonLine` is false (the caller prints it with its results).
  // True when the call succeeded.
  bool Check(const char* method, HRESULT hr, bool jsonLine = true) {
    return Report(method, hr, SUCCEEDED(hr) ? std::string() : TakeDescription(), jsonLine);
  }
  bool Report(const char* method, HRESULT hr, const std::string& description,
              bool jsonLine = true) {
    if (SUCCEEDED(hr)) return true;
    std::cerr << "inihost: " << method << " failed: " << HexResult(hr) << " (" << ResultName(hr)
              << ")\n";
    if (!description.empty()) std::cerr << "inihost: " << description << "\n";
    if (jsonLine && m_options.json) {
      std::cout << json{{method, HexResult(hr)}, {"error", description}}.dump() << "\n";
    }
    return false;
  }
  std::u16string ModulePath(const std::string& explicitPath);
  bool LoadModule(const std::string& explicitPath);
  bool OpenFormat(ComPtr<IOrvFileFormat>& format);
  bool OpenNavigator(const std::string& file, ComPtr<IOrvFileNavigator>& navigator);
  // Splits the arguments after FILE into (section, key[, value]) groups.
  bool Groups(std::size_t width, Records& records, std::vector<std::string>* values);

  const Options& m_options;
  std::unique_ptr<ModuleHost> m_module;
};

std::string Host::TakeDescription() {
  ComPtr<IErrorInfo> info;
  const HRESULT hr = m_module ? m_module->TakeErrorInfo(info.Receive())
                              : iniplugin::platform::TakeErrorInfo(info.Receive());
  UniqueBstr description;
  if (hr != S_OK || !info || FAILED(info->GetDescription(description.Receive()))) return {};
  return Utf8(description.View());
}

std::u16string Host::ModulePath(const std::string& explicitPath) {
  if (!explicitPath.empty()) return Utf16(explicitPath).value_or(u"");
  return iniplugin::platform::ExecutableDirectory() + u"/" +
         iniplugin::platform::DefaultModuleName();
}

bool Host::LoadModule(const std::string& explicitPath) {
  std::string error;
  const std::u16string path = ModulePath(explicitPath);
  m_module = ModuleHost::Load(path, error);
  if (!m_module) std::cerr << "inihost: cannot load " << Utf8(path) << ": " << error << "\n";
  return m_module != nullptr;
}

bool Host::OpenFormat(ComPtr<IOrvFileFormat>& format) {
  if (!m_options.progid.empty()) {
    const std::optional<std::u16string> progid = Utf16(m_options.progid);
    return Check("CoCreateInstance",
                 iniplugin::platform::CreateRegisteredObject(progid.value_or(u""),
                                                             IID_IOrvFileFormat,
                                                             format.ReceiveVoid()));
  }
  if (!LoadModule(m_options.module)) return false;
  return Check("DllGetClassObject", m_module->CreateFormat(format));
}

bool Host::OpenNavigator(const std::string& file, ComPtr<IOrvFileNavigator>& navigator) {
  ComPtr<IOrvFileFormat> format;
  if (!OpenFormat(format)) return false;
  UniqueBstr path = UniqueBstr::FromText(Utf16(file).value_or(u""));
  return Check("CreateNavigator", format->CreateNavigator(path.Get(), 0, navigator.Receive()));
}

bool Host::Groups(std::size_t width, Records& records, std::vector<std::string>* values) {
  const std::vector<std::string>& args = m_options.args;
  if (args.size() < 1 + width || (args.size() - 1) % width != 0) return false;
  for (std::size_t i = 1; i < args.size(); i += width) {
    std::optional<std::u16string> section = Utf16(args[i]);
    std::optional<std::u16string> key = Utf16(args[i + 1]);
    if (!section || !key) return false;
    records.Add(*section, *key);
    if (values) values->push_back(args[i + 2]);
  }
  return true;
}

int Host::Info() {
  ComPtr<IOrvFileFormat> format;
  if (!OpenFormat(format)) return kFailed;
  UniqueBstr maker, description, extensions;
  if (!Check("GetInfo", format->GetInfo(maker.Receive(), description.Receive(),
                                        extensions.Receive()))) {
    return kFailed;
  }
  LONG value = 0;
  if (!Check("GetFormatValue", format->GetFormatValue(0, &value))) return kFailed;
  if (m_options.json) {
    std::cout << json{{"maker", Utf8(maker.View())},
                      {"description", Utf8(description.View())},
                      {"extensions", Utf8(extensions.View())},
                      {"formatValue", value}}
                     .dump()
              << "\n";
  } else {
    std::cout << "maker: " << Utf8(maker.View()) << "\n"
              << "description: " << Utf8(description.View()) << "\n"
              << "extensions: " << Utf8(extensions.View()) << "\n"
              << "format value: " << value << "\n";
  }
  return 0;
}

int Host::Get() {
  Records records(-1);
  if (!Groups(2, records, nullptr)) return UsageError("get takes FILE and SECTION KEY pairs");
  ComPtr<IOrvFileNavigator> navigator;
  if (!OpenNavigator(m_options.args[0], navigator)) return kFailed;
  const HRESULT hr = navigator->GetValues(0, m_options.firstMatch ? 1 : 0, 0, records.Count(),
                                          records.Data());
  for (LONG i = 0; i < records.Count(); ++i) {
    const OrvVariableRecord& record = records[static_cast<std::size_t>(i)];
    const std::string section = Utf8(iniplugin::platform::BstrView(record.sectionName));
    const std::string key = Utf8(iniplugin::platform::BstrView(record.keyName));
    const bool hasText = record.value.vt == VT_BSTR;
    const std::string value = hasText ? Utf8(iniplugin::platform::BstrView(record.value.bstrVal)) : "";
    if (m_options.json) {
      json line{{"section", section}, {"key", key}, {"handled", record.handled}};
      line["value"] = hasText ? json(value) : json(nullptr);
      std::cout << line.dump() << "\n";
    } else if (record.handled == 1) {
      std::cout << "[" << section << "] " << key << " = " << value << "\n";
    } else if (record.handled == 0) {
      std::cout << "[" << section << "] " << key << " (no value)\n";
    } else {
      std::cout << "[" << section << "] " << key << " (not read)\n";
    }
  }
  return Check("GetValues", hr) ? 0 : kFailed;
}

int Host::Set() {
  Records records(-1);
  std::vector<std::string> values;
  if (!Groups(3, records, &values)) {
    return UsageError("set takes FILE and SECTION KEY VALUE triples");
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    iniplugin::platform::UniqueVariant parsed;
    if (std::optional<std::string> error = ParseValue(values[i], parsed)) return UsageError(*error);
    if (FAILED(VariantCopy(&records.Data()[i].value, parsed.Get()))) {
      return UsageError("cannot hold value " + values[i]);
    }
  }
  ComPtr<IOrvFileNavigator> navigator;
  if (!OpenNavigator(m_options.args[0], navigator)) return kFailed;
  const HRESULT setResult = navigator->SetValues(0, m_options.firstMatch ? 1 : 0, 0,
                                                 records.Count(), records.Data(),
                                                 m_options.dateLayout);
  const std::string setWhy = FAILED(setResult) ? TakeDescription() : std::string();
  // Commit also after a failed SetValues: it still writes what was queued.
  const HRESULT commitResult = m_options.noCommit ? S_OK : navigator->Commit();
  const std::string commitWhy = FAILED(commitResult) ? TakeDescription() : std::string();

  for (LONG i = 0; i < records.Count(); ++i) {
    const OrvVariableRecord& record = records[static_cast<std::size_t>(i)];
    const std::string section = Utf8(iniplugin::platform::BstrView(record.sectionName));
    const std::string key = Utf8(iniplugin::platform::BstrView(record.keyName));
    if (m_options.json) {
      std::cout << json{{"section", section}, {"key", key}, {"handled", record.handled}}.dump()
                << "\n";
    } else {
      std::cout << "[" << section << "] " << key << " handled " << record.handled << "\n";
    }
  }
  if (m_options.json) {
    json results{{"SetValues", HexResult(setResult)}};
    if (!m_options.noCommit) results["Commit"] = HexResult(commitResult);
    // The first failure's description: the one that explains what follows it.
    if (FAILED(setResult) || FAILED(commitResult)) {
      results["error"] = FAILED(setResult) ? setWhy : commitWhy;
    }
    std::cout << results.dump() << "\n";
  } else {
    std::cout << "SetValues: " << HexResult(setResult) << " (" << ResultName(setResult) << ")\n";
    if (!m_options.noCommit) {
      std::cout << "Commit: " << HexResult(commitResult) << " (" << ResultName(commitResult)
                << ")\n";
    }
  }
  const bool setOk = Report("SetValues", setResult, setWhy, false);
  const bool commitOk = Report("Commit", commitResult, commitWhy, false);
  return setOk && commitOk ? 0 : kFailed;
}

const char* FormName(iniplugin::text::Form form) {
  switch (form) {
    case iniplugin::text::Form::Utf16: return "utf16";
    case iniplugin::text::Form::Utf16BigEndian: return "utf16be";  // never loaded
    case iniplugin::text::Form::Utf8: return "utf8";
    case iniplugin::text::Form::Ansi: break;
  }
  return "ansi";
}

int Host::Dump() {
  if (m_options.args.size() != 1) return UsageError("dump takes one FILE");
  iniplugin::inidoc::IniFileReader document;
  const std::optional<std::u16string> path = Utf16(m_options.args[0]);
  if (!path || !document.Load(*path)) {
    std::cerr << "inihost: IniFileReader::Load failed for " << m_options.args[0]
              << ": missing, unreadable, or not a file it can hold without loss\n";
    return kFailed;
  }
  if (m_options.json) {
    json sections = json::array();
    for (std::size_t s = 0; s < document.SectionCount(); ++s) {
      json lines = json::array();
      for (std::size_t l = 0; l < document.LineCount(s); ++l) {
        const auto line = document.Line(s, l);
        lines.push_back({{"key", Utf8(line.key)}, {"value", Utf8(line.value)}, {"raw", line.raw}});
      }
      sections.push_back({{"header", Utf8(document.Header(s))},
                          {"indexed", document.IsIndexed(s)},
                          {"lines", lines}});
    }
    std::cout << json{{"form", FormName(document.Form())}, {"sections", sections}}.dump() << "\n";
    return 0;
  }
  std::cout << "form: " << FormName(document.Form()) << "\n";
  for (std::size_t s = 0; s < document.SectionCount(); ++s) {
    std::cout << "section " << Utf8(document.Header(s))
              << (document.IsIndexed(s) ? "" : "   (not reachable by name)") << "\n";
    for (std::size_t l = 0; l < document.LineCount(s); ++l) {
      const auto line = document.Line(s, l);
      if (line.raw) {
        std::cout << "  raw   " << Utf8(line.key) << "\n";
      } else {
        std::cout << "  entry " << Utf8(line.key) << " = " << Utf8(line.value) << "\n";
      }
    }
  }
  return 0;
}

int Host::Registration(bool install) {
  if (m_options.args.size() > 1) return UsageError("register takes at most one MODULE");
  const std::string explicitPath = m_options.args.empty() ? m_options.module : m_options.args[0];
  if (!LoadModule(explicitPath)) return kFailed;
  const char* name = install ? "DllRegisterServer" : "DllUnregisterServer";
  const HRESULT hr = install ? m_module->Register() : m_module->Unregister();
  if (!m_options.json) {
    std::cout << name << ": " << HexResult(hr) << " (" << ResultName(hr) << ")\n";
  } else {
    std::cout << json{{name, HexResult(hr)}}.dump() << "\n";
  }
  return Check(name, hr) ? 0 : kFailed;
}

// CLI11 hands a word it does not know on as an extra, which the commands take as a name
// or value: a mistyped option would run the command. So every word before "--" that
// starts with "-" must be one of ours; "--" ends the options, so that a value may start
// with "-".
std::optional<std::string> UnknownOption(const std::vector<std::string>& words) {
  static constexpr std::string_view kFlags[] = {"--json",      "--first-match", "--no-commit",
                                                "--help",      "-h",            "--version"};
  static constexpr std::string_view kTakingValue[] = {"--module", "--progid", "--date-layout"};
  const auto known = [](const auto& names, std::string_view name) {
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
  };
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string_view word = words[i];
    if (word == "--") break;
    if (word.size() < 2 || word.front() != '-') continue;
    const std::size_t equals = word.find('=');
    if (equals != std::string_view::npos) {
      if (!known(kTakingValue, word.substr(0, equals))) return std::string(word);
    } else if (known(kTakingValue, word)) {
      ++i;  // its value, whatever it looks like
    } else if (!known(kFlags, word)) {
      return std::string(word);
    }
  }
  return std::nullopt;
}

int Run(int argc, char** argv) {
  std::vector<std::string> arguments = iniplugin::platform::Utf8Arguments(argc, argv);
  Options options;
  CLI::App app{"inihost: drives the IniPlugin module as the vault host does", "inihost"};
  app.set_version_flag("--version", "inihost 1.0.0");
  auto* moduleOption = app.add_option("--module", options.module, "the module file to load");
  auto* progidOption =
      app.add_option("--progid", options.progid, "create the objects through a registered ProgID");
  moduleOption->excludes(progidOption);
  app.add_flag("--json", options.json, "one JSON object per line");
  app.require_subcommand(1, 1);
  app.fallthrough();
  app.allow_extras();

  auto* info = app.add_subcommand("info", "GetInfo and GetFormatValue");
  auto* get = app.add_subcommand("get", "read variables: FILE SECTION KEY [SECTION KEY ...]");
  get->allow_extras();
  get->add_flag("--first-match", options.firstMatch, "the records are alternatives");
  auto* set = app.add_subcommand(
      "set", "write variables: FILE SECTION KEY VALUE [SECTION KEY VALUE ...]");
  set->allow_extras();
  set->add_flag("--first-match", options.firstMatch, "the records are alternatives");
  set->add_option("--date-layout", options.dateLayout, "the date layout code");
  set->add_flag("--no-commit", options.noCommit, "do not call Commit");
  auto* dump = app.add_subcommand("dump", "the INI document as the plug-in holds it: FILE");
  dump->allow_extras();
  auto* registration = app.add_subcommand("register", "DllRegisterServer [MODULE]");
  registration->allow_extras();
  auto* unregistration = app.add_subcommand("unregister", "DllUnregisterServer [MODULE]");
  unregistration->allow_extras();
  // CLI11 takes the arguments without the program name, last one first.
  if (!arguments.empty()) arguments.erase(arguments.begin());
  if (const std::optional<std::string> unknown = UnknownOption(arguments)) {
    std::cerr << "inihost: unknown option " << *unknown << " (put \"--\" before a value that "
              << "starts with \"-\")\n\n" << app.help();
    return kUsage;
  }
  std::reverse(arguments.begin(), arguments.end());
  try {
    app.parse(arguments);
  } catch (const CLI::ParseError& e) {
    if (e.get_name() == "CallForVersion") {
      std::cout << e.what() << "\n";
      return 0;
    }
    if (e.get_exit_code() == 0) return app.exit(e);
    std::cerr << "inihost: " << e.what() << "\n\n" << app.help();
    return kUsage;
  }

  // The words after the command are taken as they stand: an option's value would be read
  // as a list where it is bracketed or holds a comma, and a value is never that.
  for (CLI::App* command : app.get_subcommands()) options.args = command->remaining();
  for (std::string& word : app.remaining()) options.args.push_back(std::move(word));
  if ((*get || *set || *dump) && options.args.empty()) {
    std::cerr << "inihost: FILE and its names are required\n\n" << app.help();
    return kUsage;
  }

  int status;
  {
    Host host(options);
    if (*info) {
      status = host.Info();
    } else if (*get) {
      status = host.Get();
    } else if (*set) {
      status = host.Set();
    } else if (*dump) {
      status = host.Dump();
    } else {
      status = host.Registration(static_cast<bool>(*registration));
    }
  }
  // Every object is released by now; the modules the runtime loaded may go.
  iniplugin::platform::ReleaseRegisteredObjects();
  return status;
}

}  // namespace
}  // namespace inihost

int main(int argc, char** argv) { return inihost::Run(argc, argv); }
