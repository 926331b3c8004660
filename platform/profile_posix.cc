// The stand-in for GetPrivateProfileStringA and WritePrivateProfileStringA on systems that
// are not Windows. It follows the Windows behaviour line for line, and does better on purpose
// in four places: a UTF-8 byte-order mark is skipped, a UTF-16 file is left alone, a value
// with a line break is refused, and every write replaces the file atomically.
//
// Cost: a file is parsed once into a section index and kept while its identity on disk
// (device, inode, size, modification and change time) is unchanged, so a search that probes
// thousands of sections reads the file once; a write re-serialises the file once.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/profile_cache.h"
#include "platform/posix_path.h"
#include "platform/win32.h"

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t kNpos = std::string::npos;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Names given to a call lose spaces only; tabs stay and then match nothing.
std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// One line of the file: [begin, end) is its text, [end, next) its line break.
struct Line {
  std::size_t begin, end, next;
};

Line LineAt(const std::string& text, std::size_t pos) {
  const char* data = text.data();
  const std::size_t size = text.size();
  std::size_t end = pos;
  while (end < size && data[end] != '\n' && data[end] != '\r') ++end;
  std::size_t next = end;
  if (next < size) next += (data[next] == '\r' && next + 1 < size && data[next + 1] == '\n') ? 2 : 1;
  return {pos, end, next};
}

std::size_t FirstNonBlank(const std::string& text, const Line& line) {
  std::size_t i = line.begin;
  while (i < line.end && IsBlank(text[i])) ++i;
  return i;
}

// The section name of a header line whose first non-blank byte, at `bracket`, is '['.
std::string_view HeaderName(const std::string& text, const Line& line, std::size_t bracket) {
  std::string_view rest(text.data() + bracket + 1, line.end - bracket - 1);
  return TrimBlanks(rest.substr(0, rest.find(']')));
}

struct Section {
  std::size_t header;  // offset of the header line
  std::string name;    // as the parser sees it: blanks trimmed
};

// A profile file as bytes plus the index of its sections, and the identity on disk that the
// bytes belong to.
struct ProfileText {
  std::string bytes;
  std::size_t body = 0;   // where lines start: after a UTF-8 byte-order mark
  bool unicode = false;   // UTF-16: never parsed, never written
  std::vector<Section> sections;
  std::unordered_map<std::string, std::size_t> first;  // lower-case name -> first section
  struct stat identity {};
  timespec checked{};  // a moment before which the bytes were last known to be the file's


