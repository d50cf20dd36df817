// The libavformat containers' path without the job around it, for bench/run --containers:
// numbered frames read one after another, drawn on the canvas and written through a
// ContainerMovie with a sound track, into a new file. Until the command line writes these
// containers itself, this is what bench/run sets beside ffmpeg.
//
//   container_bench OUTPUT CODEC SOUND FRAME...     OUTPUT's extension names the container
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "convert/container_movie_posix.h"
#include "convert/frame_canvas.h"
#include "image/frame_reader.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: container_bench OUTPUT CODEC SOUND FRAME...\n");
    return 2;
  }
  zelvo::Container container;
  if (!zelvo::ContainerFromPath(argv[1], &container) || container == zelvo::Container::kAvi) {
    std::fprintf(stderr, "container_bench: %s is not .mkv, .mp4 or .mov\n", argv[1]);
    return 2;
  }
  zelvo::PackedDib first = zelvo::ReadFrame(argv[4]).image;
  zelvo::FrameCanvas canvas;
  const int height = zelvo::GetDibHeight(first);
  if (!first || !canvas.Create(zelvo::GetDibWidth(first), height < 0 ? -height : height)) {
    std::fprintf(stderr, "container_bench: %s cannot be read\n", argv[4]);
    return 1;
  }
  const int fd = open(argv[1], O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  zelvo::CodecChoice choice;
  choice.codec = argv[2];
  zelvo::ContainerMovie movie;
  zelvo::ContainerResult result =
      movie.Open(fd, container, choice, canvas.width(), canvas.height(), 1000, 15000, argv[3]);
  for (int i = 4; i < argc && result; ++i) {
    const zelvo::PackedDib frame = i == 4 ? std::move(first) : zelvo::ReadFrame(argv[i]).image;
    if (zelvo::DrawPackedDib(canvas, frame) != 0) {
      std::fprintf(stderr, "container_bench: %s cannot be drawn\n", argv[i]);
      return 1;
    }
    result = movie.WriteFrame(canvas.data(), canvas.stride());
  }
  if (result) result = movie.Finish();
  close(fd);
  if (!result) {
    std::fprintf(stderr, "container_bench: %s\n", result.message.c_str());
    return 1;
  }
  return 0;
}
