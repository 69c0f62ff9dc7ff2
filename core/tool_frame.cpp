#include "core/tool_frame.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "core/status_codes.h"

namespace {

// The errno of standard output's first failed write, 0 while none failed.
int standard_output_error = 0;

// Writes size bytes at data to descriptor 1, keeping the errno of a failure;
// returns size, or -1 (errno set) when not every byte could be written.
ssize_t WriteStandardOutput(void*, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t written = write(STDOUT_FILENO, data + done, size - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = written < 0 ? errno : EIO;
      if (standard_output_error == 0) standard_output_error = error;
      errno = error;
      return -1;
    }
    done += static_cast<size_t>(written);
  }
  return static_cast<ssize_t>(size);
}

// Routes stdout through WriteStandardOutput: the C library's own stream may
// drop the bytes of a failed write, and with them the reason, before the last
// flush. Buffered as the C library buffers it: by line on a terminal.
void RouteStandardOutput() {
  const cookie_io_functions_t functions{nullptr, WriteStandardOutput, nullptr, nullptr};
  std::FILE* routed = fopencookie(nullptr, "w", functions);
  if (routed == nullptr) return;  // the plain stream still works
  if (isatty(STDOUT_FILENO)) std::setvbuf(routed, nullptr, _IOLBF, BUFSIZ);
  std::fflush(stdout);
  stdout = routed;
}

}  // namespace

void FlushStandardOutput() {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int error = standard_output_error != 0 ? standard_output_error : errno != 0 ? errno : EIO;
    throw Failure(FailureKind::kFile, std::string("standard output: cannot write: ") + std::strerror(error), "",
                  error);
  }
}

void ShowToolLine(const char* program, std::string_view message) {
  char line[2048];
  size_t used = 0;
  const auto put = [&](char c) {
    if (used == sizeof line) {
      std::fwrite(line, 1, used, stderr);
      used = 0;
    }
    line[used++] = c;
  };
  for (const char* p = program; *p != '\0'; ++p) put(*p);
  put(':');
  put(' ');
  for (char c : message) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= ' ' && byte < 0x7f) {
      put(c);
    } else {
      put('\\');
      put('x');
      put("0123456789ABCDEF"[byte >> 4]);
      put("0123456789ABCDEF"[byte & 15]);
    }
  }
  put('\n');
  std::fwrite(line, 1, used, stderr);
}

int RunTool(const char* program, ToolBody body, int argc, char** argv, FailureWording wording) {
  RouteStandardOutput();
  try {
    body(argc, argv);
    FlushStandardOutput();
    return kStatusComplete;
  } catch (const Failure& failure) {
    std::fflush(stdout);
    ToolFailure shown;
    bool worded = false;
    try {
      worded = wording != nullptr && wording(failure, &shown);
    } catch (const std::bad_alloc&) {
      worded = false;
    }
    if (worded) {
      ShowToolLine(program, shown.message);
      return shown.status;
    }
    ShowToolLine(program, failure.what());
    return FailureStatus(failure.kind());
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    ShowToolLine(program, kMemoryShortage);
  } catch (const std::exception& failure) {
    std::fflush(stdout);
    const char* what = failure.what();
    ShowToolLine(program, *what != '\0' ? what : "Unexpected failure");
  }
  return kStatusDataError;
}