  void Parse() {
    sections.clear();
    first.clear();
    unicode = bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                    (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
    body = bytes.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0 ? kUtf8Bom.size() : 0;
    if (unicode) return;
    for (std::size_t pos = body; pos < bytes.size();) {
      const Line line = LineAt(bytes, pos);
      const std::size_t lead = FirstNonBlank(bytes, line);
      if (lead < line.end && bytes[lead] == '[') AddSection(line.begin, HeaderName(bytes, line, lead));
      pos = line.next;
    }
  }

  void AddSection(std::size_t header, std::string_view name) {
    first.emplace(LowerAscii(name), sections.size());
    sections.push_back({header, std::string(name)});
  }

  std::size_t FindSection(std::string_view name) const {
    const auto it = first.find(LowerAscii(name));
    return it == first.end() ? kNpos : it->second;
  }

  std::size_t SectionEnd(std::size_t index) const {
    return index + 1 < sections.size() ? sections[index + 1].header : bytes.size();
  }

  // The line break that new lines take: the file's first, or CR LF when it has none.
  std::string_view LineBreak() const {
    const std::size_t at = bytes.find_first_of("\r\n");
    if (at == kNpos) return "\r\n";
    if (bytes[at] == '\n') return "\n";
    return (at + 1 < bytes.size() && bytes[at + 1] == '\n') ? "\r\n" : "\r";
  }
};

// Whether a change to the file since `checked` would show in its identity. A change within
// one tick of the file system's clock can keep size and times as they were, so the cache is
// trusted only once the last change (ctime, which no program can set back) lies a margin
// before `checked`: 20 ms where times have nanoseconds, 2 s where they look whole-second.
bool Settled(const ProfileText& text);

// Where a key stands in a section: the first key line of that name, and the place after
// the section's last key line (or after its header) where a new key would go.
struct KeyPlace {
  bool found = false;
  Line line{};
  std::size_t equals = 0;
  Line insert_after{};
};

KeyPlace FindKey(const ProfileText& text, std::size_t section, std::string_view key) {
  KeyPlace place;
  const std::string& bytes = text.bytes;
  const Line header = LineAt(bytes, text.sections[section].header);
  place.insert_after = header;
  const std::size_t end = text.SectionEnd(section);
  for (std::size_t pos = header.next; pos < end;) {
    const Line line = LineAt(bytes, pos);
    pos = line.next;
    const std::size_t lead = FirstNonBlank(bytes, line);
    if (lead < line.end && bytes[lead] == ';') continue;
    const void* eq = std::memchr(bytes.data() + line.begin, '=', line.end - line.begin);
    if (eq == nullptr) continue;
    const std::size_t equals = static_cast<const char*>(eq) - bytes.data();
    const std::string_view name(bytes.data() + line.begin, equals - line.begin);
    if (EqualsNoCase(TrimBlanks(name), key)) {
      place.found = true;
      place.line = line;
      place.equals = equals;
      return place;
    }
    place.insert_after = line;
  }
  return place;
}

// The value as a reader sees it: blanks trimmed, then one outer pair of like quotes removed.
std::string_view ReadValue(const std::string& bytes, const KeyPlace& place) {
  std::string_view value =
      TrimBlanks(std::string_view(bytes.data() + place.equals + 1, place.line.end - place.equals - 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

// --- Files ----------------------------------------------------------------------------------

timespec Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now;
}

long long Nanoseconds(const timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; }

bool SameIdentity(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

bool Settled(const ProfileText& text) {
  const long long margin = text.identity.st_ctim.tv_nsec != 0 ? 20000000LL : 2000000000LL;
  return Nanoseconds(text.checked) - Nanoseconds(text.identity.st_ctim) >= margin;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool ReadAll(int fd, std::string& out) {
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(chunk, static_cast<std::size_t>(n));
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The few most recently used files; a reader and a writer alternate between two.
class ProfileCache {
 public:
  // The parse of the file whose stat is `st` when the cache holds it and it is settled, so
  // that it need not even be opened; null otherwise.
  ProfileText* Peek(const struct stat& st) {
    for (auto& entry : entries_)
      if (SameIdentity(entry->identity, st) && Settled(*entry)) return entry.get();
    return nullptr;
  }

  // The parse of the regular file open at `fd`, whose fstat is `st`: from the cache while the
  // file's identity is unchanged, otherwise read afresh. Null when it cannot be read.
  ProfileText* Get(int fd, const struct stat& st) {
    const timespec before = Now();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if ((*it)->identity.st_dev != st.st_dev || (*it)->identity.st_ino != st.st_ino) continue;
      if (!SameIdentity((*it)->identity, st)) {
        entries_.erase(it);
        break;
      }
      std::rotate(entries_.begin(), it, it + 1);
      ProfileText* text = entries_.front().get();
      if (Settled(*text)) return text;
      // Changed too recently to tell a later change by its times: compare the bytes.
      std::string bytes;
      bytes.reserve(text->bytes.size());
      if (!ReadAll(fd, bytes)) return nullptr;
      if (bytes != text->bytes) {
        text->bytes.swap(bytes);
        text->Parse();
      }
      text->checked = before;
      return text;
    }
    auto text = std::make_unique<ProfileText>();
    text->bytes.reserve(static_cast<std::size_t>(st.st_size));
    if (!ReadAll(fd, text->bytes)) return nullptr;
    text->identity = st;
    text->checked = before;
    text->Parse();
    return Put(std::move(text));
  }

  ProfileText* Put(std::unique_ptr<ProfileText> text) {
    Forget(text->identity);
    if (entries_.size() >= kCapacity) entries_.pop_back();
    entries_.insert(entries_.begin(), std::move(text));
    return entries_.front().get();
  }

  void Forget(const struct stat& st) {
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const std::unique_ptr<ProfileText>& e) {
                                    return e->identity.st_dev == st.st_dev && e->identity.st_ino == st.st_ino;
                                  }),
                   entries_.end());
  }

  void Clear() { entries_.clear(); }

 private:
  static constexpr std::size_t kCapacity = 4;
  std::vector<std::unique_ptr<ProfileText>> entries_;
};

ProfileCache& Cache() {
  static ProfileCache cache;
  return cache;
}

// A temporary file beside the target, removed again unless it replaced the target.
//
// Where the system has them it is an unnamed file (O_TMPFILE) that gets a name only just
// before the rename, so a process killed while writing leaves nothing behind in the user's
// folder. Elsewhere it is a mkstemp file. Either way the name is unpredictable and created
// exclusively, so nothing planted in the folder beforehand can be used.
class TempFile {
 public:
  explicit TempFile(const std::string& target) : target_(target) {
    const std::size_t slash = target.rfind('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    stem_ = target.substr(0, base) + "." + target.substr(base, 200) + ".tmp-";
#ifdef O_TMPFILE
    if (access("/proc/self/fd", X_OK) == 0) {
      const std::string dir = base == 0 ? "." : target.substr(0, base);
      fd_ = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
      if (fd_ >= 0) return;
    }
#endif
    path_ = stem_ + "XXXXXX";
    fd_ = mkstemp(&path_[0]);
    if (fd_ < 0) path_.clear();
  }
  ~TempFile() {
    if (fd_ >= 0) close(fd_);
    if (!path_.empty() && !replaced_) unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  int fd() const { return fd_; }

  // Removes what a process killed between naming its temporary file and the rename left
  // beside the target: names of exactly the random form that Name() gives. Such a name lives
  // only for that moment, so a writer caught in it loses nothing: its rename fails.
  void RemoveLeftovers() const {
    const std::size_t slash = stem_.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : stem_.substr(0, slash + 1);
    const std::string prefix = stem_.substr(slash == std::string::npos ? 0 : slash + 1);
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent* entry = readdir(d)) {
      const std::string name = entry->d_name;
      if (name.size() != prefix.size() + kRandomLength || name.compare(0, prefix.size(), prefix) != 0) continue;
      if (name.find_first_not_of(kLetters, prefix.size()) != std::string::npos) continue;
      unlinkat(dirfd(d), name.c_str(), 0);
    }
    closedir(d);
  }

  // Puts the written file in the target's place by a rename.
  bool ReplaceTarget() {
    if (path_.empty() && !Name()) return false;
    if (rename(path_.c_str(), target_.c_str()) != 0) return false;
    replaced_ = true;
    return true;
  }

 private:
  // Links the unnamed file into the folder under a fresh random name.
  bool Name() {
    std::random_device random;
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = stem_;
      for (std::size_t i = 0; i < kRandomLength; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
      if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        path_ = name;
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }

  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static constexpr std::size_t kRandomLength = 12;
  std::string target_, stem_, path_;
  int fd_ = -1;
  bool replaced_ = false;
};

mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// One change to a file's bytes: `remove` bytes at `at` give way to `insert`.
struct Edit {
  std::size_t at = 0, remove = 0;
  std::string insert;
  bool new_section = false;
};

Edit PlanWrite(const ProfileText& text, std::string_view section, std::string_view key, std::string_view value) {
  Edit edit;
  const std::size_t index = text.FindSection(section);
  const std::string_view eol = text.LineBreak();
  if (index != kNpos) {
    const KeyPlace place = FindKey(text, index, key);
    if (place.found) {
      // The line keeps everything up to the old value: key spelling and blanks around '='.
      edit.at = place.equals + 1;
      while (edit.at < place.line.end && IsBlank(text.bytes[edit.at])) ++edit.at;
      edit.remove = place.line.end - edit.at;
      edit.insert = std::string(value);
      return edit;
    }
    edit.at = place.insert_after.next;
    if (place.insert_after.next == place.insert_after.end) edit.insert = std::string(eol);  // last line, unterminated
  } else {
    edit.at = text.bytes.size();
    edit.new_section = true;
    const char last = text.bytes.empty() ? '\n' : text.bytes.back();
    if (text.bytes.size() > text.body && last != '\n' && last != '\r') edit.insert = std::string(eol);
    edit.insert.append("[").append(section).append("]").append(eol);
  }
  edit.insert.append(key).append("=").append(value).append(eol);
  return edit;
}

// Brings the parse of `text` up to date with an edit just written, without parsing again.
void ApplyEdit(ProfileText& text, const Edit& edit, std::string_view key) {
  text.bytes.replace(edit.at, edit.remove, edit.insert);
  const std::string_view lead = TrimBlanks(key);
  if (!lead.empty() && lead.front() == '[') {  // the new key line reads as a header
    text.Parse();
    return;
  }
  const std::ptrdiff_t delta = static_cast<std::ptrdiff_t>(edit.insert.size()) - static_cast<std::ptrdiff_t>(edit.remove);
  auto it = std::lower_bound(text.sections.begin(), text.sections.end(), edit.at,
                             [](const Section& s, std::size_t at) { return s.header < at; });
  for (; it != text.sections.end(); ++it) it->header += delta;
  if (edit.new_section) {
    const std::size_t header = text.bytes.find('[', edit.at);
    const Line line = LineAt(text.bytes, header);
    text.AddSection(header, HeaderName(text.bytes, line, header));
  }
}

}  // namespace

void ClearProfileCache() { Cache().Clear(); }

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR buffer, DWORD size,
                               LPCSTR file) {
  std::string_view value;
  bool found = false;
  std::string_view fallback = default_value != nullptr ? default_value : "";
  while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);

  const ProfileText* text = nullptr;
  if (section != nullptr && key != nullptr && file != nullptr) {
    const std::string path = ToPosixPath(file);
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      // A search probes the same unchanged file thousands of times: stat alone tells it is
      // the one parsed. Otherwise open it, to read what is there.
      text = Cache().Peek(st);
      if (text == nullptr) {
        const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (fd.get() >= 0 && fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) text = Cache().Get(fd.get(), st);
      }
    }
  }
  if (text != nullptr && !text->unicode) {
    const std::size_t index = text->FindSection(TrimSpaces(section));
    if (index != kNpos) {
      const KeyPlace place = FindKey(*text, index, TrimSpaces(key));
      if (place.found) {
        value = ReadValue(text->bytes, place);
        found = true;
      }
    }
  }
  if (!found) value = fallback;

