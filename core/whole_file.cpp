#include "core/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool ReadWholeFile(const char* path, std::string* text) {
  int fd;
  do {
    fd = open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int saved = S_ISDIR(info.st_mode) ? EISDIR : errno;
    close(fd);
    errno = saved;
    return false;
  }
  char block[1 << 16];
  for (;;) {
    const ssize_t got = read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int saved = errno;
      close(fd);
      errno = saved;
      return false;
    }
    if (got == 0) break;
    text->append(block, static_cast<size_t>(got));
  }
  close(fd);
  return true;
}
