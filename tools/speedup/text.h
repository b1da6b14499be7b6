#pragma once

#include <string>
#include <string_view>

// `text` safe to show on a terminal: C0 and C1 controls, DEL, and bytes that are not part of
// well-formed UTF-8 appear as \xHH, so input can neither move the cursor nor hide behind a NUL.
std::string Printable(std::string_view text);

// `text` with each byte outside well-formed UTF-8 as \xHH, controls kept: what a JSON writer
// that accepts only UTF-8 can always write.
std::string ValidUtf8(std::string_view text);

// `text` in double quotes, made Printable.
std::string Quoted(std::string_view text);
