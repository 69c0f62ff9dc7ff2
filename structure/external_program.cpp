#include "structure/external_program.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/failure.h"
#include "core/whole_file.h"

extern char** environ;

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  const char* search = std::getenv("PATH");
  const std::string directories = search != nullptr ? search : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= directories.size()) {
    size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    // An empty entry is the working directory, as for the shell.
    const std::string directory = end > start ? directories.substr(start, end - start) : ".";
    const std::string candidate = directory + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return std::string();
}

int RunProgram(const std::vector<std::string>& arguments, std::string* messages, double time_limit_seconds) {
  messages->clear();
  if (arguments.empty()) {
    *messages = "no program given";
    return -1;
  }
  ScratchDirectory scratch;
  const std::string messages_path = scratch.File("messages");
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, messages_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t child = 0;
  const int started = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) {
    *messages = std::strerror(started);
    return -1;
  }
  // Polled, so that a program that hangs is ended at the limit: every 5 ms at
  // first, every 50 ms after the first second.
  int status = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int polls = 0;; ++polls) {
    const pid_t ended = waitpid(child, &status, WNOHANG);
    if (ended == child) break;
    if (ended < 0 && errno != EINTR) {
      *messages = std::strerror(errno);
      return -1;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed.count() >= time_limit_seconds) {
      kill(child, SIGKILL);
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      char limit[64];
      std::snprintf(limit, sizeof limit, "did not finish within %g s", time_limit_seconds);
      *messages = limit;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(polls < 200 ? 5 : 50));
  }
  std::string text;
  if (ReadWholeFile(messages_path.c_str(), &text)) *messages = text.substr(0, 65536);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

ScratchDirectory::ScratchDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/rnaqubo-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) {
    const int error = errno;
    throw Failure(FailureKind::kFile, pattern + ": cannot create a scratch directory: " + std::strerror(error),
                  pattern, error);
  }
  path_ = name.data();
}

ScratchDirectory::~ScratchDirectory() {
  // Only files are made inside it.
  if (DIR* directory = opendir(path_.c_str())) {
    while (const dirent* entry = readdir(directory)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        unlink(File(entry->d_name).c_str());
      }
    }
    closedir(directory);
  }
  rmdir(path_.c_str());
}

std::string ScratchDirectory::File(const std::string& name) const { return path_ + "/" + name; }

std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line.substr(0, 300);
}
