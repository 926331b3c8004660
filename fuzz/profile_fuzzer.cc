// Fuzzes the stand-in's profile calls. Each input is a file and a list of reads and writes.
// Every read is compared with a reference reader written here from the line model, plainly
// and without a cache; after every write:
//   - the written key reads back as the value does after the reader's blank and quote rule;
//   - every other section and key reads back as before;
//   - the bytes outside the changed line are unchanged;
//   - a name or value with CR or LF, or a UTF-16 file, is refused and the file left as it was.
// Names that the file would read otherwise than they are written (a key starting with '[' or
// ';', holding '=', or with blanks at its ends) are written too; for them the byte rule is
// checked, and that the cached answer for those names is what the file on disk says.

#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/profile_cache.h"
#include "platform/win32.h"

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Trim(const std::string& s, bool blanks) {
  std::size_t b = 0, e = s.size();
  auto is = [&](char c) { return blanks ? Blank(c) : c == ' '; };
  while (b < e && is(s[b])) ++b;
  while (e > b && is(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string ReaderRule(std::string v) {
  v = Trim(v, true);
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
  return v;
}

// The reference reader: section -> key -> value, first occurrences only, names lower-cased.
using Profile = std::map<std::string, std::map<std::string, std::string>>;

std::optional<Profile> Reference(const std::string& bytes) {
  if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF')))
    return std::nullopt;
  std::size_t pos = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  Profile profile;
  std::map<std::string, std::string>* current = nullptr;
  while (pos < bytes.size()) {
    std::size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
    const std::string line = bytes.substr(pos, end - pos);
    pos = end;
    if (pos < bytes.size()) pos += (bytes[pos] == '\r' && pos + 1 < bytes.size() && bytes[pos + 1] == '\n') ? 2 : 1;
    const std::string lead = Trim(line, true);
    if (!lead.empty() && lead[0] == '[') {
      const std::string name = Lower(Trim(lead.substr(1, lead.find(']') == std::string::npos ? std::string::npos : lead.find(']') - 1), true));
      current = profile.count(name) ? nullptr : &profile[name];
      continue;
    }
    if (current == nullptr || (!lead.empty() && lead[0] == ';')) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    current->emplace(Lower(Trim(line.substr(0, eq), true)), ReaderRule(line.substr(eq + 1)));
  }
  return profile;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The value through the stand-in, or nullopt when the default arrives: a key is missing when
// two different defaults both come back.
std::optional<std::string> Api(const std::string& file, const std::string& section, const std::string& key) {
  std::vector<char> buffer(1 << 16);
  const auto read = [&](const char* fallback) {
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback, buffer.data(),
                                             static_cast<DWORD>(buffer.size()), file.c_str());
    return std::string(buffer.data(), n);
  };
  const std::string got = read("1");
  if (got == "1" && read("2") == "2") return std::nullopt;
  return got;
}

std::optional<std::string> Lookup(const Profile& p, const std::string& section, const std::string& key) {
  const auto s = p.find(Lower(Trim(section, false)));
  if (s == p.end()) return std::nullopt;
  const auto k = s->second.find(Lower(Trim(key, false)));
  if (k == s->second.end()) return std::nullopt;
  return k->second;
}

// Reports a broken rule and stops; `b`, often a whole file, goes to fuzz-failure.bin too, as
// it may hold NUL bytes.
[[noreturn]] void Fail(const char* what, const std::string& a = "", const std::string& b = "") {
  std::fprintf(stderr, "%s\n  [%s]\n  [%s]\n", what, a.c_str(), b.c_str());
  std::ofstream("fuzz-failure.bin", std::ios::binary).write(b.data(), static_cast<std::streamsize>(b.size()));
  std::abort();
}

const char* const kNames[] = {"s", "S", " s ", "fltsim.0", "FLTSIM.0", "k", "K", "title", "t", "",
                              ";k", "[x", "\t[x", " ;k", "a=b", "\tk", "x]", "#h", "\xC3\xA9", "k k"};

std::string PickName(FuzzedDataProvider& in) {
  if (in.ConsumeBool()) return kNames[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kNames) - 1)];
  return std::string(in.ConsumeRandomLengthString(8).c_str());
}

// Reads back as it was written.
bool Plain(const std::string& name, bool is_key) {
  const std::string n = Trim(name, false);
  if (n != Trim(n, true)) return false;
  if (is_key) return !n.empty() && n[0] != '[' && n[0] != ';' && n.find('=') == std::string::npos;
  return n.find(']') == std::string::npos;
}

std::string Directory() {
  static const std::string dir = [] {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string d = base + "/profile-fuzz-" + std::to_string(getpid());
    mkdir(d.c_str(), 0700);
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string file = Directory() + "/f.ini";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    const std::string content = in.ConsumeRandomLengthString(2048);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  if (in.ConsumeBool()) ClearProfileCache();

  const int operations = in.ConsumeIntegralInRange(1, 6);
  for (int op = 0; op < operations && in.remaining_bytes() > 0; ++op) {
    const std::string section = PickName(in);
    const std::string key = PickName(in);
    const std::string before = ReadFile(file);
    const std::optional<Profile> reference = Reference(before);

    if (!in.ConsumeBool()) {
      const std::optional<std::string> got = Api(file, section, key);
      const std::optional<std::string> want = reference ? Lookup(*reference, section, key) : std::nullopt;
      if (got != want) Fail("read differs from the reference reader", got.value_or("<none>"), want.value_or("<none>"));
      continue;
    }

    const std::string value = std::string(in.ConsumeRandomLengthString(48).c_str());
    const bool ok = WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != FALSE;
    const std::string after = ReadFile(file);
    if ((value + section + key).find_first_of("\r\n") != std::string::npos || !reference) {
      if (ok || after != before) Fail("a refused write changed something", before, after);
      continue;
    }
    if (!ok) Fail("a write failed", section, key);

    // Bytes outside one line stay: what differs in the old file holds no line break.
    std::size_t prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) ++prefix;
    std::size_t suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
      ++suffix;
    const std::string removed = before.substr(prefix, before.size() - prefix - suffix);
    if (removed.find_first_of("\r\n") != std::string::npos) Fail("bytes beyond one line changed", before, after);

    const std::optional<Profile> now = Reference(after);
    if (!now) Fail("the written file no longer parses");
    // Whatever the names, the cached answer is what the file on disk now says.
    if (Api(file, section, key) != Lookup(*now, section, key))
      Fail("after a write the cache and the file disagree", "[" + section + "]" + key + "=" + value, after);

    if (!Plain(section, false) || !Plain(key, true)) continue;
    const std::optional<std::string> back = Api(file, section, key);
    if (back != ReaderRule(value))
      Fail("the written key does not read back", "[" + section + "]" + key + "=" + value, before + "\n---\n" + after);
    if (Lookup(*now, section, key) != ReaderRule(value))
      Fail("the reference reader disagrees on the written key", "[" + section + "]" + key + "=" + value, after);
    Profile expected = *reference;
    expected[Lower(Trim(section, false))][Lower(Trim(key, false))] = ReaderRule(value);
    if (expected != *now) Fail("another section or key changed", before, after);
  }

  // What the cache answers is what a fresh parse answers.
  const std::string section = PickName(in), key = PickName(in);
  const std::optional<std::string> cached = Api(file, section, key);
  ClearProfileCache();
  if (Api(file, section, key) != cached) Fail("the cache and a fresh parse disagree", section, key);
  return 0;
}
