// The frame counter that most masters put in their frames: an unsigned
// number of 1, 2, 4 or 8 bytes at a fixed place, going up by a fixed step
// from frame to frame and wrapping around. A gap in it shows frames that
// were lost on the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tool {

struct CounterField {
  size_t offset = 0;  // within the frame
  size_t width = 1;   // bytes: 1, 2, 4 or 8
  bool bigEndian = false;
  uint64_t step = 1;
};

// Parses "OFFSET:WIDTH[:le|be]"; false with a message for the user.
bool ParseCounterField(const std::string& text, CounterField* field, std::string* error);

// The largest counter value: 2^(8 * width) - 1.
uint64_t CounterMask(const CounterField& field);

// Reads the counter from its bytes, in the field's byte order.
uint64_t DecodeCounter(const CounterField& field, const uint8_t* bytes);

enum class CounterJump {
  kNone,     // the expected value
  kMissing,  // ahead by whole steps: frames missing
  kOther,    // behind, or not a whole number of steps ahead
};

struct CounterTrack {
  bool started = false;
  uint64_t expected = 0;  // the next frame's value
  uint64_t frames = 0;    // frames seen
  uint64_t missing = 0;   // frames the jumps account for
  uint64_t others = 0;    // jumps that are not lost frames
};

struct CounterStep {
  CounterJump jump = CounterJump::kNone;
  uint64_t expected = 0;
  uint64_t found = 0;
  uint64_t missing = 0;
};

// Takes the next frame's counter. A jump ahead by whole steps, at most half
// the counter's range, counts as lost frames; anything else as an other jump.
// Either way the count goes on from the value found.
CounterStep TrackCounter(CounterTrack* track, const CounterField& field, uint64_t value);

// A frame too short to hold the counter: counted, and its value taken as the
// expected one, so the next frame is judged against its own place.
void SkipCounter(CounterTrack* track, const CounterField& field);

}  // namespace tool
