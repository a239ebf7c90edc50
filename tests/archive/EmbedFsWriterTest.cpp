#include "archive/EmbedFsWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ArchiveFixture.h"
#include "archive/EmbedFsStdio.h"

namespace {

namespace fs = std::filesystem;
using embedfs::PackInput;
using embedfs::PackOptions;
using fixture::Noise;
using fixture::U32;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "embedfs-writer-XXXXXX").string();
    mPath = mkdtemp(&pattern[0]);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(mPath, ignored);
  }
  std::string operator/(const std::string& name) const { return (mPath / name).string(); }
  const fs::path& Path() const { return mPath; }
  // Every name in the folder, to show that nothing was left behind.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(mPath)) names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path mPath;
};

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file of the given length that takes no disk space.
void MakeSparse(const std::string& path, uint64_t length) {
  WriteFile(path, "");
  fs::resize_file(path, length);
}

class EmbedFsWriter : public ::testing::Test {
 protected:
  // Writes each (name, bytes) into the folder and returns the pack inputs naming them.
  std::vector<PackInput> Inputs(const std::vector<fixture::Item>& items) {
    std::vector<PackInput> inputs;
    int n = 0;
    for (const auto& item : items) {
      const std::string path = mDir / ("input" + std::to_string(n++));
      WriteFile(path, item.data);
      inputs.push_back({item.name, path});
    }
    return inputs;
  }

