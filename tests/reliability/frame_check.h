// Checks what a capture holds against the frames the simulated master sent.
// Generated frames carry their seq and a checksum (sim/generated_frame.h), so
// every stored byte can be traced back to the frame it came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture_reader.h"
#include "generated_frame.h"

// What the records of a capture must be.
enum class CaptureExpectation {
  // Exactly the J frames of 2 bytes or more, in order, none missing: a
  // lockstep run that nothing disturbed.
  kExactPrefix,
  // Each record is one or more whole frames, seqs rising; frames may be
  // missing between them (lost to failed or short reads, or not J).
  kWholeFrames,
  // As kWholeFrames, but a frame may be cut short where the bridge's buffer
  // overflowed or where the record ends.
  kFramePieces,
  // kWholeFrames and kFramePieces also accept a record that starts with the
  // rest of a frame cut by a short read (see restRecords).
};

struct FrameStreamCheck {
  sim::FrameGenerator generator;
  CaptureExpectation expectation = CaptureExpectation::kExactPrefix;
  uint64_t nextSeq = 0;  // every frame still to come has at least this seq
  // Figures.
  uint64_t records = 0;
  uint64_t frames = 0;     // whole frames found
  uint64_t cutFrames = 0;  // frames found cut short
  uint64_t bytes = 0;      // frame bytes verified
  uint64_t fileBytes = 0;  // record bytes walked, headers included
  // The receiver stores any whole read that starts with 'J', so after a
  // short read the rest of the cut frame may lead a record. Counted, not
  // verified byte for byte: what follows it in the record still is.
  uint64_t restRecords = 0;
  uint64_t restBytes = 0;
};

void InitFrameStreamCheck(const sim::FrameShape& shape, CaptureExpectation expectation,
                          FrameStreamCheck* check);

// Checks one record's frame (as the reader returns it) against what may come
// next; false with the reason in *error.
bool CheckRecordFrame(FrameStreamCheck* check, const uint8_t* frame, size_t size, std::string* error);

// Reads an open reader to its end; every record must pass CheckRecordFrame.
// With torn null the file must end on a record boundary; otherwise a torn
// last record (one being written) is allowed and reported in *torn.
bool CheckCaptureRecords(capture::CaptureReader* reader, FrameStreamCheck* check, bool* torn,
                         std::string* error);

// Walks the capture file with the capture reader: it must end on a record
// boundary and every record must pass CheckRecordFrame.
bool CheckCaptureFile(const std::string& path, FrameStreamCheck* check, std::string* error);
