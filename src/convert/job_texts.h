#pragma once
// The texts of the conversion job's questions and messages, as printf forms. zelvo.exe
// shows the Japanese ones as they are; the Linux program asks its message catalog.
namespace zelvo {

enum class JobText {
  kOverwriteQuestion,  // output path
  kConfirmQuestion,    // first frame, last frame, count, output path
  kUnreadableFrame,    // frame path
  kUnwritableOutput,   // output path
  kOutputTooLarge,     // output path
  kOutputIsFrame,      // output path, frame path
  kOutputNotFile,      // output path
  kLinkRefused,        // the link at the output's name, where it leads
  kOutputSwapped,      // output path
  kOutOfMemory,        // frame path
  kCount,              // not a text: how many there are, to walk them all
};

// The Japanese form of `id` ("" for kCount).
const char* JapaneseJobText(JobText id);
// The English form of `id` ("" for kCount): the message catalog's key for the Linux program.
const char* EnglishJobText(JobText id);

}  // namespace zelvo
