// pairstream.scr as a file: a 64-bit Windows GUI program that imports only system DLLs, carries
// a per-monitor DPI manifest where Windows looks for it, and reads "1.00" in its version.
// Needs no Wine; the version is read with exiftool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/wine/process.h"

namespace ps::e2e {
namespace {

// Just enough of the PE format to read the headers, the import table and the resources.
class Pe {
 public:
  explicit Pe(const std::string& text) : bytes_(text.begin(), text.end()) {
    header_ = u32(0x3C);
    optional_ = header_ + 24;
    const std::uint32_t table = optional_ + u16(header_ + 20);
    for (std::uint32_t i = 0; i < u16(header_ + 6); ++i) {
      const std::uint32_t s = table + 40 * i;
      sections_.push_back({u32(s + 12), std::max(u32(s + 8), u32(s + 16)), u32(s + 20)});
    }
  }

  bool signed_pe() const { return u32(header_) == 0x00004550; }  // "PE\0\0"
  std::uint16_t machine() const { return u16(header_ + 4); }
  std::uint16_t magic() const { return u16(optional_); }
  std::uint16_t subsystem() const { return u16(optional_ + 68); }

  std::vector<std::string> imports() const {
    std::vector<std::string> names;
    const std::uint32_t rva = directory(1);
    if (rva == 0) return names;
    for (std::uint32_t d = offset(rva);; d += 20) {
      const std::uint32_t name = u32(d + 12);
      if (name == 0) break;
      names.push_back(text(offset(name)));
    }
    return names;
  }

  // The first language's data of resource type/id, as Windows finds it; empty when absent.
  std::string resource(std::uint32_t type, std::uint32_t id) const {
    const std::uint32_t root = offset(directory(2));
    const auto entry = [&](std::uint32_t dir, std::optional<std::uint32_t> want) {
      const std::uint32_t count = u16(dir + 12) + u16(dir + 14);
      for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t e = dir + 16 + 8 * i;
        if (!want || u32(e) == *want) return u32(e + 4);
      }
      return std::uint32_t{0};
    };
    std::uint32_t next = entry(root, type);
    if (!(next & 0x80000000u)) return {};
    next = entry(root + (next & 0x7FFFFFFFu), id);
    if (!(next & 0x80000000u)) return {};
    next = entry(root + (next & 0x7FFFFFFFu), std::nullopt);
    if (next == 0 || (next & 0x80000000u)) return {};
    const std::uint32_t data = root + next;
    const std::uint32_t at = offset(u32(data));
    return {bytes_.begin() + at, bytes_.begin() + at + u32(data + 4)};
  }

 private:
  struct Section {
    std::uint32_t rva, size, file;
  };
  std::uint32_t u16(std::uint32_t at) const { return bytes_.at(at) | bytes_.at(at + 1) << 8; }
  std::uint32_t u32(std::uint32_t at) const { return u16(at) | u16(at + 2) << 16; }
  std::uint32_t directory(int index) const { return u32(optional_ + 112 + 8 * index); }
  std::uint32_t offset(std::uint32_t rva) const {
    for (const auto& s : sections_)
      if (rva >= s.rva && rva < s.rva + s.size) return rva - s.rva + s.file;
    throw std::out_of_range("address outside every section");
  }
  std::string text(std::uint32_t at) const {
    std::string s;
    while (bytes_.at(at) != 0) s += static_cast<char>(bytes_.at(at++));
    return s;
  }

  std::vector<std::uint8_t> bytes_;
  std::uint32_t header_ = 0;
  std::uint32_t optional_ = 0;
  std::vector<Section> sections_;
};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

class Executable : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* scr = std::getenv("PAIRSTREAM_SCR");
    if (!scr || !std::filesystem::exists(scr))
      GTEST_SKIP() << "no pairstream.scr (PAIRSTREAM_SCR): build the windows preset first";
    path_ = scr;
  }
  std::string path_;
};

TEST_F(Executable, IsA64BitWindowsGuiProgram) {
  const Pe pe(read_text(path_));
  ASSERT_TRUE(pe.signed_pe());
  EXPECT_EQ(pe.machine(), 0x8664) << "x86-64";
  EXPECT_EQ(pe.magic(), 0x20B) << "PE32+";
  EXPECT_EQ(pe.subsystem(), 2) << "GUI: no console opens with the saver";
}

TEST_F(Executable, ImportsOnlySystemDlls) {
  // Nothing that would have to lie beside the .scr, where a planted copy could be loaded.
  const std::vector<std::string> system = {"kernel32.dll", "user32.dll",   "gdi32.dll",
                                           "msvcrt.dll",   "ucrtbase.dll", "advapi32.dll"};
  const auto imports = Pe(read_text(path_)).imports();
  EXPECT_FALSE(imports.empty());
  for (const auto& dll : imports) {
    const std::string name = lower(dll);
    const bool known = std::find(system.begin(), system.end(), name) != system.end() ||
                       name.rfind("api-ms-win-", 0) == 0;
    EXPECT_TRUE(known) << dll << " is not a system DLL";
  }
}

TEST_F(Executable, DeclaresPerMonitorDpiAwarenessInItsManifest) {
  // RT_MANIFEST, id 1: the manifest Windows applies to the process.
  const std::string manifest = Pe(read_text(path_)).resource(24, 1);
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find(">PerMonitorV2<"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find(">true/pm<"), std::string::npos) << "the same on Windows 8.1";
}

TEST_F(Executable, VersionResourceReads100) {
  if (std::system("command -v exiftool >/dev/null 2>&1") != 0) GTEST_SKIP() << "no exiftool";
  const std::string command =
      "exiftool -S -FileVersion -ProductVersion -FileVersionNumber "
      "-ProductVersionNumber -ProductName -FileDescription '" +
      path_ + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  std::map<std::string, std::string> tags;
  char line[512];
  while (std::fgets(line, sizeof line, pipe.get())) {
    std::string text = line;
    const auto colon = text.find(": ");
    if (colon == std::string::npos) continue;
    tags[text.substr(0, colon)] = text.substr(colon + 2, text.find_last_not_of("\r\n") - colon - 1);
  }
  EXPECT_EQ(tags["FileVersion"], "1.00");
  EXPECT_EQ(tags["ProductVersion"], "1.00");
  EXPECT_EQ(tags["FileVersionNumber"], "1.0.0.0");
  EXPECT_EQ(tags["ProductVersionNumber"], "1.0.0.0");
  EXPECT_EQ(tags["ProductName"], "pairstream");
  EXPECT_FALSE(tags["FileDescription"].empty());
}

}  // namespace
}  // namespace ps::e2e
