#include "formats/target_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// Takes an exclusive lock on fd without waiting; on failure closes fd and
// returns false with errno set.
bool LockDescriptor(int fd) {
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  const int error = errno;
  close(fd);
  errno = error;
  return false;
}

}  // namespace

TargetLock::~TargetLock() {
  if (fd < 0) return;
  // The file goes while the lock is still held, so that no run can lock it
  // after this one and be fooled by its removal.
  if (!lock_file.empty()) unlink(lock_file.c_str());
  close(fd);
}

bool LockDirectory(const std::string& directory, TargetLock* lock) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  if (!LockDescriptor(fd)) return false;
  lock->fd = fd;
  return true;
}

bool LockPrefix(const std::string& prefix, TargetLock* lock) {
  const std::string name = prefix + ".rnaqubo-lock";
  for (;;) {
    const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) return false;
    if (!LockDescriptor(fd)) return false;
    // A run that held the file may have removed it between our open and our
    // lock: the lock is only ours if the name still leads to the file locked.
    struct stat held, named;
    if (fstat(fd, &held) == 0 && stat(name.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      lock->fd = fd;
      lock->lock_file = name;
      return true;
    }
    close(fd);
  }
}

std::string ProcessStartTime(long pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "";
  char buffer[1024];
  const size_t size = std::fread(buffer, 1, sizeof buffer - 1, file);
  std::fclose(file);
  const std::string text(buffer, size);
  // The command name, in parentheses, may hold spaces: fields count from its end.
  size_t at = text.rfind(')');
  if (at == std::string::npos) return "";
  for (int field = 2; field < 22; ++field) {
    at = text.find(' ', at + 1);
    if (at == std::string::npos) return "";
  }
  const size_t end = text.find(' ', at + 1);
  return text.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
}
