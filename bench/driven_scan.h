#pragma once
// What the benches that drive the real program from outside its process have
// in common: the six arguments their command lines start with, the options
// after them, and a started program whose window is set up for the scan.
// Nothing is scanned unless the program pre-filled the scanner's own range,
// so every probe stays inside that virtual LAN.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "lan/lan_truth.h"
#include "support/program_driver.h"

namespace qv::bench {

// The exit status of a command line the bench cannot run.
constexpr int kBadUsageStatus = 2;

struct ScanArguments {
  std::string program, scanner, first, last;
  int workers = 0;
  int timeoutMs = 0;
};

// An option after the six arguments: a bool is a flag that stands alone, an
// int or a string takes the argument that follows it.
struct NamedOption {
  std::string_view name;
  std::variant<bool*, int*, std::string*> value;
};

// Sets value from the argument at *i, moving *i past what it took; false
// when the option takes a value and none follows.
inline bool TakeOption(const NamedOption& option, int argc, char** argv, int* i) {
  if (bool* const* flag = std::get_if<bool*>(&option.value)) {
    **flag = true;
    return true;
  }
  if (*i + 1 >= argc) return false;
  const char* value = argv[++*i];
  if (int* const* number = std::get_if<int*>(&option.value)) **number = std::atoi(value);
  else *std::get<std::string*>(option.value) = value;
  return true;
}

// False unless argv holds the six arguments, then only the named options.
inline bool ReadCommandLine(int argc, char** argv, std::initializer_list<NamedOption> named,
                            ScanArguments* arguments) {
  if (argc < 7) return false;
  *arguments = {argv[1], argv[2], argv[3], argv[4], std::atoi(argv[5]), std::atoi(argv[6])};
  for (int i = 7; i < argc; ++i) {
    const auto option =
        std::find_if(named.begin(), named.end(), [&](const NamedOption& known) { return known.name == argv[i]; });
    if (option == named.end() || !TakeOption(*option, argc, argv, &i)) return false;
  }
  return true;
}

// Writes the usage line, the bench's own options after the six arguments.
inline int BadUsage(const char* bench, const char* ownOptions) {
  std::fprintf(stderr, "usage: %s <quorvane.exe> <scanner address> <first> <last> <workers> <time-out ms> %s\n",
               bench, ownOptions);
  return kBadUsageStatus;
}

// How long a started program may take to show its whole main window.
constexpr DWORD kWindowLimitMs = 60000;
// A scan has ended once its window has shown the idle state this long.
constexpr DWORD kIdleHoldMs = 1000;

// The program pre-fills the range of the network it runs in.
inline bool InScannersLan(const test::ProgramDriver& driver, const std::string& scanner) {
  const std::string prefix = test::Prefix(scanner);
  return driver.ReadAddress(Component::IP编辑框_开始) == prefix + "1" &&
         driver.ReadAddress(Component::IP编辑框_结束) == prefix + "255";
}

// Each field read back: the program puts its default in place of a worker
// count it does not take, and the scan would run with that.
inline bool FillInScanFields(const test::ProgramDriver& driver, const ScanArguments& arguments) {
  const std::string workers = std::to_string(arguments.workers);
  const std::string timeout = std::to_string(arguments.timeoutMs);
  return driver.WriteText(Component::编辑框_线程数, workers) &&
         driver.WriteText(Component::编辑框_延时, timeout) &&
         driver.WriteAddress(Component::IP编辑框_开始, arguments.first) &&
         driver.WriteAddress(Component::IP编辑框_结束, arguments.last) &&
         driver.ReadText(Component::编辑框_线程数) == workers && driver.ReadText(Component::编辑框_延时) == timeout;
}

// The program started, attached to its main window and its scan's fields
// filled in. driver is empty unless all of that went well; stderr says what
// did not. The program is ended with the session.
struct DrivenSession {
  test::LaunchedProgram program;
  std::optional<test::ProgramDriver> driver;

  explicit DrivenSession(const ScanArguments& arguments) : program("\"" + arguments.program + "\"") {
    if (!program.started()) {
      std::fprintf(stderr, "could not start %s\n", arguments.program.c_str());
      return;
    }
    driver = test::ProgramDriver::Attach(program.id(), kWindowLimitMs);
    if (!driver) {
      std::fprintf(stderr, "the main window did not appear\n");
    } else if (!InScannersLan(*driver, arguments.scanner)) {
      std::fprintf(stderr, "not inside the virtual LAN of %s: not scanning\n", arguments.scanner.c_str());
      driver.reset();
    } else if (!FillInScanFields(*driver, arguments)) {
      std::fprintf(stderr, "could not set up the scan in the window\n");
      driver.reset();
    }
  }
};

}  // namespace qv::bench
