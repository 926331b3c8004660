#include "platform/posix_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

std::string ToPosixPath(const char* path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool ResolveSymbolicLinks(const std::string& path, std::string& target) {
  target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(target.c_str(), &st) != 0) return errno == ENOENT;  // a new file or a dangling link's target
    if (!S_ISLNK(st.st_mode)) return true;
    std::vector<char> link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 2);
    const ssize_t n = readlink(target.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<std::size_t>(n) >= link.size()) return false;
    const std::string next(link.data(), static_cast<std::size_t>(n));
    target = (!next.empty() && next[0] == '/') ? next : DirectoryOf(target) + "/" + next;
  }
  return false;
}
