// Path helpers of the POSIX stand-in.
#pragma once

#include <string>

// `path` with every backslash turned into '/': Windows paths use both as separators.
std::string ToPosixPath(const char* path);

// Follows `path` through symbolic links (at most 40) to the file they point to, which may
// not exist yet. False on a link loop or an unreadable link.
bool ResolveSymbolicLinks(const std::string& path, std::string& target);

// The directory part of `path` up to, not including, its last '/'; "." for a bare name and
// "/" for a file in the root.
std::string DirectoryOf(const std::string& path);
