#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct ProcessResult {
  bool started = false;
  std::string start_error;  // why it could not be started
  std::string output;       // everything it wrote to the captured streams
  std::string failure;      // how it ended when not with status 0; empty otherwise
};

// Runs `argv` (the program is looked up in PATH unless it names a path) with end of file on
// standard input and its standard output captured, standard error too when `capture_stderr`.
// `on_output` sees each piece of output as it arrives. Returns when the program has ended.
ProcessResult RunProcess(const std::vector<std::string>& argv, bool capture_stderr,
                         const std::function<void(std::string_view)>& on_output);
