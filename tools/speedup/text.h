#pragma once

#include <string>
#include <string_view>

// `text` safe to show on a terminal: bytes below 0x20, DEL, and bytes that are not part of
// valid UTF-8 appear as \xHH, so input can neither move the cursor nor hide behind a NUL.
std::string Printable(std::string_view text);

// `text` in double quotes, made Printable.
std::string Quoted(std::string_view text);
