// The few Win32 names the installer uses. On Windows they come from <windows.h> and
// kernel32; everywhere else this header declares our own stand-in (platform/*_posix.cc),
// which behaves as the Windows calls do. This and platform/ are the only places that know
// which system the build is for.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>

typedef int BOOL;
typedef std::uint32_t DWORD;  // 32 bits, as on Windows
typedef unsigned char BYTE;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef struct ModuleTag* HMODULE;
typedef HMODULE HINSTANCE;

#define WINAPI
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(-1))
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_NORMAL 0x80u

// A handle to the running executable when `name` is null; null for any other name.
HMODULE GetModuleHandleA(LPCSTR name);

// Writes the full path of `module` (the running executable) with a NUL and returns its
// length. When it does not fit, `buffer` holds the first `size - 1` characters and a NUL
// and the call returns `size`. Returns 0 on failure.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

// The lead-byte test of the ANSI code page. The code page here is UTF-8, which has no
// trail byte equal to '\' or '/', so this is false for every byte.
BOOL IsDBCSLeadByte(BYTE byte);

// INVALID_FILE_ATTRIBUTES when nothing is at `path` (a dangling symbolic link included),
// FILE_ATTRIBUTE_DIRECTORY for a folder, FILE_ATTRIBUTE_NORMAL for anything else.
// Backslashes are path separators.
DWORD GetFileAttributesA(LPCSTR path);

// Reads `key` of `section` in the profile file `file` into `buffer` (at most `size - 1`
// characters and a NUL) and returns the count copied. When the file, section or key is
// missing, `default_value` (trailing spaces removed) is copied instead. Size 0 copies nothing.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR buffer,
                               DWORD size, LPCSTR file);

// Sets `key` of `section` in `file` to `value`, adding the key or section when missing and
// keeping every other byte of the file. The file is replaced atomically. Returns FALSE, with
// the file untouched, when it cannot be written or when `section`, `key` or `value` holds CR
// or LF.
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file);

// The program's entry, called by main() with the Windows arguments it has no use for.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);
#endif
