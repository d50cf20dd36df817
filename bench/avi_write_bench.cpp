// Full-frames writing speed of the Linux AVI writer against a plain sequential write of
// the same bytes, in the same run and on the same disk, so the ratio shows what the
// container adds to the write the data needs anyway. Neither side syncs: the figures are
// the cost of handing the bytes to the system, where a second copy or per-row system
// calls would show.
//
//   avi_write_bench [folder] [frames]      default: the system's temporary folder, 300
//   avi_write_bench --big [folder]         writes a file past 4 GiB (when the disk has
//                                          room) and has ffprobe count its frames
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "convert/avi_saver_posix.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string Folder(const char* given) {
  if (given) return given;
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// Fills a picture with a different one each time, outside the timed part's cost only as
// far as a renderer would fill it too.
void Paint(std::uint8_t* p, std::size_t bytes, int frame) {
  for (std::size_t i = 0; i < bytes; i += 4096) p[i] = static_cast<std::uint8_t>(frame + i);
}
void Paint(zelvo::FrameCanvas& canvas, int frame) { Paint(canvas.data(), canvas.bytes(), frame); }

double PlainWrite(const std::string& path, const zelvo::FrameCanvas& canvas, int frames) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return -1;
  const auto start = Clock::now();
  for (int i = 0; i < frames; ++i) {
    std::size_t done = 0;
    while (done < canvas.bytes()) {
      const ssize_t n = ::write(fd, canvas.data() + done, canvas.bytes() - done);
      if (n <= 0) {
        ::close(fd);
        return -1;
      }
      done += static_cast<std::size_t>(n);
    }
  }
  ::close(fd);
  return Seconds(start);
}

// The job's way: a temporary file beside `path`, frames of the canvas's shape written
// from their own block, the file put in place at the end.
double AviWrite(const std::string& path, int width, int height, int frames) {
  zelvo::AviSaver saver([](zelvo::CodecChoice* c) {
    c->codec = "dib";
    return true;
  });
  zelvo::DibGeometry geometry;
  zelvo::CheckedDibGeometry(width, height, 24, &geometry);
  zelvo::PackedDib image = zelvo::PackedDib::Allocate(zelvo::kDibHeaderSize + geometry.bytes);
  if (!image) return -1;
  image.set_header(zelvo::MakeDibHeader(width, height, 24, 0));
  zelvo::OutputFile output;
  if (!output.Open(path.c_str()) || !output.CreateTemporary()) return -1;
  if (!saver.Begin(width, height, output, 1000, 30000)) return -1;
  const auto start = Clock::now();
  for (int i = 0; i < frames; ++i) {
    Paint(image.pixels(), geometry.bytes, i);
    if (!saver.Append(image)) return -1;
  }
  if (!saver.Finish() || !output.Commit()) return -1;
  return Seconds(start);
}

int Throughput(const std::string& folder, int frames) {
  const int width = 1920, height = 1080;
  zelvo::FrameCanvas canvas;
  canvas.Create(width, height);
  const double megabytes = static_cast<double>(canvas.bytes()) * frames / (1024.0 * 1024.0);
  const std::string plain = folder + "/zelvo-bench-plain.bin";
  const std::string avi = folder + "/zelvo-bench.avi";
  std::printf("%d full frames of %dx%d (%.0f MiB) in %s\n", frames, width, height, megabytes,
              folder.c_str());
  // Alternating runs, best of three each, so neither side profits from a warmer cache.
  double bestPlain = 1e30, bestAvi = 1e30;
  for (int run = 0; run < 3; ++run) {
    for (int i = 0; i < frames; ++i) Paint(canvas, i);
    // Each file is removed first, so both start from an empty file and neither waits for
    // the other's writeback more than the disk makes it.
    std::remove(plain.c_str());
    const double p = PlainWrite(plain, canvas, frames);
    std::remove(avi.c_str());
    const double a = AviWrite(avi, width, height, frames);
    if (p < 0 || a < 0) {
      std::fprintf(stderr, "write failed (disk full?)\n");
      std::remove(plain.c_str());
      std::remove(avi.c_str());
      return 1;
    }
    if (p < bestPlain) bestPlain = p;
    if (a < bestAvi) bestAvi = a;
  }
  std::remove(plain.c_str());
  std::remove(avi.c_str());
  std::printf("plain sequential write : %8.1f MB/s\n", megabytes / bestPlain);
  std::printf("AVI full frames        : %8.1f MB/s  (%.2f of plain)\n", megabytes / bestAvi,
              bestPlain / bestAvi);
  return 0;
}

int Big(const std::string& folder) {
  const int width = 1920, height = 1080;
  const std::uint64_t frameBytes = 5760ull * 1080;
  const int frames = static_cast<int>((std::uint64_t{4} << 30) / frameBytes) + 100;  // past 4 GiB
  const std::uint64_t needed = frameBytes * frames + (std::uint64_t{512} << 20);
  struct statvfs fs;
  if (statvfs(folder.c_str(), &fs) != 0 || std::uint64_t{fs.f_bavail} * fs.f_frsize < needed) {
    std::printf("skipped: %s has less than %.1f GiB free\n", folder.c_str(),
                needed / (1024.0 * 1024 * 1024));
    return 0;
  }
  const std::string avi = folder + "/zelvo-bench-4gib.avi";
  const auto start = Clock::now();
  const double seconds = AviWrite(avi, width, height, frames);
  if (seconds < 0) {
    std::fprintf(stderr, "writing %s failed\n", avi.c_str());
    std::remove(avi.c_str());
    return 1;
  }
  const double gib = frameBytes * static_cast<double>(frames) / (1024.0 * 1024 * 1024);
  std::printf("wrote %d frames, %.2f GiB, in %.1f s (%.0f MB/s)\n", frames, gib, Seconds(start),
              gib * 1024 / seconds);
  const std::string command =
      "ffprobe -v error -count_frames -count_packets -select_streams v:0 -show_entries "
      "stream=nb_frames,nb_read_packets,nb_read_frames -of default=noprint_wrappers=1 '" + avi + "'";
  std::printf("ffprobe (headers; packets and frames found by reading the whole file):\n");
  std::fflush(stdout);
  const int probe = std::system(command.c_str());
  std::printf("expected %d of each\n", frames);
  std::remove(avi.c_str());
  return probe == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--big") == 0) return Big(Folder(argc > 2 ? argv[2] : nullptr));
  const int frames = argc > 2 ? std::atoi(argv[2]) : 300;
  return Throughput(Folder(argc > 1 ? argv[1] : nullptr), frames > 0 ? frames : 300);
}
