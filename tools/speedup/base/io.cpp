#include "base/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/interrupts.h"
#include "base/outputs.h"
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

namespace {

Failure CannotWrite(const std::string& path, int reason) {
  return Fail(FailureKind::kOutput, "cannot write " + Quoted(path) + ": " + std::strerror(reason));
}

// Writes `text` to `fd` and closes it; the errno of the first failure, or 0.
int WriteAndClose(int fd, const std::string& text, bool flush) {
  int reason = 0;
  for (std::size_t done = 0; reason == 0 && done < text.size();) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) reason = wrote < 0 ? errno : EIO;
    if (wrote > 0) done += static_cast<std::size_t>(wrote);
  }
  if (flush && reason == 0 && fsync(fd) != 0) reason = errno;
  // A full disk may show only here, on file systems that write on close.
  if (close(fd) != 0 && reason == 0) reason = errno;
  return reason;
}

// Renames `partial` onto `target`, the file it replaces kept under a second name until the tool
// is done (KeepPlacedOutputs), so that an interrupt before then puts the path back; 0 or errno.
int PutInPlace(const std::string& partial, const std::string& target) {
  const HeldInterrupts held;
  // Only an interrupt obeyed at once puts paths back; one only recorded leaves the tool to end
  // its step, keeping what it wrote.
  const bool kept = InterruptsObeyedAtOnce();
  std::string backup;
  struct stat status {};
  const bool existed = kept && lstat(target.c_str(), &status) == 0;
  if (existed) {
    backup = TemporaryBeside(target);
    if (link(target.c_str(), backup.c_str()) != 0) backup.clear();
  }
  if (rename(partial.c_str(), target.c_str()) != 0) {
    const int reason = errno;
    if (!backup.empty()) unlink(backup.c_str());
    return reason;
  }
  // Without a second name the old file cannot be put back, so the new one stays.
  if (kept && (!existed || !backup.empty())) RegisterPlaced(target, backup);
  return 0;
}

}  // namespace

Status WriteWholeFile(const std::string& path, const std::string& text) {
  struct stat status {};
  // A device or a pipe, such as /dev/stdout, which no rename may replace, is written in place.
  if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return CannotWrite(path, errno);
    if (const int reason = WriteAndClose(fd, text, false); reason != 0) {
      return CannotWrite(path, reason);
    }
    return Success();
  }
  // A link is followed: the file it names is replaced, the link stays.
  std::string target = path;
  if (lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    if (char* real = realpath(path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  const std::string partial = TemporaryBeside(target);
  const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return CannotWrite(path, errno);
  const int slot = RegisterTemporary(partial, false);
  int reason = WriteAndClose(fd, text, true);
  if (reason == 0) reason = PutInPlace(partial, target);
  if (reason != 0) unlink(partial.c_str());
  ForgetTemporary(slot);
  if (reason != 0) return CannotWrite(path, reason);
  return Success();
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
