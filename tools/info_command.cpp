// spi-capture info: what captures hold, and whether they are whole; as text
// or as one JSON object per file.
#include <cinttypes>
#include <cstdio>

#include "capture_reader.h"
#include "commands.h"
#include "input_file.h"
#include "record_walk.h"

namespace tool {

namespace {

// Bucket b holds lengths 2^(b+1) .. 2^(b+2)-1, so 2..3 up to 32768..65535.
constexpr int kBuckets = 15;

int BucketOf(size_t length) {
  int bucket = 0;
  while (bucket + 1 < kBuckets && length >= (size_t{4} << bucket)) ++bucket;
  return bucket;
}

struct Summary {
  uint64_t size = 0;
  uint64_t records = 0;
  uint64_t frameBytes = 0;
  size_t smallest = 0;
  size_t largest = 0;
  uint64_t histogram[kBuckets] = {};
  bool whole = false;
  capture::Damage damage;
  uint64_t validBytes = 0;
};

// Walks path into *summary; false when it could not be read, with the
// reason in *error (without the name). Damage is reported as it is found.
bool Summarise(const std::string& path, Summary* summary, std::string* error) {
  RecordWalk walk;
  const WalkEnd end = WalkRecords(
      path, ReadingFor("info"),
      [summary](RecordWalk*, const capture::CaptureRecordView& record) {
        const size_t length = capture::ViewFrameLength(record);
        if (summary->records == 0 || length < summary->smallest) summary->smallest = length;
        if (length > summary->largest) summary->largest = length;
        ++summary->records;
        summary->frameBytes += length;
        ++summary->histogram[BucketOf(length)];
        return RecordStep::kNext;
      },
      &walk);
  *error = walk.failure;
  summary->whole = end == WalkEnd::kEnd;
  summary->damage = walk.damage;
  summary->validBytes = walk.validBytes;
  summary->size = walk.size;
  return end != WalkEnd::kFailed;
}

void PrintText(const std::string& path, const Summary& s) {
  std::printf("file           %s\n", InputName(path).c_str());
  std::printf("file size      %s\n", Counted(s.size, "byte").c_str());
  std::printf("records        %" PRIu64 "\n", s.records);
  std::printf("frame bytes    %" PRIu64 "\n", s.frameBytes);
  if (s.records > 0) {
    std::printf("frame length   min %zu, max %zu, mean %.1f\n", s.smallest, s.largest,
                static_cast<double>(s.frameBytes) / static_cast<double>(s.records));
  } else {
    std::printf("frame length   -\n");
  }
  if (s.whole) {
    std::printf("ends cleanly   yes\n");
  } else {
    std::printf("ends cleanly   no: %s\n", capture::FormatDamage(s.damage).c_str());
    const uint64_t rest = s.size > s.validBytes ? s.size - s.validBytes : 0;
    std::printf("rest           %s from offset %" PRIu64 " %s not a capture record\n",
                Counted(rest, "byte").c_str(), s.validBytes, rest == 1 ? "is" : "are");
  }
  if (s.records > 0) {
    std::printf("lengths\n");
    for (int b = 0; b < kBuckets; ++b) {
      if (s.histogram[b] == 0) continue;
      const size_t low = size_t{2} << b;
      const size_t high = (size_t{4} << b) - 1;
      std::printf("  %5zu..%-5zu %10" PRIu64 " %6.1f%%\n", low, high, s.histogram[b],
                  100.0 * static_cast<double>(s.histogram[b]) / static_cast<double>(s.records));
    }
  }
}

// A JSON string: quotes, backslashes and control characters escaped; bytes
// that are not UTF-8 become the character of the same number, so any file
// name gives valid JSON.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    size_t sequence = 0;
    if (byte >= 0xc2 && byte <= 0xdf) sequence = 2;
    if (byte >= 0xe0 && byte <= 0xef) sequence = 3;
    if (byte >= 0xf0 && byte <= 0xf4) sequence = 4;
    bool valid = sequence > 0 && i + sequence <= text.size();
    for (size_t k = 1; valid && k < sequence; ++k)
      valid = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
    if (valid) {
      out.append(text, i, sequence);
      i += sequence;
      continue;
    }
    char escaped[8];
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte < 0x20 || byte >= 0x7f) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += static_cast<char>(byte);
    }
    ++i;
  }
  return out + "\"";
}

void PrintJson(const std::string& path, const Summary& s) {
  std::printf("{\"file\": %s, \"size\": %" PRIu64 ", \"records\": %" PRIu64 ", \"frame_bytes\": %" PRIu64,
              JsonString(path).c_str(), s.size, s.records, s.frameBytes);
  if (s.records > 0) {
    std::printf(", \"min_length\": %zu, \"max_length\": %zu", s.smallest, s.largest);
  } else {
    std::printf(", \"min_length\": null, \"max_length\": null");
  }
  std::printf(", \"damaged\": %s", s.whole ? "false" : "true");
  if (!s.whole) {
    std::printf(", \"damage_offset\": %" PRIu64 ", \"damage_record\": %" PRIu64 ", \"damage_reason\": %s",
                s.damage.offset, s.damage.index, JsonString(s.damage.message).c_str());
  }
  std::printf("}\n");
}

}  // namespace

int RunInfo(const ParsedArgs& args) {
  const bool json = HasOption(args, "--json");
  int status = kExitOk;
  bool first = true;
  for (const std::string& path : args.positional) {
    Summary summary;
    std::string error;
    if (!Summarise(path, &summary, &error)) {
      if (json) {
        std::printf("{\"file\": %s, \"error\": %s}\n", JsonString(path).c_str(), JsonString(error).c_str());
      }
      status = kExitFailed;
      continue;
    }
    if (json) {
      PrintJson(path, summary);
    } else {
      if (!first) std::printf("\n");
      PrintText(path, summary);
    }
    first = false;
    if (!summary.whole) status = kExitFailed;
  }
  return status;
}

}  // namespace tool
