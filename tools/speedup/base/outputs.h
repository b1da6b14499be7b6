#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

// Outputs whole or absent: every file and folder the tool writes is made under a temporary name
// beside its path and renamed onto it when whole, so a full disk, a fault or an interrupt leaves
// the path as it was (files by WriteWholeFile, base/io.h). And the paths themselves checked
// before any work.
namespace speedup {

// A name beside `path` that no other writer of it takes, hidden: ".NAME.partial-PID-N". Files
// (WriteWholeFile, base/io.h) and folders are made under it and renamed onto `path` when whole.
std::string TemporaryBeside(const std::string& path);

// A folder made whole or not at all: written under a temporary name beside `path`, which
// Commit renames onto `path`; an existing folder at `path` is replaced only when it holds
// nothing but names `ours` admits. Dropped uncommitted, the temporary folder goes with its files.
class StagedFolder {
 public:
  // The staged folder for `path`; `ours` tells the names an earlier such folder may hold.
  static Result<StagedFolder> Begin(const std::string& path, bool (*ours)(std::string_view name));
  StagedFolder(StagedFolder&& other) noexcept;
  StagedFolder& operator=(StagedFolder&&) = delete;
  ~StagedFolder();

  // Where to write the folder's files.
  const std::string& where() const { return temporary_; }

  // Renames the whole folder onto its path; the failure names the path.
  Status Commit();

 private:
  StagedFolder(std::string path, std::string temporary, bool (*ours)(std::string_view), int slot)
      : path_(std::move(path)), temporary_(std::move(temporary)), ours_(ours), slot_(slot) {}
  std::string path_, temporary_;
  bool (*ours_)(std::string_view);
  int slot_;
  bool committed_ = false;
};

// A path the tool will write: a file, or a folder it makes whole.
struct PlannedOutput {
  std::string option;  // the option that names it, e.g. "--export-json"
  std::string path;
  bool folder = false;
};

// Refuses, in one line, an output whose folder is missing or not writable, one that is one of
// `inputs` (the same file by device and inode where it exists, else the same normalised path)
// or lies inside an input folder of `input_folders`, and two outputs to one path.
Status CheckOutputs(const std::vector<std::string>& inputs,
                    const std::vector<std::string>& input_folders,
                    const std::vector<PlannedOutput>& outputs);

}  // namespace speedup
