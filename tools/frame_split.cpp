#include "frame_split.h"

namespace tool {

FrameSplit SplitFrames(size_t frameLength, size_t frameSize) {
  FrameSplit split;
  split.size = frameLength;
  if (frameSize == 0) return split;
  split.count = frameLength / frameSize;
  split.size = frameSize;
  split.fragment = frameLength % frameSize;
  return split;
}

FrameSplit SplitRecord(size_t frameLength, size_t frameSize) {
  FrameSplit split = SplitFrames(frameLength, frameSize);
  if (split.fragment == 0) return split;
  split = FrameSplit();
  split.size = frameLength;
  split.whole = true;
  return split;
}

bool FrameSizeOption(const ParsedArgs& args, const char* command, size_t* frameSize) {
  *frameSize = 0;
  uint64_t value = 0;
  if (!HasOption(args, "--frame-size")) return true;
  if (!CountOption(args, command, "--frame-size", &value)) return false;
  if (value < capture::kMinFrameLength || value > capture::kMaxFrameLength) {
    ReportError(std::string(command) + ": --frame-size must be within 2..65535");
    return false;
  }
  *frameSize = static_cast<size_t>(value);
  return true;
}

void ReportWholeRecord(const std::string& name, const capture::CaptureRecordView& record, size_t frameSize) {
  capture::Damage where;
  where.offset = record.offset;
  where.index = record.index;
  where.message = "frame length " + std::to_string(capture::ViewFrameLength(record)) +
                  " is not a multiple of the frame size " + std::to_string(frameSize) + "; kept whole";
  ReportFileError(name, capture::FormatDamage(where));
}

}  // namespace tool
