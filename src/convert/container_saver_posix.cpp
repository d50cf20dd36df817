#include "convert/container_saver_posix.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <utility>

#include "convert/avi_saver_posix.h"
#include "platform/messages_posix.h"

namespace zelvo {

namespace {

constexpr char kCaption[] = "zelvo";
// errno values stay below this; libav's own codes are negative.
constexpr int kLargestErrno = 4096;

}  // namespace

void ContainerSaver::PrintMessage(const char* caption, const char* text) { std::fprintf(stderr, "%s: %s\n", caption, text); }

ContainerSaver::ContainerSaver(MovieOptions options, Chooser chooser, MessageSink messages)
    : options_(std::move(options)), chooser_(std::move(chooser)), messages_(std::move(messages)) {}

ContainerSaver::~ContainerSaver() = default;

WriteResult ContainerSaver::Failed(const ContainerResult& result) {
  const bool systemsReason = result.error > 0 && result.error < kLargestErrno &&
                             (result.failure == ContainerFailure::kWrite || result.failure == ContainerFailure::kFinish ||
                              result.failure == ContainerFailure::kSetup);
  if (systemsReason && result.error == ENOMEM) return WriteResult::Failed(WriteFailure::kNoMemory);
  if (systemsReason) return WriteResult::Failed(WriteFailure::kSystem, result.error);
  if (messages_) messages_(kCaption, result.message.c_str());
  return WriteResult::Failed(WriteFailure::kStopped);
}

WriteResult ContainerSaver::Begin(int width, int height, const OutputFile& output, int scale, int rate) {
  Finish();
  CodecChoice choice;
  if (!chooser_ || !chooser_(&choice)) return WriteResult::Failed(WriteFailure::kStopped);  // cancelled: nothing said
  if (width <= 0 || height == 0 || height == INT_MIN || scale <= 0 || rate <= 0 ||
      !picture_.Start(width, height, options_.fitWidth, options_.fitHeight, choice.codec, options_.notice)) {
    if (messages_) messages_(kCaption, Tr("Could not create the frame canvas."));
    return WriteResult::Failed(WriteFailure::kStopped);
  }
  const ContainerResult opened =
      movie_.Open(output.descriptor(), options_.container, choice, picture_.width(), picture_.height(), scale, rate,
                  options_.soundPath.empty() ? nullptr : options_.soundPath.c_str());
  if (!opened) {
    picture_.Reset();
    return Failed(opened);
  }
  open_ = true;
  return WriteResult();
}

WriteResult ContainerSaver::Append(const PackedDib& image) {
  if (!open_) return WriteResult::Failed(WriteFailure::kSystem, EBADF);
  const std::uint8_t* rows = nullptr;
  const WriteFailure painted = picture_.Paint(image, &rows);
  if (painted != WriteFailure::kNone) return WriteResult::Failed(painted);
  const ContainerResult written = movie_.WriteFrame(rows, picture_.stride());
  return written ? WriteResult() : Failed(written);
}

WriteResult ContainerSaver::Finish() {
  if (!open_) return WriteResult();
  open_ = false;
  const ContainerResult finished = movie_.Finish();
  picture_.Reset();
  return finished ? WriteResult() : Failed(finished);
}

std::unique_ptr<FrameWriter> MakeMovieWriter(const MovieOptions& options, std::function<bool(CodecChoice*)> chooser) {
  if (options.container == Container::kAvi) return std::make_unique<AviSaver>(std::move(chooser), AviSaver::PrintMessage, options);
  return std::make_unique<ContainerSaver>(options, std::move(chooser));
}

}  // namespace zelvo
