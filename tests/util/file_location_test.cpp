#include "util/file_location.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/wide_string.h"
#include "support/temp_dir.h"
#include "vorlin/util.h"

namespace vorlin {
namespace {

namespace util = Zelvane::Vorlin::QvVorlinUtil;

std::wstring LocalName(const wchar_t* fileName) {
  std::unique_ptr<wchar_t[]> name(util::ExtractLocalFileName(fileName));
  return name ? std::wstring(name.get()) : L"<null>";
}

TEST(ExtractLocalFileName, HashesUtf16UnitsIntoDecimalName) {
  EXPECT_EQ(LocalName(L"abc"), L"822160044.qzv");
  EXPECT_EQ(LocalName(L""), L"0.qzv");
  EXPECT_EQ(LocalName(L"\\\\server\\share\\cloud.qzv"), LocalName(L"\\\\server\\share\\cloud.qzv"));
  EXPECT_NE(LocalName(L"\\\\server\\share\\cloud.qzv"), LocalName(L"\\\\SERVER\\share\\cloud.qzv"));
  // U+1F600 is hashed as its surrogate pair D83D DE00.
  EXPECT_EQ(LocalName(L"\U0001F600"), L"486607027.qzv");
  EXPECT_EQ(LocalName(nullptr), L"<null>");
}

TEST(IsDevicePathOnThisMachine, PrefixesIgnoreCaseAndMatchOnlyTheBeginning) {
  const std::vector<std::string> addresses = {"10.1.2.3", "192.168.0.7"};
  auto here = [&](const wchar_t* devicePath, const char* host = "plotter") {
    return IsDevicePathOnThisMachine(devicePath, host, addresses);
  };
  EXPECT_TRUE(here(L"\\device\\harddiskVolume3\\a\\b.qzv"));
  EXPECT_TRUE(here(L"\\Device\\MUP\\LOCALHOST\\share\\f"));
  EXPECT_TRUE(here(L"\\Device\\MUP\\127.0.0.1\\share\\f"));
  EXPECT_TRUE(here(L"\\Device\\MUP\\Plotter\\share\\f"));
  // A longer server name that begins with the host name still matches.
  EXPECT_TRUE(here(L"\\Device\\MUP\\plotter2\\share\\f"));
  EXPECT_TRUE(here(L"\\Device\\MUP\\192.168.0.7\\s\\f"));
  EXPECT_FALSE(here(L"\\Device\\Hard"));
  EXPECT_FALSE(here(L"\\Device\\CdRom0\\f"));
  EXPECT_FALSE(here(L"\\Device\\MUP\\plott\\share\\f"));
  EXPECT_FALSE(here(L"\\Device\\MUP\\10.1.2.4\\s\\f"));
  // Without a host name only the loopback shares are this machine's.
  EXPECT_FALSE(here(L"\\Device\\MUP\\other\\s\\f", ""));
  EXPECT_TRUE(here(L"\\Device\\MUP\\localhost\\s\\f", ""));
}

class FileLocationTest : public ::testing::Test {
 protected:
  std::wstring Write(const char* name, const std::string& content) {
    std::ofstream(dir_.file(name), std::ios::binary) << content;
    return Name(name);
  }
  std::wstring Name(const char* name) { return platform::FromUtf8(dir_.file(name)); }
  std::string Read(const char* name) { return vorlin_test::ReadText(dir_.file(name)); }

  // Reports every file as lying on the given device path.
  static FileLocator LocatorAt(const std::wstring& devicePath, bool known = true) {
    FileLocator locator;
    locator.devicePath = [devicePath, known](const platform::File&, const wchar_t*, std::wstring* out) {
      *out = devicePath;
      return known;
    };
    locator.hostName = [] { return std::string("plotter"); };
    locator.hostAddresses = [](const std::string&) { return std::vector<std::string>{"10.1.2.3"}; };
    return locator;
  }

  vorlin_test::TempDir dir_;
};

TEST_F(FileLocationTest, OnlyUsableLocalFilesAreLocalAndNotCopied) {
  const std::wstring empty = Write("empty.qzv", ""), missing = Name("missing.qzv");
  const std::wstring folder = platform::FromUtf8(dir_.path().string());
  for (const wchar_t* name : {(const wchar_t*)nullptr, L"", empty.c_str(), missing.c_str(), folder.c_str()})
    EXPECT_FALSE(util::IsFileNeedCache(name));
  std::wstring source = Write("cloud.qzv", "points");
  EXPECT_TRUE(util::IsFileNeedCache(source.c_str()));
  EXPECT_FALSE(util::CopyPointCloudFile(source.c_str(), Name("copy.qzv").c_str()));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("copy.qzv")));
}

// Files of this machine are not copied; those of others, or of no known
// device, are.
TEST_F(FileLocationTest, OnlyFilesOfOtherMachinesAreCopied) {
  std::wstring source = Write("cloud.qzv", "remote points");
  std::wstring target = Write("copy.qzv", "an older and longer copy");
  for (const wchar_t* here : {L"\\Device\\MUP\\PLOTTER\\share\\cloud.qzv", L"\\Device\\MUP\\10.1.2.3\\share\\cloud.qzv"})
    EXPECT_FALSE(CopyFileIfRemote(source.c_str(), target.c_str(), LocatorAt(here)));
  EXPECT_EQ(Read("copy.qzv"), "an older and longer copy");
  EXPECT_TRUE(CopyFileIfRemote(source.c_str(), target.c_str(), LocatorAt(L"\\Device\\MUP\\farhost\\share\\cloud.qzv")));
  EXPECT_EQ(Read("copy.qzv"), "remote points");
  Write("copy.qzv", "old");
  EXPECT_TRUE(CopyFileIfRemote(source.c_str(), target.c_str(), LocatorAt(L"", false)));
  EXPECT_EQ(Read("copy.qzv"), "remote points");
  EXPECT_FALSE(util::CopyPointCloudFile(Name("missing.qzv").c_str(), target.c_str()));
  EXPECT_FALSE(util::CopyPointCloudFile(source.c_str(), nullptr));
}

}  // namespace
}  // namespace vorlin
