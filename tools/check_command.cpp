// spi-capture check: follows the master's frame counter through a capture
// and reports every gap, i.e. every frame lost on the way.
#include <cinttypes>
#include <cstdio>

#include "byte1_filter.h"
#include "capture_reader.h"
#include "commands.h"
#include "frame_counter.h"
#include "frame_layout.h"
#include "frame_split.h"
#include "record_walk.h"

namespace tool {

namespace {

enum class Listing { kAll, kSummary, kJson };

struct CheckCount {
  uint64_t records = 0;
  uint64_t tooShort = 0;
  uint64_t fragments = 0;  // frames cut off by a full buffer: only their head is stored
  // Without --frame-size: the smallest frame long enough for the counter,
  // the frames the previous record would hold at that size, and the size to
  // suggest once a gap matches them.
  size_t smallest = 0;
  uint64_t previousFrames = 0;
  size_t hintSize = 0;
};

std::string Where(const capture::CaptureRecordView& record, size_t frame, bool split) {
  std::string where = "record " + std::to_string(record.index);
  if (split) where += " frame " + std::to_string(frame);
  return where;
}

// A gap exactly as large as the frames the previous record would hold at the
// smallest length: the bridge joined frames and --frame-size is wanted.
// Lists the suggestion once, in place of that gap; later gaps are only
// counted.
bool JoinedFramesHint(const CounterStep& step, const capture::CaptureRecordView& record, CheckCount* count,
                      Listing listing, Progress* progress) {
  if (count->hintSize != 0) return true;
  if (step.jump != CounterJump::kMissing || count->previousFrames < 2 ||
      step.missing != count->previousFrames - 1) {
    return false;
  }
  count->hintSize = count->smallest;
  if (listing != Listing::kAll) return true;
  ClearProgress(progress);
  std::printf("record %" PRIu64 ": holds %" PRIu64
              " frames of %zu bytes, as a bridge that joins frames "
              "delivers them; check with --frame-size %zu (further gaps are counted, not listed)\n",
              record.index - 1, count->previousFrames, count->hintSize, count->hintSize);
  return true;
}

// Checks the counter of one frame: bytes [begin, begin + length) of the
// record's frame.
void CheckFrame(const capture::CaptureRecordView& record, size_t frame, size_t begin, size_t length,
                const CounterField& field, bool split, Listing listing, CounterTrack* track,
                CheckCount* count, Progress* progress) {
  if (length < field.offset + field.width) {
    SkipCounter(track, field);
    ++count->tooShort;
    if (listing != Listing::kAll) return;
    ClearProgress(progress);
    std::printf("%s: frame of %s is too short for a counter at bytes %zu..%zu\n",
                Where(record, frame, split).c_str(), Counted(length, "byte").c_str(), field.offset,
                field.offset + field.width - 1);
    return;
  }
  uint8_t bytes[8];
  for (size_t i = 0; i < field.width; ++i)
    bytes[i] = capture::ViewFrameByte(record, begin + field.offset + i);
  const CounterStep step = TrackCounter(track, field, DecodeCounter(field, bytes));
  if (step.jump == CounterJump::kNone) return;
  if (!split && JoinedFramesHint(step, record, count, listing, progress)) return;
  if (listing != Listing::kAll) return;
  ClearProgress(progress);
  std::printf("%s: expected %" PRIu64 ", found %" PRIu64 ": %s\n", Where(record, frame, split).c_str(),
              step.expected, step.found,
              step.jump == CounterJump::kMissing ? (Counted(step.missing, "frame") + " missing").c_str()
                                                 : "the counter went back or off its step");
}

// Without --frame-size: notes what the record would hold at the smallest
// frame length seen, for JoinedFramesHint at the next record.
void NoteLength(size_t length, const CounterField& field, CheckCount* count) {
  if (length >= field.offset + field.width && (count->smallest == 0 || length < count->smallest)) {
    count->smallest = length;
  }
  count->previousFrames =
      count->smallest != 0 && length % count->smallest == 0 ? length / count->smallest : 0;
}

void ReportFragment(const capture::CaptureRecordView& record, const FrameSplit& split, Progress* progress) {
  ClearProgress(progress);
  std::printf("record %" PRIu64
              " frame %zu: only the first %s of the frame; the bridge's buffer was full "
              "and the rest was lost\n",
              record.index, split.count, Counted(split.fragment, "byte").c_str());
}

// --counter: OFFSET:WIDTH[:le|be], or with a layout the name of one of its
// integer scalars. false after saying what is wrong.
bool CounterOption(const std::string& text, const FrameLayout& layout, CounterField* counter) {
  for (const Field& field : layout.fields) {
    if (field.name != text) continue;
    if (!IsIntegerType(field.type) || field.array) {
      ReportError("check: --counter: field '" + text +
                  "' is not an integer of one value (u8 i8 u16 i16 u32 i32 u64 i64, without [COUNT])");
      return false;
    }
    counter->offset = field.offset;
    counter->width = field.size;
    counter->bigEndian = field.bigEndian;
    return true;
  }
  std::string error;
  if (ParseCounterField(text, counter, &error)) return true;
  if (text.find(':') == std::string::npos) {
    error = layout.fields.empty() ? error + "; a field's name needs --fields or --layout"
                                  : "--counter: the layout has no field '" + text + "'";
  }
  ReportError("check: " + error);
  return false;
}

std::string SummaryLine(const CounterTrack& track, const CheckCount& count, const Byte1Filter& byte1,
                        bool split) {
  const double expected = static_cast<double>(track.frames + track.missing);
  char head[128];
  std::snprintf(head, sizeof head, "frames %" PRIu64 ", missing %" PRIu64 " (%.2f %%)", track.frames,
                track.missing, expected > 0 ? 100.0 * static_cast<double>(track.missing) / expected : 0.0);
  std::string line = head;
  if (track.others > 0)
    line += "; the counter went back or off its step in " + Counted(track.others, "place");
  if (count.tooShort > 0) line += "; " + Counted(count.tooShort, "frame") + " too short for the counter";
  if (count.fragments > 0) {
    line += "; " + Counted(count.fragments, "record") + " cut short by a full buffer, " +
            (count.fragments == 1 ? "its last frame a fragment" : "each ending in a fragment of a frame");
  }
  if (count.hintSize != 0) {
    line += "; records look like joined frames of " + std::to_string(count.hintSize) +
            " bytes: try --frame-size " + std::to_string(count.hintSize);
  }
  if (byte1.active) line += "; " + LeftOutText(byte1, split ? "frame" : "record");
  return line;
}

void PrintJson(const CounterTrack& track, const CheckCount& count, const Byte1Filter& byte1,
               const capture::Damage& damage, bool damaged) {
  const double expected = static_cast<double>(track.frames + track.missing);
  std::printf("{\"records\": %" PRIu64 ", \"frames\": %" PRIu64 ", \"missing\": %" PRIu64
              ", \"missing_percent\": %.2f, \"counter_jumps\": %" PRIu64 ", \"too_short\": %" PRIu64
              ", \"fragments\": %" PRIu64,
              count.records, track.frames, track.missing,
              expected > 0 ? 100.0 * static_cast<double>(track.missing) / expected : 0.0, track.others,
              count.tooShort, count.fragments);
  if (count.hintSize != 0) {
    std::printf(", \"frame_size_hint\": %zu", count.hintSize);
  } else {
    std::printf(", \"frame_size_hint\": null");
  }
  std::printf(", \"left_out\": %" PRIu64 ", \"damaged\": %s", byte1.leftOut, damaged ? "true" : "false");
  if (damaged) {
    std::printf(", \"damage_offset\": %" PRIu64 ", \"damage_record\": %" PRIu64, damage.offset, damage.index);
  }
  std::printf("}\n");
}

}  // namespace

int RunCheck(const ParsedArgs& args) {
  const Listing listing = HasOption(args, "--json")      ? Listing::kJson
                          : HasOption(args, "--summary") ? Listing::kSummary
                                                         : Listing::kAll;
  size_t frameSize = 0;
  if (!FrameSizeOption(args, "check", &frameSize)) return kExitUsage;
  FrameLayout layout;
  if (!LayoutOption(args, frameSize, &layout)) return kExitUsage;
  CounterField field;
  if (!CounterOption(args.values.at("--counter"), layout, &field)) return kExitUsage;
  Byte1Filter byte1;
  if (!Byte1Option(args, "check", &byte1)) return kExitUsage;
  if (!CountOption(args, "check", "--step", &field.step)) return kExitUsage;
  if (field.step == 0 || field.step > CounterMask(field)) {
    ReportError("check: --step must be within 1.." + std::to_string(CounterMask(field)));
    return kExitUsage;
  }
  const std::string& path = args.positional[0];

  CounterTrack track;
  CheckCount count;
  RecordWalk walk;
  const WalkEnd end = WalkRecords(
      path, ReadingFor("check", true),
      [&](RecordWalk* at, const capture::CaptureRecordView& record) {
        const size_t length = capture::ViewFrameLength(record);
        const FrameSplit split = SplitFrames(length, frameSize);
        bool kept = false;
        for (size_t i = 0; i < split.count; ++i) {
          // Frames of other types are not counted at all: a master that
          // numbers each type apart checks cleanly.
          if (!KeepsFrame(&byte1, split.size, capture::ViewFrameByte(record, i * split.size + 1))) continue;
          kept = true;
          CheckFrame(record, i, i * split.size, split.size, field, frameSize != 0, listing, &track, &count,
                     &at->progress);
        }
        // The fragment's frame was not stored whole: it is not counted as a
        // frame, so the next frame's counter shows it among the missing ones.
        if (split.fragment > 0) {
          ++count.fragments;
          if (listing == Listing::kAll) ReportFragment(record, split, &at->progress);
        }
        if (frameSize == 0 && kept) NoteLength(length, field, &count);
        ++count.records;
        return RecordStep::kNext;
      },
      &walk);
  if (end == WalkEnd::kFailed) return kExitFailed;
  const bool damaged = end == WalkEnd::kDamage;
  if (listing == Listing::kJson) {
    PrintJson(track, count, byte1, walk.damage, damaged);
  } else {
    std::printf("%s\n", SummaryLine(track, count, byte1, frameSize != 0).c_str());
  }
  const int status = track.missing > 0 || track.others > 0 || count.tooShort > 0 || count.fragments > 0
                         ? kExitFailed
                         : kExitOk;
  return damaged ? kExitFailed : status;
}

}  // namespace tool
