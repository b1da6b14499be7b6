#include "base/outputs.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/interrupts.h"
#include "base/text.h"

namespace speedup {
namespace {

// The folder part of `path` ("." for a bare name) and its last part.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_not_of('/') == path.npos
                                ? path.npos
                                : path.rfind('/', path.find_last_not_of('/'));
  if (slash == path.npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t end = path.find_last_not_of('/');
  if (end == path.npos) return path;
  const std::size_t slash = path.rfind('/', end);
  return path.substr(slash == path.npos ? 0 : slash + 1,
                     end - (slash == path.npos ? 0 : slash + 1) + 1);
}

Failure Cannot(const std::string& path, int error) {
  return Fail(FailureKind::kOutput, "cannot write " + Quoted(path) + ": " + std::strerror(error));
}

// Removes `path` and, for a folder, what it holds, two levels deep.
void RemoveTree(const std::string& path, int depth = 2) {
  if (DIR* folder = opendir(path.c_str())) {
    while (const dirent* entry = readdir(folder)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string inner = path + "/" + name;
      if (entry->d_type == DT_DIR && depth > 0) {
        RemoveTree(inner, depth - 1);
      } else {
        unlink(inner.c_str());
      }
    }
    closedir(folder);
    rmdir(path.c_str());
  }
}

// `path` made absolute and rid of ".", ".." and repeated slashes, the links of its folder
// resolved where the folder exists.
std::string Normalised(const std::string& path) {
  std::string absolute = path;
  if (!path.starts_with("/")) {
    char here[4096];
    absolute = std::string(getcwd(here, sizeof here) != nullptr ? here : ".") + "/" + path;
  }
  std::vector<std::string> parts;
  for (std::size_t at = 0; at <= absolute.size();) {
    std::size_t end = absolute.find('/', at);
    if (end == absolute.npos) end = absolute.size();
    const std::string part = absolute.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  std::string folder;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    folder += '/';
    folder += parts[i];
  }
  if (folder.empty()) folder.push_back('/');
  if (char* real = realpath(folder.c_str(), nullptr)) {
    folder = real;
    std::free(real);
  }
  if (parts.empty()) return "/";
  if (folder == "/") folder.clear();
  folder += '/';
  folder += parts.back();
  return folder;
}

// Whether `a` and `b` name one file: by device and inode where both exist, else by name.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  if (stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  }
  return Normalised(a) == Normalised(b);
}

// Whether `path` lies inside the folder `folder`.
bool Inside(const std::string& path, const std::string& folder) {
  const std::string where = Normalised(path);
  const std::string outer = Normalised(folder);
  return where.size() > outer.size() && where.starts_with(outer) && where[outer.size()] == '/';
}

}  // namespace

std::string TemporaryBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return FolderOf(path) + "/." + NameOf(path) + ".partial-" + std::to_string(getpid()) + "-" +
         std::to_string(counter++);
}

Result<StagedFolder> StagedFolder::Begin(const std::string& path,
                                         bool (*ours)(std::string_view name)) {
  const std::string temporary = TemporaryBeside(path);
  if (mkdir(temporary.c_str(), 0777) != 0) return Cannot(path, errno);
  return StagedFolder(path, temporary, ours, RegisterTemporary(temporary, true));
}

StagedFolder::StagedFolder(StagedFolder&& other) noexcept
    : path_(std::move(other.path_)),
      temporary_(std::move(other.temporary_)),
      ours_(other.ours_),
      slot_(other.slot_),
      committed_(other.committed_) {
  other.committed_ = true;  // the moved-from folder removes nothing
  other.slot_ = -1;
}

StagedFolder::~StagedFolder() {
  if (committed_) return;
  RemoveTree(temporary_);
  ForgetTemporary(slot_);
}

Status StagedFolder::Commit() {
  struct stat status {};
  if (lstat(path_.c_str(), &status) == 0) {
    if (!S_ISDIR(status.st_mode)) {
      return Fail(FailureKind::kOutput, Quoted(path_) + " exists and is not a folder");
    }
    // Only a folder of ours is replaced: --out pointed at a home folder must not empty it.
    if (DIR* folder = opendir(path_.c_str())) {
      bool foreign = false;
      while (const dirent* entry = readdir(folder)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != ".." && !ours_(name)) foreign = true;
      }
      closedir(folder);
      if (foreign) {
        return Fail(FailureKind::kOutput,
                    Quoted(path_) + " holds files this tool did not write; not replaced");
      }
    }
    // The old folder takes the temporary's name, removed with it below.
    if (renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, path_.c_str(), RENAME_EXCHANGE) != 0) {
      return Cannot(path_, errno);
    }
  } else if (rename(temporary_.c_str(), path_.c_str()) != 0) {
    return Cannot(path_, errno);
  }
  committed_ = true;
  RemoveTree(temporary_);
  ForgetTemporary(slot_);
  return Success();
}

Status CheckOutputs(const std::vector<std::string>& inputs,
                    const std::vector<std::string>& input_folders,
                    const std::vector<PlannedOutput>& outputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const PlannedOutput& output = outputs[i];
    const std::string named = output.option + " " + Quoted(output.path);
    if (output.path.empty()) continue;
    for (const std::string& input : inputs) {
      if (input != "-" && SameFile(input, output.path)) {
        return Fail(FailureKind::kUsage, named + " would write over an input");
      }
    }
    for (const std::string& input : input_folders) {
      if (SameFile(input, output.path) || Inside(output.path, input)) {
        return Fail(FailureKind::kUsage, named + " lies in the input folder " + Quoted(input));
      }
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (!outputs[j].path.empty() &&
          (SameFile(outputs[j].path, output.path) ||
           (outputs[j].folder && Inside(output.path, outputs[j].path)))) {
        return Fail(FailureKind::kUsage, named + " is also the path of " + outputs[j].option);
      }
    }
    const std::string folder = FolderOf(output.path);
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
      return Fail(FailureKind::kUsage,
                  named + ": the folder " + Quoted(folder) + " does not exist");
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
      return Fail(FailureKind::kUsage,
                  named + ": the folder " + Quoted(folder) + " is not writable");
    }
  }
  return Success();
}

}  // namespace speedup