  if (size == 0 || buffer == nullptr) return 0;
  const std::size_t count = std::min<std::size_t>(value.size(), size - 1);
  std::memcpy(buffer, value.data(), count);
  buffer[count] = '\0';
  return static_cast<DWORD>(count);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  if (section == nullptr || key == nullptr || value == nullptr || file == nullptr || *file == '\0') return FALSE;
  // A line break in any of them would write lines of its own into the file.
  if (std::strpbrk(value, "\r\n") != nullptr || std::strpbrk(section, "\r\n") != nullptr ||
      std::strpbrk(key, "\r\n") != nullptr)
    return FALSE;
  const std::string_view section_name = TrimSpaces(section);
  const std::string_view key_name = TrimSpaces(key);

  std::string target;
  if (!ResolveSymbolicLinks(ToPosixPath(file), target)) return FALSE;

  const Fd fd(open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0 && errno != ENOENT) return FALSE;
  const bool exists = fd.get() >= 0;
  struct stat old {};
  ProfileText fresh;
  ProfileText* text = &fresh;
  if (exists) {
    if (fstat(fd.get(), &old) != 0 || !S_ISREG(old.st_mode)) return FALSE;
    text = Cache().Get(fd.get(), old);
    if (text == nullptr || text->unicode) return FALSE;
  }

