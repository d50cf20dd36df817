// The conversion job in zelvo.exe's own setting under Wine: the Windows host with its
// progress dialog and the Video for Windows writer, only the questions, messages and the
// compressor choice scripted. Outputs at the path limit and outputs whose extension means
// something else to AVIFile are written as AVI files (the end-to-end script decodes them
// with ffmpeg); outputs that are frames, folders or devices are refused before anything is
// asked or written.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/windows_host_win32.h"
#include "convert/avi_saver_win32.h"
#include "convert/conversion_job.h"
#include "platform/directory.h"
#include "platform/path_buffer.h"
#include "support/bmp_writer.h"
#include "support/temp_dir.h"
#include "win32/avi_files_win32.h"
#include "win32/message_watch_win32.h"

namespace zelvo {
namespace {

int gChoices = 0;

BOOL AcceptFullFrames(HWND, BITMAPINFOHEADER*, COMPVARS*) {
  ++gChoices;
  return TRUE;
}

// The Windows host with the message boxes scripted: every question answered Yes.
class ScriptedWindowsHost : public WindowsHost {
 public:
  ScriptedWindowsHost() : WindowsHost(nullptr, GetModuleHandleA(nullptr), AcceptFullFrames) {}
  bool AskYesNo(const char*, const std::string& text) override {
    questions.push_back(text);
    return true;
  }
  void ShowMessage(const char*, const std::string& text) override { messages.push_back(text); }
  void Beep() override { ++beeps; }

  std::vector<std::string> questions;
  std::vector<std::string> messages;
  int beeps = 0;
};

class WindowsJob : public ::testing::Test {
 protected:
  void SetUp() override { gChoices = 0; }

