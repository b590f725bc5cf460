#pragma once
// What the benches that drive the real program from outside its process have
// in common: the six arguments their command lines start with and the
// options after them.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

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

}  // namespace qv::bench
