#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "bench/SyscallCount.h"

namespace {

void Mark(const std::string& what) {
  const std::string path = std::string(MarkDir) + "/" + what;
  [[maybe_unused]] int r = ::access(path.c_str(), F_OK);
}

}  // namespace

void MarkBegin() { Mark("begin"); }
void MarkEnd() { Mark("end"); }
void MarkExcluded(pid_t tid) { Mark("exclude/" + std::to_string(tid)); }

TSyscallCount CountSyscalls(const std::vector<std::string>& argv) {
  TSyscallCount result;
  const auto trace = std::filesystem::temp_directory_path() /
                     ("korvex-bench-strace-" + std::to_string(::getpid()) + ".txt");
  std::vector<std::string> command = {"strace", "-f", "-qq", "-o", trace.string(), "--"};
  command.insert(command.end(), argv.begin(), argv.end());
  std::vector<char*> args;
  for (auto& a : command) args.push_back(a.data());
  args.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execvp("strace", args.data());
    ::_exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) < 0 || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    result.Problem = "strace run failed";
    std::filesystem::remove(trace);
    return result;
  }

  std::ifstream in(trace);
  const std::string mark = std::string("access(\"") + MarkDir + "/";
  std::set<long> excluded;
  bool counting = false, began = false, ended = false;
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    const long pid = std::strtol(line.c_str(), nullptr, 10);
    const std::size_t start = line.find_first_not_of(' ', space);
    if (start == std::string::npos) continue;
    const std::string call = line.substr(start);
    if (call.rfind(mark, 0) == 0) {
      const std::string what = call.substr(mark.size());
      if (what.rfind("begin\"", 0) == 0) counting = began = true;
      if (what.rfind("end\"", 0) == 0) {
        counting = false;
        ended = true;
      }
      if (what.rfind("exclude/", 0) == 0) excluded.insert(std::strtol(what.c_str() + 8, nullptr, 10));
      continue;
    }
    // Resumed halves, signals and exits are no calls of their own.
    if (!counting || excluded.count(pid) || call.rfind("<...", 0) == 0 ||
        call.rfind("---", 0) == 0 || call.rfind("+++", 0) == 0)
      continue;
    const std::size_t paren = call.find('(');
    if (paren == std::string::npos) continue;
    ++result.Total;
    ++result.ByName[call.substr(0, paren)];
  }
  std::filesystem::remove(trace);
  result.Valid = began && ended;
  if (!result.Valid) result.Problem = "markers not seen";
  return result;
}
