// ReadProfileValue, on the platform's profile calls: the stand-in natively, kernel32 under Wine.

#include "profile/profile.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

TEST(ReadProfileValue, ReturnsValuesOfAnyLengthWhole) {
  ScratchDir dir;
  const std::string file = dir.Path("livery.ini");
  for (const std::size_t length : {0, 1, 1022, 1023, 1024, 2047, 2048, 5000, 100000}) {
    std::string value;
    for (std::size_t i = 0; i < length; ++i) value += static_cast<char>('a' + i % 26);
    WriteBytes(file, "[fltsim.0]\r\ndescription=" + value + "\r\n");
    EXPECT_EQ(ReadProfileValue(file.c_str(), "fltsim.0", "description", ""), value) << length;
  }
}

TEST(ReadProfileValue, GivesTheDefaultForWhatIsMissing) {
  ScratchDir dir;
  const std::string file = dir.Path("livery.ini");
  WriteBytes(file, "[fltsim.0]\r\ntitle=Jet\r\n");
  EXPECT_EQ(ReadProfileValue(file.c_str(), "fltsim.0", "model", ""), "");
  EXPECT_EQ(ReadProfileValue(file.c_str(), "fltsim.1", "title", "none"), "none");
  EXPECT_EQ(ReadProfileValue(dir.Path("missing.ini").c_str(), "fltsim.0", "title", ""), "");
  EXPECT_EQ(ReadProfileValue(file.c_str(), "FLTSIM.0", "TITLE", ""), "Jet");
}

}  // namespace
