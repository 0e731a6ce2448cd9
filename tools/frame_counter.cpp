#include "frame_counter.h"

#include "decimal_number.h"

namespace tool {

bool ParseCounterField(const std::string& text, CounterField* field, std::string* error) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) {
    *error = "--counter needs OFFSET:WIDTH[:le|be], not '" + text + "'";
    return false;
  }
  const size_t second = text.find(':', colon + 1);
  const std::string offsetText = text.substr(0, colon);
  const std::string widthText =
      text.substr(colon + 1, second == std::string::npos ? std::string::npos : second - colon - 1);
  const std::string order = second == std::string::npos ? "le" : text.substr(second + 1);
  uint64_t offset = 0;
  uint64_t width = 0;
  if (!common::ParseDecimal(offsetText, 65535, &offset)) {
    *error = "--counter: bad offset '" + offsetText + "'";
    return false;
  }
  if (!common::ParseDecimal(widthText, 8, &width) || (width != 1 && width != 2 && width != 4 && width != 8)) {
    *error = "--counter: the width must be 1, 2, 4 or 8, not '" + widthText + "'";
    return false;
  }
  if (order != "le" && order != "be") {
    *error = "--counter: the byte order must be le or be, not '" + order + "'";
    return false;
  }
  field->offset = static_cast<size_t>(offset);
  field->width = static_cast<size_t>(width);
  field->bigEndian = order == "be";
  return true;
}

uint64_t CounterMask(const CounterField& field) {
  return field.width >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * field.width)) - 1;
}

uint64_t DecodeCounter(const CounterField& field, const uint8_t* bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < field.width; ++i) {
    const size_t at = field.bigEndian ? i : field.width - 1 - i;
    value = (value << 8) | bytes[at];
  }
  return value;
}

CounterStep TrackCounter(CounterTrack* track, const CounterField& field, uint64_t value) {
  const uint64_t mask = CounterMask(field);
  CounterStep step;
  step.found = value;
  step.expected = track->expected;
  ++track->frames;
  if (track->started && value != track->expected) {
    const uint64_t ahead = (value - track->expected) & mask;
    if (ahead % field.step == 0 && ahead <= mask / 2) {
      step.jump = CounterJump::kMissing;
      step.missing = ahead / field.step;
      track->missing += step.missing;
    } else {
      step.jump = CounterJump::kOther;
      ++track->others;
    }
  }
  track->started = true;
  track->expected = (value + field.step) & mask;
  return step;
}

void SkipCounter(CounterTrack* track, const CounterField& field) {
  ++track->frames;
  if (track->started) track->expected = (track->expected + field.step) & CounterMask(field);
}

}  // namespace tool