  // Packs and expects a refusal that leaves no file behind; returns the message.
  std::string Refusal(const std::string& host, const std::vector<PackInput>& inputs,
                      const PackOptions& options = PackOptions()) {
    const std::vector<std::string> before = mDir.Names();
    std::string error;
    EXPECT_FALSE(embedfs::Pack(host, inputs, options, mDir / "out.exe", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(mDir.Names(), before) << "a refused pack left a file behind";
    return error;
  }

  TempDir mDir;
};

TEST_F(EmbedFsWriter, ReproducesTheShippedInstallerByteForByte) {
  const std::string host = Noise(0x102000, 1);
  const std::string engine = Noise(207872, 2);
  const std::string notes = "{\\rtf1\\ansi\\ansicpg936 " + std::string(1169 - 24, 'n') + "}";
  ASSERT_EQ(notes.size(), 1169u);
  const std::string patch = Noise(9824865, 3);
  WriteFile(mDir / "Tesserine.exe", host);
  const std::vector<PackInput> inputs = Inputs(
      {{"patchw32.dll", engine}, {"patchnotes4536.rtf", notes}, {"ZAV.2.12.4526-2.12.4536.rtp", patch}});
  PackOptions options;
  options.padHostTo = 0x110000;
  std::string error;
  ASSERT_TRUE(embedfs::Pack(mDir / "Tesserine.exe", inputs, options, mDir / "installer.exe", &error))
      << error;

  const std::string out = ReadFile(mDir / "installer.exe");
  ASSERT_EQ(out.size(), 11148122u);
  EXPECT_EQ(out.substr(0, 0x102000), host);
  EXPECT_EQ(out.substr(0x102000, 57344), std::string(57344, '\0'));
  const std::string directory = U32(3) + U32(207872) + U32(12) + "patchw32.dll" + std::string(1, '\0') +
                                U32(1169) + U32(18) + "patchnotes4536.rtf" + std::string(1, '\0') +
                                U32(9824865) + U32(27) + "ZAV.2.12.4526-2.12.4536.rtp" + std::string(1, '\0');
  ASSERT_EQ(directory.size(), 88u);
  EXPECT_EQ(out.substr(0x110000, 88), directory);
  EXPECT_EQ(out.substr(0x110058, 207872), engine);
  EXPECT_EQ(out.substr(0x142C58, 1169), notes);
  EXPECT_EQ(out.substr(0x1430E9, 9824865), patch);
  const std::string trailer = std::string("\x00\x00\x11\x00", 4) + fixture::Magic();
  EXPECT_EQ(out.substr(0xAA1B4A), trailer);
  EXPECT_EQ(mDir.Names(),
            (std::vector<std::string>{"Tesserine.exe", "input0", "input1", "input2", "installer.exe"}));

  // And the reader sees the three entries where the installer's did, and nothing after them.
  embedfs::StdioFileSource source;
  ASSERT_TRUE(source.Open(mDir / "installer.exe"));
  embedfs::Directory read;
  ASSERT_EQ(read.Read(source), embedfs::ReadResult::kOk);
  ASSERT_EQ(read.Count(), 3u);
  const uint32_t offsets[] = {0x110058, 0x142C58, 0x1430E9};
  for (uint32_t i = 0; i < 3; ++i) {
    uint32_t offset = 0, size = 0;
    const std::string name = inputs[i].name;
    ASSERT_TRUE(embedfs::FindEntry(
        read.Entries(), read.Count(), read.GetLayout().dataStart,
        [&name](const embedfs::Entry& entry) { return name == entry.name; }, &offset, &size));
    EXPECT_EQ(offset, offsets[i]) << name;
  }
  EXPECT_EQ(read.GetLayout().trailerOffset, 0xAA1B4Au);
}

TEST_F(EmbedFsWriter, PackedArchiveReadsBackWithEntriesInTheOrderGiven) {
  WriteFile(mDir / "host.exe", Noise(9000, 4));
  const std::vector<PackInput> inputs = Inputs({{"b.txt", "bee"}, {"empty", ""}, {"a.txt", Noise(20000, 5)}});
  std::string error;
  ASSERT_TRUE(embedfs::Pack(mDir / "host.exe", inputs, PackOptions(), mDir / "out.exe", &error)) << error;

  embedfs::StdioFileSource source;
  ASSERT_TRUE(source.Open(mDir / "out.exe"));
  embedfs::Directory directory;
  ASSERT_EQ(directory.Read(source), embedfs::ReadResult::kOk);
  ASSERT_EQ(directory.Count(), 3u);
  EXPECT_EQ(std::string(directory[0].name), "b.txt");
  EXPECT_EQ(std::string(directory[1].name), "empty");
  EXPECT_EQ(directory[1].size, 0u);
  EXPECT_EQ(std::string(directory[2].name), "a.txt");
  EXPECT_EQ(directory.GetLayout().orgsize, 9000u);
  std::vector<std::string> problems;
  EXPECT_TRUE(embedfs::CheckConformance(directory, &problems)) << problems.front();
}

TEST_F(EmbedFsWriter, PacksAnArchiveOfNoEntries) {
  WriteFile(mDir / "host.exe", Noise(8176, 6));
  std::string error;
  ASSERT_TRUE(embedfs::Pack(mDir / "host.exe", {}, PackOptions(), mDir / "out.exe", &error)) << error;
  const std::string out = ReadFile(mDir / "out.exe");
  EXPECT_EQ(out.size(), 8176u + 4 + 16);
  EXPECT_EQ(out.substr(8176), U32(0) + U32(8176) + std::string("EmbedFs 1.0\0", 12));
}

TEST_F(EmbedFsWriter, OutputMayReplaceTheHostItself) {
  const std::string host = Noise(10000, 7);
  WriteFile(mDir / "app.exe", host);
  std::string error;
  ASSERT_TRUE(
      embedfs::Pack(mDir / "app.exe", Inputs({{"x", "data"}}), PackOptions(), mDir / "app.exe", &error))
      << error;
  const std::string out = ReadFile(mDir / "app.exe");
  EXPECT_EQ(out.substr(0, host.size()), host);
  EXPECT_EQ(out.size(), host.size() + 4 + 10 + 4 + 16);
}

TEST_F(EmbedFsWriter, RefusesNamesThatAreEmptyTooLongOrHoldFolders) {
  WriteFile(mDir / "host.exe", Noise(9000, 8));
  EXPECT_NE(Refusal(mDir / "host.exe", Inputs({{"", "x"}})).find("empty"), std::string::npos);
  EXPECT_NE(Refusal(mDir / "host.exe", Inputs({{"sub/file", "x"}})).find("folder separator"),
            std::string::npos);
  EXPECT_NE(Refusal(mDir / "host.exe", Inputs({{"sub\\file", "x"}})).find("folder separator"),
            std::string::npos);
  EXPECT_NE(Refusal(mDir / "host.exe", Inputs({{std::string(260, 'n'), "x"}})).find("260 bytes"),
            std::string::npos);
  EXPECT_NE(Refusal(mDir / "host.exe", Inputs({{std::string("a\0b", 3), "x"}})).find("zero byte"),
            std::string::npos);
  EXPECT_NE(Refusal(mDir / "host.exe", Inputs({{"a:b", "x"}})).find("':'"), std::string::npos);
  EXPECT_NE(Refusal(mDir / "host.exe", Inputs({{"..", "x"}})).find("not a file name"), std::string::npos);

  std::string error;
  EXPECT_TRUE(embedfs::Pack(mDir / "host.exe", Inputs({{std::string(259, 'n'), "x"}}), PackOptions(),
                            mDir / "ok.exe", &error))
      << error;
}

TEST_F(EmbedFsWriter, RefusesNamesEqualIgnoringCase) {
  WriteFile(mDir / "host.exe", Noise(9000, 9));
  const std::string error =
      Refusal(mDir / "host.exe", Inputs({{"Notes.rtf", "1"}, {"other", "2"}, {"NOTES.RTF", "3"}}));
  EXPECT_NE(error.find("\"Notes.rtf\" and \"NOTES.RTF\""), std::string::npos) << error;
  // The last ASCII letter, then Latin-1, Cyrillic, Greek and fullwidth Latin letters in UTF-8.
  for (const auto& [a, b] : {std::pair<std::string, std::string>{"Z.txt", "z.txt"},
                             {"\xC3\x84.txt", "\xC3\xA4.txt"},
                             {"\xD0\x94.txt", "\xD0\xB4.txt"},
                             {"\xCE\xA3.txt", "\xCF\x83.txt"},
                             {"\xEF\xBC\xBA.txt", "\xEF\xBD\x9A.txt"}}) {
    EXPECT_NE(Refusal(mDir / "host.exe", Inputs({{a, "1"}, {b, "2"}})).find("equal ignoring case"),
              std::string::npos)
        << b;
  }
  // Bytes that are not UTF-8 (an overlong "A", Latin-1 letters) compare exactly.
  std::string packError;
  EXPECT_TRUE(embedfs::Pack(mDir / "host.exe",
                            Inputs({{"\xE0\x81\x81", "1"}, {"a", "2"}, {"\xC4", "3"}, {"\xE4", "4"}}),
                            PackOptions(), mDir / "ok.exe", &packError))
      << packError;
}

TEST_F(EmbedFsWriter, RefusesWindowsDeviceNamesAndAcceptsTheirNeighbours) {
  WriteFile(mDir / "host.exe", Noise(9000, 24));
  for (const char* device :
       {"CON", "prn.txt", "Aux.tar.gz", "nul .log", "COM1", "com9.dat", "LPT1.x", "lpt9"}) {
    EXPECT_NE(Refusal(mDir / "host.exe", Inputs({{device, "1"}})).find("device name"), std::string::npos)
        << device;
  }
  std::string error;
  const std::vector<PackInput> neighbours =
      Inputs({{"COM0", "1"}, {"LPT10.txt", "2"}, {"console", "3"}, {"nul_", "4"}, {"patch notes.rtf", "5"}});
  EXPECT_TRUE(embedfs::Pack(mDir / "host.exe", neighbours, PackOptions(), mDir / "ok.exe", &error)) << error;
}

TEST_F(EmbedFsWriter, RefusesAResultShorterThan8192BytesAndTellsHowFarToPad) {
  WriteFile(mDir / "host.exe", Noise(1000, 10));
  const std::vector<PackInput> inputs = Inputs({{"a", "12345"}});
  const std::string error = Refusal(mDir / "host.exe", inputs);
  // 4 + 10 + 5 + 16 = 35 archive bytes: the host must reach 8157.
  EXPECT_NE(error.find("8192"), std::string::npos) << error;
  EXPECT_NE(error.find("pad the host to at least 8157 bytes"), std::string::npos) << error;

  PackOptions options;
  options.padHostTo = 8156;
  Refusal(mDir / "host.exe", inputs, options);
  options.padHostTo = 8157;
  std::string packError;
  ASSERT_TRUE(embedfs::Pack(mDir / "host.exe", inputs, options, mDir / "out.exe", &packError)) << packError;
  EXPECT_EQ(ReadFile(mDir / "out.exe").size(), 8192u);
}

TEST_F(EmbedFsWriter, RefusesPaddingShorterThanTheHost) {
  WriteFile(mDir / "host.exe", Noise(9000, 11));
  PackOptions options;
  options.padHostTo = 8999;
  EXPECT_NE(Refusal(mDir / "host.exe", Inputs({{"a", "1"}}), options).find("longer than the padding"),
            std::string::npos);
  options.padHostTo = 9000;
  std::string error;
  EXPECT_TRUE(embedfs::Pack(mDir / "host.exe", Inputs({{"a", "1"}}), options, mDir / "out.exe", &error))
      << error;
}

TEST_F(EmbedFsWriter, RefusesADirectoryOffsetOf2GiB) {
  WriteFile(mDir / "host.exe", Noise(9000, 12));
  PackOptions options;
  options.padHostTo = 0x80000000u;
  EXPECT_NE(Refusal(mDir / "host.exe", Inputs({{"a", "1"}}), options).find("2 GiB"), std::string::npos);
}

TEST_F(EmbedFsWriter, RefusesTotalsOf4GiBBeforeCopyingAnything) {
  WriteFile(mDir / "host.exe", Noise(9000, 13));
  MakeSparse(mDir / "big1", 0x80000000u);
  MakeSparse(mDir / "big2", 0x80000000u - 9000);
  // 4 GiB - 1 of entries plus host and directory.
  EXPECT_NE(Refusal(mDir / "host.exe", {{"one", mDir / "big1"}, {"two", mDir / "big2"}}).find("4 GiB"),
            std::string::npos);
  MakeSparse(mDir / "huge", 0x100000000ull);
  EXPECT_NE(Refusal(mDir / "host.exe", {{"huge", mDir / "huge"}}).find("4 GiB"), std::string::npos);
}

TEST_F(EmbedFsWriter, RefusesTheMagicInTheLastWindowBeforeTheTrailer) {
  WriteFile(mDir / "host.exe", Noise(9000, 14));
  const std::string carrier = Noise(100, 15) + std::string("EmbedFs 1.0\0", 12) + Noise(100, 16);
  const std::string error = Refusal(mDir / "host.exe", Inputs({{"carrier", carrier}}));
  EXPECT_NE(error.find("entry \"carrier\"), within"), std::string::npos) << error;
  EXPECT_NE(error.find("put an entry of at least 8192 bytes after it"), std::string::npos) << error;
  // A name and its terminator in the directory: only renaming helps.
  const std::string inName = Refusal(mDir / "host.exe", Inputs({{"EmbedFs 1.0", "x"}}));
  EXPECT_NE(inName.find("(in the directory), within"), std::string::npos) << inName;
  EXPECT_NE(inName.find("rename the entry whose name holds them"), std::string::npos) << inName;

  // Followed by 8192 more bytes it has left the window, as the message advises.
  std::string packError;
  EXPECT_TRUE(embedfs::Pack(mDir / "host.exe", Inputs({{"carrier", carrier}, {"after", Noise(8192, 17)}}),
                            PackOptions(), mDir / "out.exe", &packError))
      << packError;
}

TEST_F(EmbedFsWriter, RefusesAMagicThatStraddlesIntoTheTrailer) {
  // Data ending in "EmbedFs 1" followed by orgsize 0x302E, stored as ".0\0\0": together the 12 magic bytes.
  WriteFile(mDir / "host.exe", Noise(0x302E, 18));
  const std::string error = Refusal(mDir / "host.exe", Inputs({{"tail", Noise(50, 19) + "EmbedFs 1"}}));
  EXPECT_NE(error.find("EmbedFs 1.0"), std::string::npos) << error;
}

TEST_F(EmbedFsWriter, RefusesAMagicInTheHostsEndAndPaddingAsAdvisedHelps) {
  const std::string host = Noise(9000, 20) + std::string("EmbedFs 1.0\0", 12) + Noise(50, 21);
  WriteFile(mDir / "host.exe", host);
  const std::vector<PackInput> inputs = Inputs({{"a", "1"}});
  const std::string error = Refusal(mDir / "host.exe", inputs);
  EXPECT_NE(error.find("the host"), std::string::npos) << error;
  const size_t at = error.find("pad the host to at least ");
  ASSERT_NE(at, std::string::npos) << error;
  PackOptions options;
  options.padHostTo = std::strtoull(error.c_str() + at + 25, nullptr, 10);
  std::string packError;
  EXPECT_TRUE(embedfs::Pack(mDir / "host.exe", inputs, options, mDir / "out.exe", &packError)) << packError;
}

TEST_F(EmbedFsWriter, NamesMissingFilesAndLeavesAnExistingOutputUntouched) {
  WriteFile(mDir / "host.exe", Noise(9000, 22));
  WriteFile(mDir / "out.exe", "previous installer");
  std::string error = Refusal(mDir / "missing.exe", Inputs({{"a", "1"}}));
  EXPECT_NE(error.find("missing.exe"), std::string::npos) << error;
  error = Refusal(mDir / "host.exe", {{"a", mDir / "nowhere.bin"}});
  EXPECT_NE(error.find("nowhere.bin"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(mDir / "out.exe"), "previous installer");
}

TEST(EmbedFsConformance, FlagsBytesAfterTheTrailerGapsAndCaseEqualNames) {
  const std::string host = Noise(9000, 23);
  const auto check = [](const std::string& bytes, const embedfs::CertificateTable& signature = {}) {
    fixture::MemorySource source(bytes);
    embedfs::Directory directory;
    EXPECT_EQ(directory.Read(source), embedfs::ReadResult::kOk);
    std::vector<std::string> problems;
    embedfs::CheckConformance(directory, &problems, signature);
    return problems;
  };
  EXPECT_TRUE(check(fixture::Archive(host, {{"a", "1"}, {"b", "2"}})).empty());

  auto problems = check(fixture::Archive(host, {{"a", "1"}}) + "trailing");
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("8 bytes follow the trailer"), std::string::npos) << problems[0];
  // Signed: at most 7 bytes of padding lie between the trailer and a 1-byte certificate table.
  const std::string archive = fixture::Archive(host, {{"a", "1"}});
  const uint32_t trailerEnd = static_cast<uint32_t>(archive.size());
  EXPECT_TRUE(check(archive + "1234567" + "T", {trailerEnd + 7, 1}).empty());
  problems = check(archive + "12345678" + "T", {trailerEnd + 8, 1});
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("8 bytes lie between the trailer and the certificate table"), std::string::npos);

  // Data one byte shorter than the space before the trailer.
  problems = check(host + U32(1) + fixture::Record(1, "a") + "12" + U32(9000) + fixture::Magic());
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("1 bytes lie between"), std::string::npos) << problems[0];

  problems = check(fixture::Archive(host, {{"Setup.dll", "1"}, {"SETUP.DLL", "2"}, {"x/y", "3"}}));
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("folder separator"), std::string::npos) << problems[0];
  EXPECT_NE(problems[1].find("entries 0 and 1"), std::string::npos) << problems[1];
}

}  // namespace
