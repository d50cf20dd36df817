#pragma once
// The two common file dialogs of the program (Save As for the output, Open for an input
// frame) and the small extension helpers they use. A filter is a text of pairs separated
// by '\n': the description the user sees, then a pattern "*.ext".
#include <windows.h>
#include <commdlg.h>

namespace zelvo {

// What shows a file dialog: GetSaveFileNameA or GetOpenFileNameA, or a test's stand-in.
using FileNameDialog = BOOL(WINAPI*)(LPOPENFILENAMEA);

// Save As, shown by `show`. `path` (kPathSize bytes) gives the starting folder and name; the dialog shows
// the name without its extension and preselects the filter type whose extension matches
// the path's (ignoring case), or the first type. A non-zero `filterIndex` preselects that
// type instead. Returns 0 when cancelled, else the 1-based type selected at OK; a chosen
// name without an extension then gets that type's extension when it fits. `path` always
// receives the dialog's name buffer (after a cancel: the starting name without extension).
int ChooseSaveFile(char* path, const char* filter, HWND owner, int filterIndex,
                   FileNameDialog show = GetSaveFileNameA);

// Open, shown by `show`. Starts with an empty name; offers the filter's types and then all files, with
// `filterIndex` preselected. Returns non-zero when a file was chosen; `path` (kPathSize
// bytes) receives the chosen path, or an empty string after a cancel.
int ChooseOpenFile(char* path, const char* filter, HWND owner, int filterIndex,
                   FileNameDialog show = GetOpenFileNameA);

// 0 when the extension of `path` equals `extension` (with or without its dot), ignoring
// ASCII case; non-zero otherwise. A path without extension equals only "".
int CompareExtension(const char* path, const char* extension);

// Removes the extension of `path` in place (the name's last '.' and what follows).
void StripExtension(char* path);

}  // namespace zelvo
