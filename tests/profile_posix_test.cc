// The stand-in for the two profile calls, against the behaviour of the Windows calls.

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/profile_cache.h"
#include "platform/win32.h"
#include "tests/test_support.h"

using namespace std::string_literals;

namespace {

constexpr char kDefault[] = "<default>";

std::string Read(const std::string& file, const char* section, const char* key) {
  char buffer[256];
  const DWORD n = GetPrivateProfileStringA(section, key, kDefault, buffer, sizeof buffer, file.c_str());
  return std::string(buffer, n);
}

// Names of everything in `dir`, to show that no temporary file stays behind.
std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name != "."s && e->d_name != ".."s) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Runs `body` in a child process as an unprivileged user when we are root (root's writes are
// not stopped by permission bits), and returns what the body returned.
int RunUnprivileged(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// --- Reading ---------------------------------------------------------------------------------

struct ReadCase {
  const char* what;
  std::string file;
  const char* section;
  const char* key;
  std::string expected;  // kDefault when the default must arrive
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.what; }

class ProfileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRead, GivesTheValueAWindowsReaderGives) {
  const ReadCase& c = GetParam();
  ScratchDir dir;
  const std::string file = dir.Path("f.ini");
  WriteBytes(file, c.file);
  EXPECT_EQ(Read(file, c.section, c.key), c.expected) << c.what;
}

const ReadCase kReadCases[] = {
    {"names match in any letter case", "[Sec]\r\nKey=v\r\n", "sEC", "kEY", "v"},
    {"blanks around names and value", "[ sec ]\r\n \t key \t=  \t value \t \r\n", "sec", "key", "value"},
    {"spaces around the given names", "[ sec ]\r\n \t key \t=  \t value \t \r\n", "  sec  ", "  key  ", "value"},
    {"a tab in a given name is kept", "[ sec ]\r\n \t key \t=  \t value \t \r\n", "\tsec", "key", kDefault},
    {"a comment is no key", "[s]\r\n;k=1\r\n  ;j=2\r\n#h=3\r\nv=a ;b\r\n", "s", ";k", kDefault},
    {"a comment hides its key", "[s]\r\n;k=1\r\n  ;j=2\r\n#h=3\r\nv=a ;b\r\n", "s", "k", kDefault},
    {"an indented comment", "[s]\r\n;k=1\r\n  ;j=2\r\n#h=3\r\nv=a ;b\r\n", "s", "j", kDefault},
    {"# is an ordinary character", "[s]\r\n;k=1\r\n  ;j=2\r\n#h=3\r\nv=a ;b\r\n", "s", "#h", "3"},
    {"no inline comments", "[s]\r\n;k=1\r\n  ;j=2\r\n#h=3\r\nv=a ;b\r\n", "s", "v", "a ;b"},
    {"first of duplicate keys", "[s]\r\nk=1\r\nk=2\r\n[s]\r\nj=3\r\n", "s", "k", "1"},
    {"a later copy of a section is ignored", "[s]\r\nk=1\r\nk=2\r\n[s]\r\nj=3\r\n", "s", "j", kDefault},
    {"header without ]", "[a\r\nk=1\r\n[b]x=2\r\n[c]d]\r\nk=3\r\n", "a", "k", "1"},
    {"text after ] is no key", "[a\r\nk=1\r\n[b]x=2\r\n[c]d]\r\nk=3\r\n", "b", "x", kDefault},
    {"name ends at the first ]", "[a\r\nk=1\r\n[b]x=2\r\n[c]d]\r\nk=3\r\n", "c", "k", "3"},
    {"CR only, no final break", "[s]\rk=1\rj=2", "s", "j", "2"},
    {"LF only", "[s]\nk=1\nj=2\n", "s", "j", "2"},
    {"last line without break", "[s]\r\nk=1\r\nj=two", "s", "j", "two"},
    {"an empty first section still counts", "[s]\r\n[s]\r\nk=1\r\n", "s", "k", kDefault},
    {"lines before any header", "k=1\r\n[s]\r\n", "s", "k", kDefault},
    {"a line without = is never a key", "[s]\r\nk\r\n", "s", "k", kDefault},
    {"later = belong to the value", "[s]\r\nk=a=b\r\n", "s", "k", "a=b"},
    {"bytes above 0x7F compare as they are", "[\xC3\x89]\r\nk=1\r\n", "\xC3\xA9", "k", kDefault},
    {"quotes in names are literal", "[\"s\"]\r\nk=1\r\n", "s", "k", kDefault},
    {"one pair of quotes goes", "[s]\r\nk=  \"  v  \"  \r\n", "s", "k", "  v  "},
    {"only the outer pair", "[s]\r\nk=''x''\r\n", "s", "k", "'x'"},
    {"unlike quotes stay", "[s]\r\nk=\"v'\r\n", "s", "k", "\"v'"},
    {"an unclosed quote stays", "[s]\r\nk=\"abc\r\n", "s", "k", "\"abc"},
    {"a lone quote stays", "[s]\r\nk=\"\r\n", "s", "k", "\""},
    {"empty quotes give empty", "[s]\r\nk=\"\"\r\n", "s", "k", ""},
    {"an empty value is no default", "[s]\r\nk=\r\n", "s", "k", ""},
    {"UTF-8 byte-order mark before line 1", "\xEF\xBB\xBF[s]\r\nk=1\r\n", "s", "k", "1"},
    {"UTF-16 is not parsed", "\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0001\0"s, "s", "k", kDefault},
    {"big-endian UTF-16 neither", "\xFE\xFF\0[\0s\0]\0\r\0\n\0k\0=\0001"s, "s", "k", kDefault},
    {"NUL bytes are ordinary", "[s]\r\nk=a\0b\r\n"s, "s", "k", "a\0b"s},
    {"missing section", "[s]\r\nk=1\r\n", "t", "k", kDefault},
    {"empty file", "", "s", "k", kDefault},
};

INSTANTIATE_TEST_SUITE_P(Table, ProfileRead, ::testing::ValuesIn(kReadCases));

TEST(ProfileReadBuffer, CutsToTheBufferAndCountsWhatItCopied) {
  ScratchDir dir;
  const std::string file = dir.Path("f.ini");
  WriteBytes(file, "[s]\r\nk=val1\r\n");
  char buffer[8];
  struct {
    DWORD size;
    std::string text;
    DWORD count;
  } const cases[] = {{5, "val1", 4}, {4, "val", 3}, {1, "", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", buffer, c.size, file.c_str()), c.count) << c.size;
    EXPECT_EQ(std::string(buffer), c.text) << c.size;
  }
  std::memcpy(buffer, "XXXXXXX", 8);
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", buffer, 0, file.c_str()), 0u);
  EXPECT_EQ(std::string(buffer), "XXXXXXX");
}

TEST(ProfileReadDefault, LosesTrailingSpacesAndNullMeansEmpty) {
  ScratchDir dir;
  char buffer[16];
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", "  d  ", buffer, sizeof buffer, dir.Path("none").c_str()), 3u);
  EXPECT_EQ(std::string(buffer), "  d");
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", nullptr, buffer, sizeof buffer, dir.Path("none").c_str()), 0u);
  EXPECT_EQ(std::string(buffer), "");
  // A folder is no file.
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", "d", buffer, sizeof buffer, dir.Path("").c_str()), 1u);
}

TEST(ProfileReadFileNames, TakeBackslashesAsSeparators) {
  ScratchDir dir;
  WriteBytes(dir.Path("f.ini"), "[s]\nk=1\n");
  std::string windows_style = dir.Path("x") + "\\..\\\\f.ini";
  mkdir(dir.Path("x").c_str(), 0777);
  EXPECT_EQ(Read(windows_style, "s", "k"), "1");
}

TEST(ProfileReadCache, SeesAChangeByAnotherWriterBetweenTwoReads) {
  ScratchDir dir;
  const std::string file = dir.Path("f.ini");
  WriteBytes(file, "[s]\nk=aaa\n");
  ASSERT_EQ(Read(file, "s", "k"), "aaa");
  WriteBytes(file, "[s]\nk=bbb\n");  // same size, same inode, likely the same clock tick
  EXPECT_EQ(Read(file, "s", "k"), "bbb");
  WriteBytes(file, "[s]\nk=ccccc\n");
  EXPECT_EQ(Read(file, "s", "k"), "ccccc");
  // After our own write, too: the next write starts from what is on disk.
  ASSERT_TRUE(WritePrivateProfileStringA("s", "j", "1", file.c_str()));
  WriteBytes(file, "[s]\nk=ddddd\nj=1\n");
  ASSERT_TRUE(WritePrivateProfileStringA("s", "i", "2", file.c_str()));
  EXPECT_EQ(ReadBytes(file), "[s]\nk=ddddd\nj=1\ni=2\n");
}

TEST(ProfileReadCache, SeesAReplacementThatLooksAlike) {
  ScratchDir dir;
  const std::string file = dir.Path("f.ini");
  WriteBytes(file, "[s]\nk=aaa\n");
  ASSERT_EQ(Read(file, "s", "k"), "aaa");
  struct stat before;
  stat(file.c_str(), &before);
  WriteBytes(file + ".new", "[s]\nk=bbb\n");
  struct timespec times[2] = {before.st_atim, before.st_mtim};
  utimensat(AT_FDCWD, (file + ".new").c_str(), times, 0);
  rename((file + ".new").c_str(), file.c_str());
  EXPECT_EQ(Read(file, "s", "k"), "bbb");
}

// --- Writing ---------------------------------------------------------------------------------

struct Write {
  const char* section;
  const char* key;
  const char* value;
};

struct WriteCase {
  const char* what;
  std::optional<std::string> before;  // nullopt: no file
  std::vector<Write> writes;
  std::string after;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.what; }

class ProfileWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWrite, ChangesOnlyTheLineItMust) {
  const WriteCase& c = GetParam();
  ScratchDir dir;
  const std::string file = dir.Path("f.ini");
  if (c.before) WriteBytes(file, *c.before);
  for (const Write& w : c.writes) EXPECT_TRUE(WritePrivateProfileStringA(w.section, w.key, w.value, file.c_str())) << c.what;
  EXPECT_EQ(ReadBytes(file), c.after) << c.what;
  EXPECT_EQ(Listing(dir.Path("")), std::vector<std::string>{"f.ini"}) << c.what;
  // What the cache made of the writes is what a fresh parse of the file makes of it.
  for (const Write& w : c.writes) {
    const std::string cached = Read(file, w.section, w.key);
    ClearProfileCache();
    EXPECT_EQ(cached, Read(file, w.section, w.key)) << c.what;
  }
}

const WriteCase kWriteCases[] = {
    {"a missing file is created", std::nullopt, {{"  s  ", "  k  ", " v "}}, "[s]\r\nk= v \r\n"},
    {"new keys keep their order", "", {{"s", "z", ""}, {"s", "a", ""}}, "[s]\r\nz=\r\na=\r\n"},
    {"the file's spelling stays, no break added",
     "[SectionName]\r\nTestKey=TestValue",
     {{"SECTIONNAME", "TESTKEY", "v2"}},
     "[SectionName]\r\nTestKey=v2"},
    {"text before the first section and NUL bytes",
     "Data \0 before \0 first \0 section"s,
     {{"section1", "key1", "string1"}},
     "Data \0 before \0 first \0 section\r\n[section1]\r\nkey1=string1\r\n"s},
    {"new key after the last key line, before comments",
     "[s]\nk = old\n; note\n\n[t]\n",
     {{"s", "k", "new"}, {"s", "j", "1"}},
     "[s]\nk = new\nj=1\n; note\n\n[t]\n"},
    {"CR-only file", "[s]\rk=1", {{"s", "j", "2"}}, "[s]\rk=1\rj=2\r"},
    {"LF-only file, new section", "[s]\nk=1\n", {{"t", "x", "2"}}, "[s]\nk=1\n[t]\nx=2\n"},
    {"the first line break of the file is used", "[s]\nk=1\r\n", {{"t", "x", "1"}}, "[s]\nk=1\r\n[t]\nx=1\n"},
    {"a break before a section appended to an unterminated line", "[s]\nk=1", {{"t", "x", "2"}}, "[s]\nk=1\n[t]\nx=2\n"},
    {"a key after an unterminated header", "x=0\r\n[s]", {{"s", "k", "1"}}, "x=0\r\n[s]\r\nk=1\r\n"},
    {"the first of duplicate sections is written",
     "[s]\nk=1\n[t]\n[s]\nk=2\n",
     {{"s", "k", "9"}, {"s", "j", "3"}},
     "[s]\nk=9\nj=3\n[t]\n[s]\nk=2\n"},
    {"a key only in a later copy of a section", "[s]\na=1\n[s]\nk=2\n", {{"s", "k", "3"}}, "[s]\na=1\nk=3\n[s]\nk=2\n"},
    {"the first of duplicate keys is written", "[s]\nk=1\nk=2\n", {{"s", "k", "x"}}, "[s]\nk=x\nk=2\n"},
    {"names differing in case keep the file's spelling", "[Fltsim.0]\nTitle=a\n", {{"FLTSIM.0", "TITLE", "b"}}, "[Fltsim.0]\nTitle=b\n"},
    {"blanks up to = and the line's own break stay", "[s]\r\n  k \t=  old  \n", {{"s", "k", "new"}}, "[s]\r\n  k \t=  new\n"},
    {"an empty value keeps the key", "[s]\nk=old\n", {{"s", "k", ""}}, "[s]\nk=\n"},
    {"values are written as given", "[s]\n", {{"s", "k", " \"q\" ;x "}}, "[s]\nk= \"q\" ;x \n"},
    {"a key after a header with no key lines", "[s]\n; c\n[t]\n", {{"s", "k", "1"}}, "[s]\nk=1\n; c\n[t]\n"},
    {"text after ] is no key line", "[s]k=v\n", {{"s", "k", "1"}}, "[s]k=v\nk=1\n"},
    {"UTF-8 byte-order mark kept, header on line 1 found",
     "\xEF\xBB\xBF[s]\r\nk=1\r\n",
     {{"s", "k", "2"}, {"t", "x", "3"}},
     "\xEF\xBB\xBF[s]\r\nk=2\r\n[t]\r\nx=3\r\n"},
    {"a file of just a byte-order mark is empty", "\xEF\xBB\xBF", {{"s", "k", "1"}}, "\xEF\xBB\xBF[s]\r\nk=1\r\n"},
    {"NUL bytes in other lines are kept", "[s]\nk=a\0b\nj=1\n"s, {{"s", "j", "2"}}, "[s]\nk=a\0b\nj=2\n"s},
    {"a key that reads as a header",
     "[s]\nk=1\n[t]\nx=1\n",
     {{"s", "[t", "2"}, {"t", "y", "3"}},
     "[s]\nk=1\n[t=2\n[t]\nx=1\ny=3\n"},
    {"a key that reads as a header after blanks",
     "[s]\nk=1\n[t]\nx=1\n",
     {{"s", "\t\v[t", "2"}, {"s", "y", "3"}},
     "[s]\nk=1\ny=3\n\t\v[t=2\n[t]\nx=1\n"},
    {"many writes to one section", "[a]\nx=1\n[b]\ny=2\n",
     {{"a", "k1", "1"}, {"b", "k2", "2"}, {"a", "x", "11"}, {"c", "k3", "3"}, {"b", "y", ""}},
     "[a]\nx=11\nk1=1\n[b]\ny=\nk2=2\n[c]\nk3=3\n"},
};

INSTANTIATE_TEST_SUITE_P(Table, ProfileWrite, ::testing::ValuesIn(kWriteCases));

TEST(ProfileWriteRefusal, ALineBreakInAValueOrANameChangesNothing) {
  ScratchDir dir;
  const std::string file = dir.Path("f.ini");
  WriteBytes(file, "[s]\nk=1\n");
  for (const char* text : {"a\nb", "a\rb", "\r\n", "x\n[t]"}) {
    EXPECT_FALSE(WritePrivateProfileStringA("s", "k", text, file.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("s", "new", text, dir.Path("none").c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA(text, "k", "v", file.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("s", text, "v", file.c_str()));
  }
  EXPECT_EQ(ReadBytes(file), "[s]\nk=1\n");
  EXPECT_EQ(Listing(dir.Path("")), std::vector<std::string>{"f.ini"});
}

TEST(ProfileWriteRefusal, AUtf16FileIsLeftAlone) {
  ScratchDir dir;
  const std::string file = dir.Path("f.ini");
  const std::string utf16 = "\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0001\0"s;
  WriteBytes(file, utf16);
  EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "2", file.c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("t", "k", "2", file.c_str()));
  EXPECT_EQ(ReadBytes(file), utf16);
  EXPECT_EQ(Listing(dir.Path("")), std::vector<std::string>{"f.ini"});
}

TEST(ProfileWriteFiles, KeepsPermissionBitsAndWritesThroughLinks) {
  ScratchDir dir;
  const std::string file = dir.Path("real.cfg");
  const std::string link = dir.Path("link.cfg");
  WriteBytes(file, "[s]\nk=1\n");
  chmod(file.c_str(), 0640);
  ASSERT_EQ(symlink("real.cfg", link.c_str()), 0);
  ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "2", link.c_str()));
  EXPECT_EQ(ReadBytes(file), "[s]\nk=2\n");
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Listing(dir.Path("")), (std::vector<std::string>{"link.cfg", "real.cfg"}));
}

