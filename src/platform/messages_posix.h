#pragma once
// The Linux program's texts in the user's language, through GNU gettext: the English text
// in the source is the message id, po/<lang>.po holds its translations, and CMake builds
// them into <lang>/LC_MESSAGES/zelvo.mo. The catalog is looked for beside the program, so
// the same binary finds it in the build folder and under any install prefix.
#include <string>

// Marks a text for the catalog where it cannot be translated yet, in a static table; the
// code that prints the entry passes it through Tr. xgettext collects both markers.
#define N_(text) text

namespace zelvo {

// Takes the user's locale from the environment for messages and character classes, keeps
// numbers in the C locale, and binds the "zelvo" catalog. Call once at the start of main,
// before anything is printed. False when no catalog folder was found beside the program
// (the build-time install folder is bound then, and texts may stay English).
bool InitMessages();

// The text in the user's language: the catalog's translation of msgid, or msgid itself
// when there is none (English, the C locale, no catalog). The result belongs to the
// catalog or is msgid; it stays valid until the program ends and is never freed.
// format_arg: the compiler checks a printf form's arguments against the msgid, which the
// catalog's translations must match (msgfmt --check).
const char* Tr(const char* msgid) __attribute__((format_arg(1)));

// A printf form (usually Tr's result) filled in, as a string of any length.
std::string FormatText(const char* form, ...) __attribute__((format(printf, 1, 2)));

// A file name (or any text from outside) as it may be printed to a terminal: control
// characters, which a terminal would obey, written out as GNU tools write them (\033 for
// escape, \r, \n, \a, \t, \b, \f, \v, the other C0 and C1 controls and DEL as octal
// \NNN), bytes that are no valid UTF-8 as octal too, and a backslash doubled so that no
// name can pass for another. Printable UTF-8 (Japanese included) is kept as it is.
std::string TerminalSafe(const char* text);

// The folder holding <lang>/LC_MESSAGES/zelvo.mo for the program at exePath: "locale"
// beside the program (the build folder), else share/locale beside the program's folder
// (bin/ under an install prefix). False, leaving *dir alone, when neither folder exists.
bool FindLocaleDir(const std::string& exePath, std::string* dir);

}  // namespace zelvo
