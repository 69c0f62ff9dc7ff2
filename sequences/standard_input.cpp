#include "sequences/standard_input.h"

#include <fcntl.h>
#include <htslib/hfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/shown_text.h"
#include "sequences/sequence_failure.h"

namespace {

[[noreturn]] void FailRead(int error) {
  throw SequenceFailure(SequenceFailureKind::kUnreadable,
                        std::string("-: standard input: cannot read: ") + std::strerror(error != 0 ? error : EIO),
                        "-", error != 0 ? error : EIO);
}

// Closes a descriptor when the copy ends, however it ends.
struct DescriptorGuard {
  int fd;
  ~DescriptorGuard() {
    if (fd >= 0) close(fd);
  }
};

// Writes size bytes of data to fd; false with errno set on a failure.
bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t done = write(fd, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

}  // namespace

bool StandardInputPosition(long long* position) {
  const off_t at = lseek(STDIN_FILENO, 0, SEEK_CUR);
  if (at < 0) return false;
  *position = static_cast<long long>(at);
  return true;
}

void RestoreStandardInput(long long position) {
  if (lseek(STDIN_FILENO, static_cast<off_t>(position), SEEK_SET) < 0) FailRead(errno);
}

void HoldStandardInput() {
  // Seekable, or closed (its reader says so): left as it is.
  if (lseek(STDIN_FILENO, 0, SEEK_CUR) >= 0 || errno != ESPIPE) return;
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string directory = tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
  std::string name = directory + "/rnaqubo-seq-stdin-XXXXXX";
  DescriptorGuard copy{mkstemp(name.data())};
  auto fail_copy = [&](int error) {
    throw SequenceFailure(SequenceFailureKind::kUnreadable,
                          "-: standard input: cannot keep a copy in " + ShowText(directory) + ": " +
                              std::strerror(error),
                          "-", error);
  };
  if (copy.fd < 0) fail_copy(errno);
  // Nobody else can open it, and nothing is left behind however the run ends.
  unlink(name.c_str());
  errno = 0;
  hFILE* input = hopen("-", "r");
  if (input == nullptr) FailRead(errno);
  std::vector<char> buffer(size_t{1} << 16);
  for (;;) {
    errno = 0;
    const ssize_t got = hread(input, buffer.data(), buffer.size());
    if (got < 0) {
      const int error = errno;
      hclose_abruptly(input);
      FailRead(error);
    }
    if (got == 0) break;
    if (!WriteAll(copy.fd, buffer.data(), static_cast<size_t>(got))) {
      const int error = errno;
      hclose_abruptly(input);
      fail_copy(error);
    }
  }
  // Closing the stream closes descriptor 0, which the copy then takes over.
  hclose_abruptly(input);
  if (lseek(copy.fd, 0, SEEK_SET) < 0 || dup2(copy.fd, STDIN_FILENO) < 0) fail_copy(errno);
}
