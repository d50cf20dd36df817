#include "convert/job_texts.h"

// Marks the English texts for po/update-po, which collects them into the Linux program's
// message catalog (they are its msgids). It changes nothing: this portable file knows
// nothing of gettext, and the Windows program never looks the texts up.
#define MSGID(text) text

namespace zelvo {

const char* JapaneseJobText(JobText id) {
  switch (id) {
    case JobText::kOverwriteQuestion: return "%s\nこのファイルはすでに存在します。\n\n上書きしますか？";
    case JobText::kConfirmQuestion: return "%s\nから\n%s\n%d枚を\n%s\nに変換します。\n";
    case JobText::kUnreadableFrame: return "%s\nを読めませんでした。\n";
    // A frame or the file's completion could not be written (full disk, size limit, a
    // folder in the way): the user learns which file, and nothing partial is left.
    case JobText::kUnwritableOutput: return "%s\nに書き込めませんでした。\n";
    // The writer's container cannot grow past its size limit: said at the first frame
    // that would pass it, with the way out, instead of after the whole job.
    case JobText::kOutputTooLarge:
      return "%s\nは2GBを超えるため、これ以上書き込めません。\n圧縮する形式を選ぶとファイルを小さくできます。\n";
    case JobText::kOutputIsFrame:
      return "%s\nは変換するフレーム\n%s\nと同じファイルです。\n別の出力ファイルを指定してください。\n";
    case JobText::kOutputNotFile: return "%s\nはファイルではないため、書き込めません。\n";
    // Only the Linux program refuses links and checks the temporary file's name; the
    // Japanese forms are its catalog's as well.
    case JobText::kLinkRefused:
      return "%s\nは、だれでも書き込める共有フォルダーにある他のユーザーのリンクです。\nリンク先の\n%s\nには書き込みません。\n";
    case JobText::kOutputSwapped:
      return "%s\nに書き込めませんでした。\n書き込み中の一時ファイルが別のものに置き換えられました。\n";
    case JobText::kOutOfMemory: return "%s\nを変換するためのメモリが足りません。\n";
    case JobText::kCount: break;
  }
  return "";
}

const char* EnglishJobText(JobText id) {
  switch (id) {
    case JobText::kOverwriteQuestion: return MSGID("%s\nThis file already exists.\n\nReplace it?");
    case JobText::kConfirmQuestion: return MSGID("%s\nto\n%s\n%d image(s) will be converted into\n%s\n");
    case JobText::kUnreadableFrame: return MSGID("%s\ncould not be read.\n");
    case JobText::kUnwritableOutput: return MSGID("%s\ncould not be written.\n");
    case JobText::kOutputTooLarge:
      return MSGID("%s\nwould grow past 2 GB, which this file format cannot hold.\nA compressing codec keeps the file smaller.\n");
    case JobText::kOutputIsFrame:
      return MSGID("%s\nis the same file as the frame\n%s\nChoose another output file.\n");
    case JobText::kOutputNotFile: return MSGID("%s\nis not a file and cannot be written.\n");
    case JobText::kLinkRefused:
      return MSGID("%s\nis another user's link in a shared folder that everyone may write to.\n"
                   "It is not followed: nothing is written to\n%s\n");
    case JobText::kOutputSwapped:
      return MSGID("%s\ncould not be written: its temporary file was replaced by something else during the job.\n");
    case JobText::kOutOfMemory: return MSGID("%s\ncould not be converted: not enough memory.\n");
    case JobText::kCount: break;
  }
  return "";
}

}  // namespace zelvo
