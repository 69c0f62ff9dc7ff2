#include "formats/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/index_arrays.h"

const char* const kInputOverwriteReason = "Input file would be overwritten";
const char* const kTargetBusyReason = "another run is writing these files";

namespace {

// The named temporary file now being written, for the signal handler. It is set
// only while termination signals are blocked, right after the name is created,
// and cleared before the name is renamed or removed. An unnamed file needs no
// entry: the kernel drops it with the process.
std::atomic<const char*> active_temp_name{nullptr};

// Other files a terminating signal removes (SetSignalCleanup).
std::atomic<const char*> cleanup_names[4] = {};

// Signals whose default action ends the process and that a run may receive from
// outside; the ones that dump core are passed on after the clean-up so that the
// core is still written. Faults (SIGSEGV and the like) are left to their default.
constexpr int kEndingSignals[] = {SIGINT,  SIGTERM,   SIGHUP,  SIGPIPE,  SIGUSR1, SIGUSR2,
                                  SIGALRM, SIGVTALRM, SIGPROF, SIGPOLL,  SIGPWR,  SIGSTKFLT};
constexpr int kCoreSignals[] = {SIGQUIT, SIGABRT, SIGXCPU};

void RemoveTempAndEnd(int signal_number) {
  const char* name = active_temp_name.load();
  if (name != nullptr) unlink(name);
  for (const std::atomic<const char*>& cleanup : cleanup_names) {
    if (const char* other = cleanup.load()) unlink(other);
  }
  for (int s : kCoreSignals) {
    if (s == signal_number) {
      // Pending until the handler returns (the signal is blocked while it runs),
      // then delivered with its default action.
      struct sigaction fallback;
      std::memset(&fallback, 0, sizeof fallback);
      fallback.sa_handler = SIG_DFL;
      sigaction(signal_number, &fallback, nullptr);
      raise(signal_number);
      return;
    }
  }
  _exit(128 + signal_number);
}

// Blocks every signal that RemoveTempAndEnd handles (block true), or restores
// the mask saved by the blocking call (block false).
void BlockTermination(bool block, sigset_t* saved) {
  if (block) {
    sigset_t set;
    sigfillset(&set);
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

// The file system type of /proc, whose descriptor links name no path to replace.
constexpr long kProcFileSystem = 0x9fa0;

// Follows the symbolic links at the last component of name. Sets *target to
// the path they end at (which may not exist) and *through_proc when one of the
// links lies in /proc (a descriptor such as /dev/stdout leads there): its text
// is no name to rename over. Returns false with errno set after 40 links (ELOOP)
// or when a link cannot be read.
bool FollowLinks(const std::string& name, std::string* target, bool* through_proc) {
  *through_proc = false;
  *target = name;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat info;
    // A missing name, or one that cannot be examined, is left to the open.
    if (lstat(target->c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    const std::string directory = DirectoryOf(*target);
    struct statfs file_system;
    if (statfs(directory.empty() ? "." : directory.c_str(), &file_system) == 0 &&
        file_system.f_type == kProcFileSystem) {
      *through_proc = true;
      return true;
    }
    char text[PATH_MAX];
    const ssize_t size = readlink(target->c_str(), text, sizeof text);
    if (size < 0) return false;
    if (size == 0 || static_cast<size_t>(size) >= sizeof text) {
      errno = size == 0 ? ENOENT : ENAMETOOLONG;
      return false;
    }
    const std::string link_text(text, static_cast<size_t>(size));
    *target = link_text[0] == '/' ? link_text : directory + link_text;
  }
  errno = ELOOP;
  return false;
}

// The descriptor number of this process that path names ("/proc/self/fd/N" or
// "/proc/<this pid>/fd/N"), or -1.
int OwnDescriptorNamed(const std::string& path) {
  const std::string prefixes[] = {"/proc/self/fd/", "/proc/thread-self/fd/",
                                  "/proc/" + std::to_string(getpid()) + "/fd/"};
  for (const std::string& prefix : prefixes) {
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) continue;
    int number = -1;
    const char* end = path.data() + path.size();
    const auto parsed = std::from_chars(path.data() + prefix.size(), end, number);
    return parsed.ec == std::errc() && parsed.ptr == end ? number : -1;
  }
  return -1;
}

}  // namespace

bool OutputNameFits(const std::string& final_name) {
  if (final_name.size() >= PATH_MAX) return false;
  const std::string directory = DirectoryOf(final_name);
  const size_t base_size = final_name.size() - directory.size();
  long name_max = pathconf(directory.empty() ? "." : directory.c_str(), _PC_NAME_MAX);
  if (name_max <= 0) name_max = NAME_MAX;
  return base_size <= static_cast<size_t>(name_max);
}

namespace {

// 64 bits that no earlier run can be expected to have drawn.
uint64_t RandomWord() {
  uint64_t word = 0;
  if (getrandom(&word, sizeof word, GRND_NONBLOCK) == sizeof word) return word;
  static std::atomic<uint64_t> counter{0};
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  word = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 30) ^
         (static_cast<uint64_t>(getpid()) << 48) ^ (++counter * 0x9E3779B97F4A7C15ull);
  return word;
}

// A fresh temporary name "<directory>.rnaqubo-<pid>-<16 hex digits>.tmp".
std::string TemporaryName(const std::string& directory) {
  char digits[17];
  const uint64_t word = RandomWord();
  for (int k = 0; k < 16; ++k) digits[k] = "0123456789abcdef"[(word >> (60 - 4 * k)) & 15];
  digits[16] = '\0';
  return directory + ".rnaqubo-" + std::to_string(getpid()) + "-" + digits + ".tmp";
}

// The path under which /proc shows descriptor fd of this process.
std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

#ifdef RNAQUBO_TEST_HOOKS
// Test builds only. RNAQUBO_TEST_NAMED_TEMPORARY (set) forces named temporary
// files; RNAQUBO_TEST_FAILING_BUFFER=k makes the k-th output buffer allocation
// of the process (counted from 1) fail.
bool UnnamedFilesAllowed() { return std::getenv("RNAQUBO_TEST_NAMED_TEMPORARY") == nullptr; }
bool BufferAllocationRefused() {
  static std::atomic<long> allocations{0};
  const char* failing = std::getenv("RNAQUBO_TEST_FAILING_BUFFER");
  return ++allocations == (failing == nullptr ? 0 : std::atol(failing));
}
#else
bool UnnamedFilesAllowed() { return true; }
bool BufferAllocationRefused() { return false; }
#endif

}  // namespace

#ifdef RNAQUBO_TEST_HOOKS
void PassTestStep() {
  static std::atomic<long> steps{0};
  const char* step = std::getenv("RNAQUBO_TEST_SIGNAL_STEP");
  const char* signal_number = std::getenv("RNAQUBO_TEST_SIGNAL");
  if (step == nullptr || signal_number == nullptr) return;
  if (++steps == std::atol(step)) kill(getpid(), std::atoi(signal_number));
}
#else
void PassTestStep() {}
#endif

namespace {

// Opens an unnamed file in directory. Returns the descriptor, -1 with errno set
// on failure; *unsupported tells that the file system or kernel has no unnamed
// files, so that a named temporary should be tried instead.
int OpenUnnamedFile(const std::string& directory, bool* unsupported) {
  *unsupported = false;
#ifdef O_TMPFILE
  if (UnnamedFilesAllowed()) {
    int fd;
    do {
      fd = open(directory.empty() ? "." : directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    // Kernels without O_TMPFILE see a plain directory open (EISDIR).
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) *unsupported = true;
    // The file is named at the end through /proc/self/fd; without /proc that
    // needs privilege, so a named temporary is the safer course.
    struct stat info;
    if (fd >= 0 && lstat(DescriptorPath(fd).c_str(), &info) != 0) {
      close(fd);
      *unsupported = true;
      errno = EOPNOTSUPP;
      return -1;
    }
    return fd;
  }
#endif
  *unsupported = true;
  errno = EOPNOTSUPP;
  return -1;
}

// Creates a named temporary in directory, recorded for the signal handler.
// Returns false with errno set.
bool OpenNamedTemporary(const std::string& directory, OutputFile* file) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = TemporaryName(directory);
    sigset_t saved;
    BlockTermination(true, &saved);
    int fd;
    do {
      fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    const int open_error = errno;
    if (fd >= 0) {
      file->fd = fd;
      file->temp_name.swap(name);
      active_temp_name.store(file->temp_name.c_str());
    }
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

// Gives the unnamed file of file a fresh temporary name in the directory of its
// final name, recorded for the signal handler. Returns false with errno set.
bool NameUnnamedFile(OutputFile* file) {
  const std::string directory = DirectoryOf(file->target_name);
  const std::string descriptor_path = DescriptorPath(file->fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = TemporaryName(directory);
    sigset_t saved;
    BlockTermination(true, &saved);
    int result = linkat(AT_FDCWD, descriptor_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
    // Without /proc, linking the descriptor itself needs privilege, but may be allowed.
    if (result != 0 && errno == ENOENT) result = linkat(file->fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
    const int link_error = errno;
    if (result == 0) {
      file->temp_name.swap(name);
      active_temp_name.store(file->temp_name.c_str());
    }
    BlockTermination(false, &saved);
    if (result == 0) return true;
    if (link_error != EEXIST) {
      errno = link_error;
      return false;
    }
  }
  errno = EEXIST;
  return false;
}

// Throws the failure to start file under its final name, with error and reason.
[[noreturn]] void FailToOpen(const OutputFile& file, int error, const char* reason = nullptr) {
  throw OutputFileFailure(OutputStage::kOpen, error, reason, file.final_name);
}

// StartOutputFile once file->final_name is set.
void StartNamedOutput(const KeptFile* kept, OutputFile* file) {
  const std::string& final_name = file->final_name;
  if (!OutputNameFits(final_name)) {
    FailToOpen(*file, ENAMETOOLONG);
  }
  if (kept != nullptr && OutputWouldReplace(final_name, *kept)) {
    FailToOpen(*file, EEXIST, kInputOverwriteReason);
  }
  bool through_proc = false;
  if (!FollowLinks(final_name, &file->target_name, &through_proc)) {
    FailToOpen(*file, errno);
  }
  struct stat info;
  const bool exists = stat(final_name.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) {
    FailToOpen(*file, EISDIR);
  }
  if (exists && (through_proc || !S_ISREG(info.st_mode))) {
    // Written in place: a FIFO or device cannot be replaced. One of this
    // process's own descriptors (/dev/stdout) is shared, offset included, so
    // that the output falls in line with what else is written there; another
    // descriptor's file is appended to, never truncated.
    const int own = through_proc ? OwnDescriptorNamed(file->target_name) : -1;
    int fd;
    do {
      fd = own >= 0 ? fcntl(own, F_DUPFD_CLOEXEC, 0)
                    : open(final_name.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) FailToOpen(*file, errno);
    file->fd = fd;
    file->direct = true;
    return;
  }
  if (!OutputNameFits(file->target_name)) {
    FailToOpen(*file, ENAMETOOLONG);
  }
  const std::string directory = DirectoryOf(file->target_name);
  bool unsupported = false;
  file->fd = OpenUnnamedFile(directory, &unsupported);
  if (file->fd >= 0) return;
  if (unsupported && OpenNamedTemporary(directory, file)) return;
  const int open_error = errno;
  file->fd = -1;
  FailToOpen(*file, open_error);
}

// The message of an OutputFileFailure (see its class).
std::string OutputFailureText(OutputStage stage, int error, const char* reason, const std::string& final_name) {
  if (stage == OutputStage::kMemory) return kArrayAllocationFailure;
  return final_name + ": cannot write: " + (reason != nullptr ? reason : std::strerror(error));
}

}  // namespace

OutputFileFailure::OutputFileFailure(OutputStage stage, int error, const char* reason, const std::string& final_name)
    : Failure(stage == OutputStage::kMemory ? FailureKind::kMemory : FailureKind::kFile,
              OutputFailureText(stage, error, reason, final_name),
              stage == OutputStage::kMemory ? std::string() : final_name, error),
      stage_(stage),
      reason_(reason) {}

const char* OutputFileFailure::Explanation() const {
  return reason_ != nullptr ? reason_ : std::strerror(error_number());
}

const char* OutputFailureMessage(const OutputFileFailure& failure) {
  return failure.stage() == OutputStage::kMemory ? "Memory allocation problem in AllocateIntArray"
                                                   : "Could not write to file!\n";
}

KeptFile IdentifyKeptFile(const char* path) {
  KeptFile kept;
  struct stat info;
  if (stat(path, &info) == 0) {
    kept.known = true;
    kept.device = info.st_dev;
    kept.inode = info.st_ino;
  }
  return kept;
}

bool OutputWouldReplace(const std::string& final_name, const KeptFile& kept) {
  struct stat info;
  return kept.known && stat(final_name.c_str(), &info) == 0 && info.st_dev == kept.device &&
         info.st_ino == kept.inode;
}

void InstallTerminationHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = RemoveTempAndEnd;
  sigfillset(&action.sa_mask);
  auto install = [&action](int s) {
    // A signal ignored when the run started (nohup, a background job) stays ignored.
    struct sigaction current;
    if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) return;
    sigaction(s, &action, nullptr);
  };
  for (int s : kEndingSignals) install(s);
  for (int s : kCoreSignals) install(s);
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) install(s);
  signal(SIGXFSZ, SIG_IGN);
}

void StartOutputFile(const std::string& final_name, const KeptFile* kept, OutputFile* file) {
  file->fd = -1;
  file->temp_name.clear();
  file->target_name.clear();
  file->direct = false;
  try {
    file->final_name = final_name;
    StartNamedOutput(kept, file);
  } catch (const OutputFileFailure&) {
    throw;
  } catch (...) {  // only the names' allocations can throw
    DiscardOutputFile(file);
    throw OutputFileFailure(OutputStage::kMemory, ENOMEM, nullptr, std::string());
  }
}

std::unique_ptr<char[]> AllocateOutputBuffer(size_t size) {
  if (BufferAllocationRefused()) return nullptr;
  return std::unique_ptr<char[]>(new (std::nothrow) char[size]);
}

bool WriteOutputBytes(OutputFile* file, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = write(file->fd, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (put == 0) {
      errno = EIO;
      return false;
    }
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

bool CommitOutputFile(OutputFile* file) {
  if (file->direct) {
    const int fd = file->fd;
    file->fd = -1;
    return close(fd) == 0;
  }
  bool named = false;
  try {
    named = !file->temp_name.empty() || NameUnnamedFile(file);
  } catch (...) {  // only the name's allocation can throw
    errno = ENOMEM;
  }
  if (!named) {
    const int link_error = errno;
    DiscardOutputFile(file);
    errno = link_error;
    return false;
  }
  const int fd = file->fd;
  file->fd = -1;
  if (close(fd) != 0 || rename(file->temp_name.c_str(), file->target_name.c_str()) != 0) {
    const int commit_error = errno;
    DiscardOutputFile(file);
    errno = commit_error;
    return false;
  }
  const char* expected = file->temp_name.c_str();
  active_temp_name.compare_exchange_strong(expected, nullptr);
  file->temp_name.clear();
  return true;
}

void DiscardOutputFile(OutputFile* file) {
  if (file->fd >= 0) close(file->fd);
  file->fd = -1;
  if (!file->temp_name.empty()) {
    unlink(file->temp_name.c_str());
    const char* expected = file->temp_name.c_str();
    active_temp_name.compare_exchange_strong(expected, nullptr);
    file->temp_name.clear();
  }
}

TerminationBlock::TerminationBlock() { BlockTermination(true, &saved); }
TerminationBlock::~TerminationBlock() { BlockTermination(false, &saved); }

void SetSignalCleanup(int slot, const char* name) {
  if (slot >= 0 && slot < 4) cleanup_names[slot].store(name);
}

void RemoveActiveTemporary() {
  const char* name = active_temp_name.exchange(nullptr);
  if (name != nullptr) unlink(name);
  for (std::atomic<const char*>& cleanup : cleanup_names) {
    if (const char* other = cleanup.exchange(nullptr)) unlink(other);
  }
}

char* AppendDecimal(char* out, int value) {
  return std::to_chars(out, out + 16, value).ptr;
}