  test::MessageWatch boxes_;  // the writer's own boxes would block the test
};

// Frame `n` of 4x2 pixels whose bytes all differ from the other frames'.
std::string Frame(int n) {
  test::BmpDescription desc;
  desc.width = 4;
  desc.height = 2;
  for (int i = 0; i < 24; ++i) desc.payload.push_back(static_cast<std::uint8_t>(n * 40 + i));
  const std::vector<std::uint8_t> bytes = test::BuildBmp(desc);
  return std::string(bytes.begin(), bytes.end());
}

// Writes frames `stem`1.bmp .. `stem`3.bmp into `folder`; returns the first one's path.
std::string AddFrames(const std::string& folder, const std::string& stem) {
  for (int n = 1; n <= 3; ++n) {
    std::ofstream file(test::JoinPath(folder, stem + std::to_string(n) + ".bmp"), std::ios::binary);
    file << Frame(n);
    if (!file) return std::string();
  }
  return test::JoinPath(folder, stem + "1.bmp");
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

JobOutcome RunJob(JobHost& host, const std::string& input, const std::string& output) {
  JobSettings settings;
  settings.input = input;
  settings.output = output;
  settings.first = 1;
  settings.last = 3;
  return ConversionJob(host, settings).ConvertSequence(/*confirm=*/false);
}

std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  FolderListing listing(folder, folder + "\\*");
  while (const char* name = listing.Next()) {
    if (std::string(name) != "." && std::string(name) != "..") names.push_back(name);
  }
  return names;
}

// Each output is a complete AVI file of the three frames, under its own name, with
// nothing left beside it: at 259 bytes the temporary name has no room for an extension,
// and ".wav" or ".au" would make AVIFile take the file for sound.
TEST_F(WindowsJob, OutputsAtThePathLimitAndOfAnyExtensionAreWritten) {
  struct Case {
    const char* label;  // the case's folder, for the end-to-end script
    const char* name;
    bool atLimit;       // the output's path is 259 bytes
  };
  const Case cases[] = {{"limit-a-avi", "a.avi", true}, {"limit-dot-avi", ".avi", true}, {"limit-a", "a", true},
                        {"wav", "clip.wav", false},     {"au", "clip.au", false}};
  test::OutputFolder out;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string caseFolder = out.File(std::string("job-") + c.label);
    ASSERT_TRUE(CreateDirectoryA(caseFolder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    const std::string input = AddFrames(caseFolder, "f");
    ASSERT_FALSE(input.empty());
    const std::size_t nameLength = std::string(c.name).size();
    const std::string folder =
        c.atLimit ? test::MakeFoldersToLength(caseFolder, kPathSize - 1 - nameLength) : caseFolder + "\\";
    ASSERT_FALSE(folder.empty());
    const std::string output = folder + c.name;
    if (c.atLimit) {
      ASSERT_EQ(output.size(), static_cast<std::size_t>(kPathSize - 1));
    }

    ScriptedWindowsHost host;
    EXPECT_EQ(RunJob(host, input, output), JobOutcome::kDone);
    EXPECT_TRUE(host.messages.empty()) << host.messages.front();
    EXPECT_TRUE(test::gMessages.empty()) << test::gMessages.front().text;
    EXPECT_EQ(host.beeps, 1);
    const test::ReadBack back = test::ReadAvi(output);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.info.fccHandler, mmioFOURCC('D', 'I', 'B', ' '));
    ASSERT_EQ(back.frames.size(), 3u);
    for (int n = 1; n <= 3; ++n) {
      // Rows of 12 bytes need no padding: the stored frame is the BMP's pixel area.
      const std::string frame = Frame(n);
      EXPECT_EQ(std::string(back.frames[n - 1].begin(), back.frames[n - 1].end()), frame.substr(frame.size() - 24));
    }
    EXPECT_EQ(Listing(folder.substr(0, folder.size() - 1)).size(), c.atLimit ? 1u : 4u) << "a temporary file is left";
  }
}

// Nothing is asked, no compressor chosen, no file created, and the frames keep their
// bytes: a frame is known by the file it is, however the output names it.
TEST_F(WindowsJob, OutputsThatAreFramesFoldersOrDevicesAreRefusedFirst) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(dir.AddFolder("Long Folder Name"));
  const std::string folder = dir.Join("Long Folder Name");
  const std::string input = AddFrames(folder, "sequence frame ");
  ASSERT_FALSE(input.empty());
  const std::string second = test::JoinPath(folder, "sequence frame 2.bmp");
  char shortName[kPathSize] = {};
  ASSERT_GT(GetShortPathNameA(second.c_str(), shortName, kPathSize), 0u);
  ASSERT_NE(std::string(shortName), second) << "the short name is another spelling";
  std::string upper = second;
  for (char& ch : upper) ch = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
  std::string slashes = folder + "/./sequence frame 3.bmp";
  for (char& ch : slashes) ch = ch == '\\' ? '/' : ch;

  auto isFrame = [](const std::string& output, const std::string& frame) {
    return output + "\nは変換するフレーム\n" + frame + "\nと同じファイルです。\n別の出力ファイルを指定してください。\n";
  };
  auto notFile = [](const std::string& output) { return output + "\nはファイルではないため、書き込めません。\n"; };
  struct Case {
    std::string output;
    std::string message;
  };
  const Case cases[] = {
      {second, isFrame(second, second)},
      {upper, isFrame(upper, second)},
      {shortName, isFrame(shortName, second)},
      {slashes, isFrame(slashes, test::JoinPath(folder, "sequence frame 3.bmp"))},
      {folder, notFile(folder)},
      {"NUL", notFile("NUL")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    ScriptedWindowsHost host;
    EXPECT_EQ(RunJob(host, input, c.output), JobOutcome::kFailed);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], c.message);
    EXPECT_TRUE(host.questions.empty());
    EXPECT_EQ(gChoices, 0);
    EXPECT_EQ(Listing(folder).size(), 3u);
    for (int n = 1; n <= 3; ++n) {
      EXPECT_EQ(ReadWhole(test::JoinPath(folder, "sequence frame " + std::to_string(n) + ".bmp")), Frame(n)) << n;
    }
  }
}

}  // namespace
}  // namespace zelvo
