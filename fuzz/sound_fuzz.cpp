// libFuzzer target for the sound source: the bytes become a file, which is checked as
// --audio checks it, then opened for AVI (16-bit PCM) and MP4 (AAC) and read up to the end
// of one second of video, frame by frame. Every PCM piece must be whole samples within
// what was asked for.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "convert/sound_source_posix.h"

namespace {

// A file in memory, reached by a name as the program reaches --audio.
const std::string& ScratchPath(int* fd) {
  static int file = memfd_create("zelvo_sound_fuzz", MFD_CLOEXEC);
  static const std::string path = "/proc/self/fd/" + std::to_string(file);
  *fd = file;
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int fd = -1;
  const std::string& path = ScratchPath(&fd);
  if (fd < 0 || ftruncate(fd, 0) != 0 || (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))) return 0;
  if (!zelvo::CheckSoundFile(path.c_str())) return 0;
  for (const zelvo::Container container : {zelvo::Container::kAvi, zelvo::Container::kMp4}) {
    zelvo::SoundSource sound;
    if (!sound.Open(path.c_str(), container, 1, 25)) continue;
    std::int64_t handed = 0;
    const zelvo::SoundSource::Sink sink = [&](const zelvo::SoundPacket& piece) {
      if (container == zelvo::Container::kAvi) {
        if (piece.size % (static_cast<std::size_t>(sound.channels()) * 2) != 0 || piece.pts != handed) std::abort();
        handed += piece.duration;
      }
      volatile std::uint8_t sum = 0;
      for (std::size_t i = 0; i < piece.size; ++i) sum = sum + piece.data[i];
      return true;
    };
    for (int frame = 1; frame <= 25; ++frame) {
      if (!sound.ReadUntilFrame(frame, sink)) break;
    }
    sound.Finish(sink);
    if (container == zelvo::Container::kAvi && handed > sound.sampleRate()) std::abort();
  }
  return 0;
}
