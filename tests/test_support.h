#pragma once

#include <functional>
#include <string>
#include <string_view>

// Windows-1251 bytes of UTF-8 text, converted by the C library, independently of the program.
std::string Cp1251(std::string_view utf8);

// Everything `action` writes to standard output.
std::string CapturedOutput(const std::function<void()>& action);

// `report` with every figure of whole-millisecond seconds after "=" replaced by "S".
std::string WithoutSeconds(const std::string& report);

// Zeroes every matrix and sets N to `size`.
void ResetWorkspace(int size);
