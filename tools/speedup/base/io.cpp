#include "base/io.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/text.h"

namespace speedup {

Result<std::string> ReadInput(const std::string& path) {
  const std::string name = path == "-" ? "standard input" : Printable(path);
  FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return Fail(FailureKind::kInput, "cannot read " + name + ": " + std::strerror(errno));
  }
  std::string text;
  char buffer[65536];
  std::size_t got = 0;
  while (text.size() <= MAX_INPUT_BYTES && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, got);
  }
  const int error = std::ferror(file) != 0 ? errno : 0;
  if (file != stdin) std::fclose(file);
  if (error != 0) {
    return Fail(FailureKind::kInput, "cannot read " + name + ": " + std::strerror(error));
  }
  if (text.size() > MAX_INPUT_BYTES) {
    return Fail(FailureKind::kInput, name + " is larger than " +
                                         std::to_string(MAX_INPUT_BYTES >> 20) +
                                         " MiB, more than any saved session");
  }
  return text;
}

Status WriteOut(const std::string& text) {
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t got = write(STDOUT_FILENO, text.data() + written, text.size() - written);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      return Fail(FailureKind::kOutput,
                  std::string("cannot write standard output: ") + std::strerror(errno));
    }
    written += got;
  }
  return Success();
}

Status WriteWholeFile(const std::string& path, const std::string& text) {
  static std::atomic<unsigned> serial{0};
  const std::string partial =
      path + ".partial-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
  const auto failed = [&path](int reason) {
    return Fail(FailureKind::kOutput,
                "cannot write " + Quoted(path) + ": " + std::strerror(reason));
  };
  const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return failed(errno);
  int reason = 0;
  for (std::size_t done = 0; reason == 0 && done < text.size();) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) reason = wrote < 0 ? errno : EIO;
    if (wrote > 0) done += static_cast<std::size_t>(wrote);
  }
  if (reason == 0 && fsync(fd) != 0) reason = errno;
  if (close(fd) != 0 && reason == 0) reason = errno;
  if (reason == 0 && rename(partial.c_str(), path.c_str()) != 0) reason = errno;
  if (reason == 0) return Success();
  unlink(partial.c_str());
  return failed(reason);
}

Result<std::string> ReadWholeFile(const std::string& path) {
  const auto failed = [&path] {
    return Fail(FailureKind::kInput,
                "cannot read " + Printable(path) + ": " + std::strerror(errno));
  };
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failed();
  std::string data;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const Failure failure = failed();
      close(fd);
      return failure;
    }
    if (got == 0) break;
    data.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return data;
}

bool WriteAllAndClose(int fd, const std::string& data) {
  for (std::size_t done = 0; done < data.size();) {
    const ssize_t wrote = write(fd, data.data() + done, data.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) {
      const int error = errno;
      close(fd);
      errno = error;
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return close(fd) == 0;
}

}  // namespace speedup
