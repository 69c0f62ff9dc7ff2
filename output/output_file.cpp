#include "output/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/run_end.h"

namespace {

// The temporary file now being written, for the signal handler. It is set only
// while termination signals are blocked, right after the file is created, and
// cleared before the file is renamed or removed.
std::atomic<const char*> active_temp_name{nullptr};

void RemoveTempAndExit(int signal_number) {
  const char* name = active_temp_name.load();
  if (name != nullptr) unlink(name);
  _exit(128 + signal_number);
}

constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void BlockTermination(bool block, sigset_t* saved) {
  if (block) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kTerminationSignals) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, saved);
  } else {
    pthread_sigmask(SIG_SETMASK, saved, nullptr);
  }
}

// The directory part of name, with its trailing slash; empty for a bare name.
std::string DirectoryOf(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

}  // namespace

void InstallTerminationHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = RemoveTempAndExit;
  sigfillset(&action.sa_mask);
  for (int s : kTerminationSignals) {
    // A signal ignored when the run started (nohup, a background job) stays ignored.
    struct sigaction current;
    if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaction(s, &action, nullptr);
  }
  signal(SIGXFSZ, SIG_IGN);
}

bool OpenOutputFile(const std::string& final_name, OutputFile* file) {
  file->fd = -1;
  file->final_name = final_name;
  struct stat info;
  if (stat(final_name.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  const std::string stem = DirectoryOf(final_name) + ".rnaqubo-" + std::to_string(getpid()) + "-";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    file->temp_name = stem + std::to_string(attempt) + ".tmp";
    sigset_t saved;
    BlockTermination(true, &saved);
    int fd;
    do {
      fd = open(file->temp_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
      file->fd = fd;
      active_temp_name.store(file->temp_name.c_str());
    }
    const int open_error = errno;
    BlockTermination(false, &saved);
    if (fd >= 0) return true;
    if (open_error != EEXIST) {
      errno = open_error;
      return false;
    }
  }
  errno = EEXIST;
  return false;
}

bool WriteOutputBytes(OutputFile* file, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = write(file->fd, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (put == 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

bool CommitOutputFile(OutputFile* file) {
  const int fd = file->fd;
  file->fd = -1;
  if (close(fd) != 0) {
    DiscardOutputFile(file);
    return false;
  }
  if (rename(file->temp_name.c_str(), file->final_name.c_str()) != 0) {
    DiscardOutputFile(file);
    return false;
  }
  active_temp_name.store(nullptr);
  return true;
}

void DiscardOutputFile(OutputFile* file) {
  if (file->fd >= 0) close(file->fd);
  file->fd = -1;
  unlink(file->temp_name.c_str());
  active_temp_name.store(nullptr);
}

void FailOutputFile(OutputFile* file) {
  DiscardOutputFile(file);
  EndRun("Could not write to file!\n", kStatusIoError);
}

char* AppendDecimal(char* out, int value) {
  return std::to_chars(out, out + 16, value).ptr;
}