  const Edit edit = PlanWrite(*text, section_name, key_name, value);
  const timespec before = Now();
  TempFile temp(target);
  if (temp.fd() < 0) return FALSE;
  // The new file keeps the old one's owner where we may give it away (as root); otherwise it
  // becomes ours, with the old file's content and permission bits.
  if (exists) (void)!fchown(temp.fd(), old.st_uid, old.st_gid);
  const std::string& bytes = text->bytes;
  const std::string_view all(bytes);
  if (fchmod(temp.fd(), exists ? (old.st_mode & 07777) : NewFileMode()) != 0 ||
      !WriteAll(temp.fd(), all.substr(0, edit.at)) || !WriteAll(temp.fd(), edit.insert) ||
      !WriteAll(temp.fd(), all.substr(edit.at + edit.remove)) || fsync(temp.fd()) != 0)
    return FALSE;
  temp.RemoveLeftovers();
  // The rename is not flushed on its own: until it is on disk a power loss leaves the old
  // file, which is one of the two states a write may leave.
  if (!temp.ReplaceTarget()) return FALSE;

  struct stat now {};
  if (fstat(temp.fd(), &now) != 0) {
    Cache().Clear();
  } else if (exists) {
    ApplyEdit(*text, edit, key_name);  // the cached parse now describes the new file
    text->identity = now;
    text->checked = before;
  } else {
    auto created = std::make_unique<ProfileText>();
    created->bytes = edit.insert;
    created->identity = now;
    created->checked = before;
    created->Parse();
    Cache().Put(std::move(created));
  }
  return TRUE;
}
