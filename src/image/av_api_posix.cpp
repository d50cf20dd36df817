#include "image/av_api_posix.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "image/av_image_reader_posix.h"
#include "platform/messages_posix.h"

namespace zelvo {

namespace {

// The file names of the libraries' major versions the headers describe: another major
// version has another ABI.
#define ZELVO_SONAME(library, major) "lib" #library ".so." AV_STRINGIFY(major)
struct Library {
  const char* soname;
  void* handle;
};
Library g_avutil = {ZELVO_SONAME(avutil, LIBAVUTIL_VERSION_MAJOR), nullptr};
Library g_avcodec = {ZELVO_SONAME(avcodec, LIBAVCODEC_VERSION_MAJOR), nullptr};
Library g_avformat = {ZELVO_SONAME(avformat, LIBAVFORMAT_VERSION_MAJOR), nullptr};
Library g_swscale = {ZELVO_SONAME(swscale, LIBSWSCALE_VERSION_MAJOR), nullptr};
Library g_swresample = {ZELVO_SONAME(swresample, LIBSWRESAMPLE_VERSION_MAJOR), nullptr};
#undef ZELVO_SONAME

struct Loaded {
  bool ok = false;
  // What failed, said through Tr at each use: the form, its library, and the system's
  // reason as dlerror gave it (which names a missing function).
  const char* form = nullptr;
  std::string library, failure;
  LibavFunctions functions;
};

std::once_flag g_once;
Loaded g_loaded;

// What dlerror says, or a stand-in when it says nothing.
std::string LoaderReason() {
  const char* reason = dlerror();
  return reason != nullptr ? reason : "?";
}

// The libraries stay loaded until the process ends: their threads, callbacks and the
// functions in the table may be in use until then.
bool Open(Library& library, Loaded* loaded) {
  library.handle = dlopen(library.soname, RTLD_NOW | RTLD_LOCAL);
  if (library.handle != nullptr) return true;
  loaded->form = N_("%s cannot be loaded: %s");
  loaded->library = library.soname;
  loaded->failure = LoaderReason();
  return false;
}

template <typename Pointer>
bool Find(const Library& library, const char* name, Pointer* function, Loaded* loaded) {
  dlerror();
  void* symbol = dlsym(library.handle, name);
  if (symbol != nullptr) {
    *function = reinterpret_cast<Pointer>(symbol);
    return true;
  }
  loaded->form = N_("%s cannot be used: %s");
  loaded->library = library.soname;
  loaded->failure = LoaderReason();
  return false;
}

void Load(Loaded* loaded) {
  LibavFunctions& f = loaded->functions;
  // Each library with its functions before the next, those it needs first: a library
  // that is not the one it should be is named as itself, not as one that needs it.
  for (Library* next : {&g_avutil, &g_swresample, &g_swscale, &g_avcodec, &g_avformat}) {
    if (!Open(*next, loaded)) return;
#define ZELVO_LIBAV_FIND(library, function) \
  if (&g_##library == next && !Find(*next, #function, &f.function, loaded)) return;
    ZELVO_LIBAV_FUNCTIONS(ZELVO_LIBAV_FIND)
#undef ZELVO_LIBAV_FIND
  }
  // Before any caller can make libav log: decoders' lines never reach the terminal.
  f.av_log_set_callback(LibavLogFilter);
  loaded->ok = true;
}

std::string Sentence(const Loaded& loaded) {
  return FormatText(Tr(loaded.form), loaded.library.c_str(), loaded.failure.c_str());
}

}  // namespace

bool LoadLibav(std::string* why) {
  std::call_once(g_once, [] { Load(&g_loaded); });
  if (!g_loaded.ok && why != nullptr) *why = Sentence(g_loaded);
  return g_loaded.ok;
}

const LibavFunctions& LibavApi() {
  if (!LoadLibav()) {
    // A caller skipped LoadLibav: the call cannot be made, and nothing can be returned.
    std::fprintf(stderr, "zelvo: %s\n", Sentence(g_loaded).c_str());
    std::abort();
  }
  return g_loaded.functions;
}

}  // namespace zelvo