TEST(ProfileWriteFiles, RemoveWhatAKilledWriterLeftAndNothingElse) {
  ScratchDir dir;
  const std::string file = dir.Path("f.ini");
  WriteBytes(file, "[s]\nk=1\n");
  for (const char* name : {".f.ini.tmp-abcdefghij12", ".f.ini.tmp-ABCDEFGHIJ12", ".f.ini.tmp-abc123", ".g.ini.tmp-abcdefghij12"})
    WriteBytes(dir.Path(name), "x");
  ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "2", file.c_str()));
  EXPECT_EQ(Listing(dir.Path("")),
            (std::vector<std::string>{".f.ini.tmp-ABCDEFGHIJ12", ".f.ini.tmp-abc123", ".g.ini.tmp-abcdefghij12", "f.ini"}));
}

TEST(ProfileWriteFiles, ANewFileFollowsTheUmask) {
  ScratchDir dir;
  const mode_t old = umask(022);
  ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "1", dir.Path("new.ini").c_str()));
  umask(old);
  struct stat st;
  ASSERT_EQ(stat(dir.Path("new.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// --- Write failures: each leaves the old bytes and no temporary file -------------------------

struct FailureCase {
  const char* what;
  std::function<std::string(const ScratchDir&)> arrange;  // returns the path to write
  bool unprivileged;
  rlim_t file_size_limit;  // 0: none
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.what; }

class ProfileWriteFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ProfileWriteFailure, ReturnsFalseAndLeavesEverythingAsItWas) {
  const FailureCase& c = GetParam();
  ScratchDir dir;
  const std::string original = "[s]\r\nk=1\r\n; a comment\r\n";
  WriteBytes(dir.Path("f.ini"), original);
  chmod(dir.Path("f.ini").c_str(), 0666);
  const std::string target = c.arrange(dir);
  const std::vector<std::string> listing = Listing(dir.Path(""));
  const auto write = [&] {
    if (c.file_size_limit != 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{c.file_size_limit, c.file_size_limit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    return WritePrivateProfileStringA("s", "k", "a much longer value than before", target.c_str()) ? 1 : 0;
  };
  EXPECT_EQ(c.unprivileged || c.file_size_limit ? RunUnprivileged(write) : write(), 0) << c.what;
  EXPECT_EQ(ReadBytes(dir.Path("f.ini")), original) << c.what;
  EXPECT_EQ(Listing(dir.Path("")), listing) << c.what;
  chmod(dir.Path("").c_str(), 0777);
}

const FailureCase kFailureCases[] = {
    {"a missing folder", [](const ScratchDir& d) { return d.Path("no/such/f.ini"); }, false, 0},
    {"a path that is a folder",
     [](const ScratchDir& d) {
       mkdir(d.Path("folder.ini").c_str(), 0777);
       return d.Path("folder.ini");
     },
     false, 0},
    {"a read-only file",
     [](const ScratchDir& d) {
       chmod(d.Path("f.ini").c_str(), 0444);
       return d.Path("f.ini");
     },
     true, 0},
    {"a read-only folder",
     [](const ScratchDir& d) {
       chmod(d.Path("").c_str(), 0555);
       return d.Path("f.ini");
     },
     true, 0},
    {"a file-size limit below the new size", [](const ScratchDir& d) { return d.Path("f.ini"); }, false, 16},
    {"a link into a missing folder",
     [](const ScratchDir& d) {
       symlink("no/such/f.ini", d.Path("link.ini").c_str());
       return d.Path("link.ini");
     },
     false, 0},
    {"a link loop",
     [](const ScratchDir& d) {
       symlink("loop.ini", d.Path("loop.ini").c_str());
       return d.Path("loop.ini");
     },
     false, 0},
};

INSTANTIATE_TEST_SUITE_P(Table, ProfileWriteFailure, ::testing::ValuesIn(kFailureCases));

}  // namespace
