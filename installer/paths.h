// Where the two files lie, found from the executable's own full path.
#pragma once

#include <cstddef>

constexpr std::size_t kPathCapacity = 260;       // characters, terminator included
constexpr std::size_t kDriveCapacity = 3;        // "C:" and the terminator
constexpr std::size_t kDirectoryCapacity = 256;  // 255 characters and the terminator

// Whether a byte is the first of a two-byte character in the ANSI code page.
using LeadByteTest = bool (*)(unsigned char byte);

// Splits the executable's full path `path` into `drive` (the first two characters when the
// second is ':', else empty) and `directory` (what follows, up to and including the last '\'
// or '/'; empty when there is none). A leading "\\?\" is skipped and "\\?\UNC\" reads as
// "\\". A lead byte and the byte after it are one character, so a trail byte equal to '\'
// separates nothing. False, with both outputs empty, when the directory exceeds its capacity.
bool SplitModulePath(const char* path, LeadByteTest is_lead_byte, char (&drive)[kDriveCapacity],
                     char (&directory)[kDirectoryCapacity]);

// Builds "<drive><directory>\livery.ini" and "<drive><directory>\..\aircraft.cfg" exactly so,
// the doubled separator and the ".." step left to the file system. False when either does
// not fit kPathCapacity.
bool BuildFilePaths(const char* drive, const char* directory, char (&livery)[kPathCapacity],
                    char (&aircraft)[kPathCapacity]);
