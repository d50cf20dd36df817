#pragma once
// The file a job writes its movie into: a temporary file beside the output, created
// exclusively, that takes the output's place in one step once it is complete, and is
// removed otherwise. An older file of the output's name stays untouched until then.
//
// On Linux the output's folder may be one other users can write to. The folder is opened
// once and every later step works relative to it (a folder renamed during the job takes
// the movie along); a link at the output's name is followed only where the system itself
// would follow it; the temporary file is kept open from its exclusive creation to the
// end, written through that descriptor and never opened again by name; it is never
// readable by more people than the file it replaces; and before it takes the output's
// name, the job checks that its name still names the file written.
#include <memory>
#include <string>

#include "platform/file.h"

namespace zelvo {

class OutputFile {
 public:
  OutputFile();
  ~OutputFile();  // discards a temporary file that was not put in place
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Finds where `path` leads and what stands there. On Linux it walks the path one name
  // at a time and follows a link only where the system would: never another user's link
  // in a folder everyone may write to that has the sticky bit (kLinkRefused; link() and
  // target() then name the link and where it leads). kSystem when the folder cannot be
  // reached.
  FileResult Open(const char* path);
  // What stands at target(): nothing, a file to replace, or something no file replaces.
  OutputKind kind() const { return kind_; }
  // The file the movie replaces or creates: the path given, or where its link leads.
  const std::string& target() const { return target_; }
  // The link that was refused, after kLinkRefused; empty otherwise.
  const std::string& link() const { return link_; }
  // True when `path` names the file standing at target() (through any link or other
  // spelling); false when nothing stands there.
  bool SameFileAs(const char* path) const;

  // Creates the temporary file beside target(), exclusively. On Linux it is created with
  // the permission bits of the file it replaces (0600 for a new output) and stays open.
  FileResult CreateTemporary();
  // The temporary file's path ("" before CreateTemporary): what the Windows writer opens.
  const std::string& temporaryPath() const { return temporaryPath_; }
  // Its descriptor, open for reading and writing, that the Linux writer writes through;
  // -1 on Windows and before CreateTemporary. Owned by this object.
  int descriptor() const;

  // Puts the complete temporary file in target()'s place. The file takes the older one's
  // permission bits, owner and group (the umask's permissions for a new output); when an
  // older file is replaced, the data reaches the disk before the replacement and the
  // replacement before Commit returns. kSwapped when the temporary name was given to
  // another file meanwhile (nothing is replaced, the other file is left alone).
  FileResult Commit();
  // Removes the temporary file, if its name still names it. Nothing else is touched.
  void Discard();

 private:
  // Forgets what Open found (before a new Open).
  void Reset();

  struct State;  // what only one system needs: on Linux the folder's and the file's descriptors
  std::unique_ptr<State> state_;
  OutputKind kind_ = OutputKind::kAbsent;
  std::string target_;
  std::string link_;
  std::string temporaryPath_;
};

// For a handler of `signal`, which ends the process: removes the temporary file of the
// OutputFile whose job is under way, if its name still names it. False while that file is
// being created: the signal is raised again once it can be removed, and the handler returns
// without ending the process. Only async-signal-safe calls on Linux; nothing on Windows,
// where no such handler runs.
bool RemovePendingTemporary(int signal);

}  // namespace zelvo
