// PNG decoding cost per frame: makes a 1920x1080 truecolour PNG of a noisy picture, the way
// renders are usually saved (Sub filter, zlib level 6), decodes it N times with ReadPng and
// prints the CPU milliseconds per frame. When ffmpeg is on the PATH it decodes
// the same file as an N-frame sequence in the same run (default threads and one thread),
// so the two figures come from one machine state.
//   png_bench [frames] [scratch folder]
#include <png.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "image/png_reader.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Smooth gradients with grain, so the file compresses about as a render or a photograph
// does (some 3 MB).
std::vector<std::uint8_t> Picture() {
  std::vector<std::uint8_t> rgb(std::size_t{kWidth} * kHeight * 3);
  std::uint32_t noise = 12345;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      noise = noise * 1103515245u + 12345u;
      int grain = static_cast<int>((noise >> 16) & 31) - 16;
      std::uint8_t* p = &rgb[(std::size_t{static_cast<std::size_t>(y)} * kWidth + x) * 3];
      p[0] = static_cast<std::uint8_t>(std::clamp(int(128 + 100 * std::sin(x / 97.0)) + grain, 0, 255));
      p[1] = static_cast<std::uint8_t>(std::clamp(y * 255 / kHeight + grain, 0, 255));
      p[2] = static_cast<std::uint8_t>(std::clamp(int(128 + 90 * std::cos((x + y) / 53.0)) + grain, 0, 255));
    }
  }
  return rgb;
}

bool Write(std::FILE* file, const std::uint8_t* rgb) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_compression_level(png, 6);
  png_write_info(png, info);
  for (int y = 0; y < kHeight; ++y) png_write_row(png, rgb + std::size_t{static_cast<std::size_t>(y)} * kWidth * 3);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const int frames = argc > 1 ? std::atoi(argv[1]) : 50;
  const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "zelvo_png_bench";
  std::error_code ec;
  fs::create_directories(folder, ec);
  const fs::path first = folder / "f0001.png";
  std::FILE* file = std::fopen(first.string().c_str(), "wb");
  std::vector<std::uint8_t> rgb = Picture();
  if (file == nullptr || !Write(file, rgb.data())) {
    std::fprintf(stderr, "cannot write %s\n", first.string().c_str());
    return 1;
  }
  std::fclose(file);
  std::printf("picture: %dx%d truecolour, %ju bytes, %d frames\n", kWidth, kHeight,
              static_cast<std::uintmax_t>(fs::file_size(first)), frames);

  double start = CpuSeconds(RUSAGE_SELF);
  std::uint64_t checksum = 0;
  for (int i = 0; i < frames; ++i) {
    zelvo::PackedDib dib = zelvo::ReadPng(first.string().c_str());
    if (!dib) {
      std::fprintf(stderr, "ReadPng failed\n");
      return 1;
    }
    checksum += dib.data()[dib.size() / 2];
  }
  double ours = (CpuSeconds(RUSAGE_SELF) - start) * 1000 / frames;
  std::printf("zelvo ReadPng:            %7.2f ms CPU per frame (checksum %ju)\n", ours,
              static_cast<std::uintmax_t>(checksum));

  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) {
    std::printf("ffmpeg not found: no comparison\n");
    return 0;
  }
  for (int i = 2; i <= frames; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%04d.png", i);
    fs::remove(folder / name, ec);
    fs::create_hard_link(first, folder / name, ec);
    if (ec) fs::copy_file(first, folder / name, ec);
  }
  for (const char* threads : {"", "-threads 1 "}) {
    std::string command = std::string("ffmpeg -nostdin -v error ") + threads + "-i '" + (folder / "f%04d.png").string() +
                          "' -f null -";
    double before = CpuSeconds(RUSAGE_CHILDREN);
    if (std::system(command.c_str()) != 0) {
      std::printf("ffmpeg failed: %s\n", command.c_str());
      continue;
    }
    double theirs = (CpuSeconds(RUSAGE_CHILDREN) - before) * 1000 / frames;
    std::printf("ffmpeg %-18s %7.2f ms CPU per frame (ratio zelvo/ffmpeg %.2f)\n",
                threads[0] ? "(one thread):" : "(default threads):", theirs, ours / theirs);
  }
  return 0;
}
