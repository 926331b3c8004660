// Reading single values of profile (".ini") files through the platform's profile calls.
#pragma once

#include <string>

// The value of `key` in `section` of the profile file `file`, whole, as an owned string
// (up to its first NUL byte); `default_value` when the file, the section or the key is
// missing. Values of any length arrive whole. Throws std::bad_alloc when memory runs out.
std::string ReadProfileValue(const char* file, const char* section, const char* key, const char* default_value);
