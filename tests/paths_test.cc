// The split of the executable's path and the two paths built from it.

#include "installer/paths.h"

#include <string>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

bool NoLeadBytes(unsigned char) { return false; }
// Shift-JIS: lead bytes are 0x81-0x9F and 0xE0-0xFC.
bool ShiftJisLeadBytes(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
#ifdef _WIN32
// The system's own table for code page 932, as IsDBCSLeadByte uses it on a Japanese system.
bool WindowsShiftJisLeadBytes(unsigned char b) { return IsDBCSLeadByteEx(932, b) != FALSE; }
#endif

struct SplitCase {
  const char* what;
  const char* path;
  LeadByteTest lead;
  const char* drive;
  const char* directory;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.what; }

class SplitModulePathTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitModulePathTest, GivesDriveAndDirectory) {
  const SplitCase& c = GetParam();
  char drive[kDriveCapacity];
  char directory[kDirectoryCapacity];
  ASSERT_TRUE(SplitModulePath(c.path, c.lead, drive, directory)) << c.what;
  EXPECT_STREQ(drive, c.drive) << c.what;
  EXPECT_STREQ(directory, c.directory) << c.what;
}

const SplitCase kSplitCases[] = {
    {"drive letter", "C:\\Sim\\Aircraft\\Jet\\Livery\\install.exe", NoLeadBytes, "C:", "\\Sim\\Aircraft\\Jet\\Livery\\"},
    {"UNC path without drive", "\\\\server\\share\\Jet\\Livery\\x.exe", NoLeadBytes, "", "\\\\server\\share\\Jet\\Livery\\"},
    {"long-path prefix", "\\\\?\\C:\\Sim\\Jet\\Livery\\x.exe", NoLeadBytes, "C:", "\\Sim\\Jet\\Livery\\"},
    {"long-path UNC prefix", "\\\\?\\UNC\\server\\share\\Livery\\x.exe", NoLeadBytes, "", "\\\\server\\share\\Livery\\"},
    {"a later / wins", "C:\\Sim\\Jet/Livery\\sub/x.exe", NoLeadBytes, "C:", "\\Sim\\Jet/Livery\\sub/"},
    {"a later \\ wins", "C:/Sim/Jet\\x.exe", NoLeadBytes, "C:", "/Sim/Jet\\"},
    {"POSIX path", "/home/sim/Jet/Livery/installer", NoLeadBytes, "", "/home/sim/Jet/Livery/"},
    {"no separator at all", "installer.exe", NoLeadBytes, "", ""},
    {"drive and no separator", "C:x.exe", NoLeadBytes, "C:", ""},
    {"a colon elsewhere is no drive", "/a:b/x", NoLeadBytes, "", "/a:b/"},
    {"empty", "", NoLeadBytes, "", ""},
    // 0x95 0x5C is one Shift-JIS character whose trail byte equals '\'.
    {"Shift-JIS trail byte 0x5C", "C:\\Sim\\\x95\x5C\\x.exe", ShiftJisLeadBytes, "C:", "\\Sim\\\x95\x5C\\"},
    {"Shift-JIS trail byte at the end", "C:\\Sim\\\x95\x5Cx.exe", ShiftJisLeadBytes, "C:", "\\Sim\\"},
    {"without lead bytes 0x5C separates", "C:\\Sim\\\x95\x5Cx.exe", NoLeadBytes, "C:", "\\Sim\\\x95\\"},
    {"a lead byte at the very end", "C:\\Sim\\\x95", ShiftJisLeadBytes, "C:", "\\Sim\\"},
#ifdef _WIN32
    {"Shift-JIS by the system's table", "C:\\Sim\\\x95\x5C\\x.exe", WindowsShiftJisLeadBytes, "C:", "\\Sim\\\x95\x5C\\"},
    {"Shift-JIS by the system's table, trail at end", "C:\\Sim\\\x95\x5Cx.exe", WindowsShiftJisLeadBytes, "C:", "\\Sim\\"},
#endif
};

INSTANTIATE_TEST_SUITE_P(Table, SplitModulePathTest, ::testing::ValuesIn(kSplitCases));

TEST(SplitModulePath, RefusesADirectoryOverItsCapacity) {
  char drive[kDriveCapacity];
  char directory[kDirectoryCapacity];
  const std::string fits = "C:\\" + std::string(253, 'd') + "\\x.exe";  // directory of 255
  const std::string over = "C:\\" + std::string(254, 'd') + "\\x.exe";  // directory of 256
  EXPECT_TRUE(SplitModulePath(fits.c_str(), NoLeadBytes, drive, directory));
  EXPECT_EQ(std::string(directory).size(), 255u);
  EXPECT_FALSE(SplitModulePath(over.c_str(), NoLeadBytes, drive, directory));
  EXPECT_STREQ(directory, "");
}

TEST(BuildFilePaths, KeepsTheDoubledSeparatorAndTheParentStep) {
  char livery[kPathCapacity];
  char aircraft[kPathCapacity];
  ASSERT_TRUE(BuildFilePaths("C:", "\\Sim\\Aircraft\\Jet\\Livery\\", livery, aircraft));
  EXPECT_STREQ(livery, "C:\\Sim\\Aircraft\\Jet\\Livery\\\\livery.ini");
  EXPECT_STREQ(aircraft, "C:\\Sim\\Aircraft\\Jet\\Livery\\\\..\\aircraft.cfg");
}

TEST(BuildFilePaths, RefusesPathsThatDoNotFit) {
  char livery[kPathCapacity];
  char aircraft[kPathCapacity];
  // Drive and directory together: at most 243 characters for both paths, 248 for the livery's.
  const struct {
    std::size_t directory;
    bool fits;
  } cases[] = {{241, true}, {242, false}, {246, false}, {253, false}};
  for (const auto& c : cases) {
    const std::string directory = "\\" + std::string(c.directory - 1, 'd');
    EXPECT_EQ(BuildFilePaths("C:", directory.c_str(), livery, aircraft), c.fits) << c.directory;
  }
  EXPECT_TRUE(BuildFilePaths("", ("\\" + std::string(242, 'd')).c_str(), livery, aircraft));
  EXPECT_EQ(std::string(aircraft).size(), 259u);
}

}  // namespace
