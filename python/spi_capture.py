"""Reads spi-receiver capture files: frames, the record index, numpy arrays.

A capture is records back to back, with no header or trailer. A record stores
a frame of n bytes (2 <= n <= 65535) whose first byte is 'J' (0x4A):

    offset 0   1 byte     frame byte 0, always 'J'
    offset 1   1 byte     frame byte 1
    offset 2   2 bytes    n, little-endian: the length of the frame
    offset 4   n - 2      frame bytes 2 to n - 1

so a record is n + 2 bytes long. Offsets are Python ints: captures larger
than 4 GiB are fine.

Sources. Every function takes
  - a path (str or os.PathLike);
  - a binary file object, read once from its current position as a stream
    (sys.stdin.buffer, a pipe, io.BytesIO); offsets count from that position;
  - a bytes-like object (bytes, bytearray, memoryview, mmap) holding a
    capture's contents.
Iteration reads a path or a stream in blocks and never holds more than about
a megabyte of it; frame_array() maps a path into memory instead of reading it.

Damage. A first byte that is not 'J', a length below 2, and a record that
runs past the end (a torn header or payload: the recording was cut short, or
is still being written) are damage, reported as CaptureError with the byte
offset and record index of the damaged record, in the words spi-capture uses:

    run2.cap: offset 72 (record 2): record of 4098 bytes (frame length 4096)
    runs past the end of the file, which has 7 bytes left

Nothing after the first damage is read: a damaged length field says nothing
trustworthy about where the next record starts (spi-capture repair finds
them). What comes before the damage is sound, and the functions give it:
  - on_damage="raise" (the default): iterators yield every whole record
    before the damage and then raise; record_index() and frame_array() raise.
    So a damaged capture is never taken for a whole one by mistake.
  - on_damage="stop": every function gives the whole records before the
    damage and issues a DamageWarning with the same text instead of raising.
    This suits a capture that is still being recorded, whose last record may
    be torn, and the analysis of what a damaged capture still holds.

Frame size. When the bridge hands the PC several of the master's frames in
one read, one record holds them all. With frame_size N, a record whose frame
length is a multiple of N holds length/N frames of N bytes. A record that is
not a multiple is reported: frames() gives it whole with a FrameSizeWarning;
frame_array() takes its whole frames and leaves out the fragment after them
(the head of a frame cut off when the bridge's buffer was full), with one
FrameSizeWarning counting such records, as spi-capture check --frame-size
counts them.

Standard library only; frame_array() needs numpy and imports it when called.

    import numpy as np
    from spi_capture import frame_array
    a = frame_array("run.bin", frame_size=4096)   # shape (frames, 4096), uint8
"""

import array
import collections
import mmap
import operator
import os
import stat
import sys
import warnings

__all__ = [
    "CaptureError",
    "DamageWarning",
    "FrameSizeError",
    "FrameSizeWarning",
    "Record",
    "RecordError",
    "RecordIndex",
    "frame_array",
    "frames",
    "record_index",
    "records",
]

FRAME_MARKER = 0x4A  # 'J'
HEADER_SIZE = 4  # 'J', byte 1, 16-bit length
_BLOCK = 1 << 20  # read size: large enough that the per-call cost vanishes

Record = collections.namedtuple("Record", "index offset frame")
Record.__doc__ = """A record: its 0-based index, the byte offset of its first byte, and
the frame as the master sent it (bytes, without the length field)."""

RecordIndex = collections.namedtuple("RecordIndex", "offsets lengths")
RecordIndex.__doc__ = """Where each record lies: offsets (array('Q'), the byte offset of each
record) and lengths (array('H'), each frame's length n; the record spans
n + 2 bytes). numpy.asarray() turns either into a numpy array."""


class RecordError(ValueError):
    """A problem with one record, located by byte offset and record index.

    str() gives "NAME: offset 72 (record 2): reason", without "NAME: " when
    the source has no name (bytes, most streams)."""

    def __init__(self, offset, record, reason, name=None):
        super().__init__(offset, record, reason, name)
        self.offset = offset
        self.record = record
        self.reason = reason
        self.name = name

    def __str__(self):
        where = "offset %d (record %d): %s" % (self.offset, self.record, self.reason)
        return where if self.name is None else "%s: %s" % (self.name, where)


class CaptureError(RecordError):
    """The capture is damaged at this record. .torn is True when the capture
    ends inside the record (cut short, or still being written)."""

    def __init__(self, offset, record, reason, name=None, torn=False):
        super().__init__(offset, record, reason, name)
        self.torn = torn


class FrameSizeError(RecordError):
    """This record cannot be split into frames of the asked size, or its
    length differs from the first record's when no frame size was given."""


class DamageWarning(UserWarning):
    """Reading stopped at damage (on_damage="stop"); the text says where."""


class FrameSizeWarning(UserWarning):
    """A record's frame length is not a multiple of the frame size: frames()
    gave it whole, frame_array() left out the fragment at its end."""


def records(source, *, on_damage="raise"):
    """Yields a Record(index, offset, frame) for each record of the capture.

    Reads in blocks: a capture of any size iterates in constant memory. At
    damage, yields every whole record before it, then raises CaptureError
    (on_damage="raise") or ends with a DamageWarning (on_damage="stop").
    """
    _check_on_damage(on_damage)
    with _Source(source, random_access=False) as src:
        for index, offset, frame in _guard(src.walk(True), on_damage):
            yield Record(index, offset, frame)


def frames(source, frame_size=None, *, on_damage="raise"):
    """Yields each frame (bytes) of the capture.

    Without frame_size, one frame per record. With frame_size N, a record
    whose frame length is a multiple of N gives length/N frames of N bytes;
    one that is not is given whole, with a FrameSizeWarning naming it.
    Damage is handled as records() handles it.
    """
    size = _check_frame_size(frame_size)
    for index, offset, frame in records(source, on_damage=on_damage):
        if size is None or len(frame) == size:
            yield frame
        elif len(frame) % size:
            error = _split_error(index, offset, len(frame), size, None, _name_of(source))
            _warn(FrameSizeWarning(str(error) + "; kept whole"))
            yield frame
        else:
            for start in range(0, len(frame), size):
                yield frame[start:start + size]


def record_index(source, *, on_damage="raise"):
    """Returns the RecordIndex (offsets, lengths) of the capture's records.

    A path is mapped into memory and only the record headers are looked at,
    so indexing a capture of large frames reads little of it (the pages it
    touches show as resident memory, but they are the system's file cache). At damage, raises
    CaptureError (on_damage="raise") or returns the index of the records
    before it with a DamageWarning (on_damage="stop").
    """
    _check_on_damage(on_damage)
    offsets = array.array("Q")
    lengths = array.array("H")
    with _Source(source, random_access=True) as src:
        for _, offset, length in _guard(src.walk(False), on_damage):
            offsets.append(offset)
            lengths.append(length)
    return RecordIndex(offsets, lengths)


def frame_array(source, frame_size=None, *, on_damage="raise"):
    """Returns the capture's frames as a numpy.uint8 array of shape (N, size).

    Without frame_size every record must have the same frame length, which
    becomes the row size; a record of another length raises FrameSizeError
    naming it. With frame_size, each record is split into frames of that
    size; a record whose length is not a multiple of it ends in a fragment of
    a frame (cut off by a full buffer), which is left out, and one
    FrameSizeWarning says how many records did. An empty capture gives shape (0, frame_size),
    or (0, 0) without one. Damage is handled as record_index() handles it.

    A path is mapped into memory rather than read, so the only memory used is
    the result's. Needs numpy (ImportError otherwise).
    """
    _check_on_damage(on_damage)
    size = _check_frame_size(frame_size)
    np = _numpy()
    with _Source(source, random_access=True) as src:
        if src.stream is not None:
            return _frames_from_stream(np, src, size, on_damage)
        raw = np.frombuffer(src.data, dtype=np.uint8) if len(src.data) else np.empty(0, np.uint8)
        try:
            out = _uniform_frames(np, raw)
            if out is not None:
                if size is None or size == out.shape[1]:
                    return out
                if out.shape[1] % size == 0:
                    return out.reshape(-1, size)
            return _frames_from_buffer(np, raw, src, size, on_damage)
        finally:
            del raw  # the mapping closes only once no array uses it


# --- sources -----------------------------------------------------------------


class _Source:
    """Opens what the caller gave: .data (a bytes-like or mmap, for random
    access) or .stream (a binary file object), and .name for messages."""

    def __init__(self, source, random_access):
        self.data = None
        self.stream = None
        self.name = _name_of(source)
        self._file = None
        self._map = None
        if isinstance(source, (str, os.PathLike)):
            self._file = open(source, "rb")
            try:
                self._open_path(random_access)
            except BaseException:
                self._file.close()
                raise
        elif hasattr(source, "read"):
            self.stream = source
        else:
            try:
                self.data = memoryview(source).cast("B")
            except TypeError:
                raise TypeError("expected a path, a binary file object or a bytes-like object, not %s" %
                                type(source).__name__) from None

    def _open_path(self, random_access):
        info = os.fstat(self._file.fileno())
        # A named pipe or a device is read as the stream it is.
        if not random_access or not stat.S_ISREG(info.st_mode):
            self.stream = self._file
        elif info.st_size == 0:
            self.data = b""  # an empty file cannot be mapped
        else:
            self._map = mmap.mmap(self._file.fileno(), 0, access=mmap.ACCESS_READ)
            self.data = self._map

    def walk(self, want_frames):
        if self.stream is not None:
            return _walk_stream(self.stream, self.name, want_frames)
        return _walk_buffer(self.data, self.name, want_frames)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self._map is not None:
            try:
                self._map.close()
            except BufferError:
                pass  # an array still uses it; it closes when that is gone
        if self._file is not None:
            self._file.close()


def _name_of(source):
    if isinstance(source, (str, os.PathLike)):
        return os.fsdecode(source)
    name = getattr(source, "name", None) if hasattr(source, "read") else None
    return name if isinstance(name, str) else None


# --- walking the records -----------------------------------------------------


def _parse(head, left, offset, index, name):
    """Returns the frame length of the record that starts with head (its
    first min(4, left) bytes), left being every byte from its start to the
    end; raises CaptureError if it is damaged. The marker is checked first,
    so garbage is named as such even when too few bytes remain for a header.
    """
    if head[0] != FRAME_MARKER:
        raise CaptureError(offset, index, "first byte is 0x%02x, not 'J' (0x4a)" % head[0], name)
    if left < HEADER_SIZE:
        raise CaptureError(offset, index, "file ends %d bytes into a 4-byte record header" % left, name,
                           torn=True)
    length = head[2] | head[3] << 8
    if length < 2:
        raise CaptureError(offset, index, "length %d is below 2" % length, name)
    if left < length + 2:
        raise CaptureError(
            offset, index, "record of %d bytes (frame length %d) runs past the end of the file, "
            "which has %d bytes left" % (length + 2, length, left), name, torn=True)
    return length


def _walk_buffer(data, name, want_frames):
    """Yields (index, offset, frame) for each record of a bytes-like or mmap
    (offset, length instead of the frame when not want_frames)."""
    offset = 0
    index = 0
    end = len(data)
    while offset < end:
        length = _parse(data[offset:offset + HEADER_SIZE], end - offset, offset, index, name)
        if want_frames:
            yield index, offset, bytes(data[offset:offset + 2]) + bytes(data[offset + 4:offset + length + 2])
        else:
            yield index, offset, length
        offset += length + 2
        index += 1


def _walk_stream(stream, name, want_frames):
    """As _walk_buffer, reading the stream in blocks as it goes."""
    # read1 returns what one read of the underlying file gives, so a pipe's
    # records arrive as they are written instead of a block at a time.
    read = getattr(stream, "read1", None) or stream.read
    buf = b""
    pos = 0
    at_end = False
    offset = 0
    index = 0
    while True:
        buf, pos, at_end = _fill(read, buf, pos, at_end, HEADER_SIZE)
        left = len(buf) - pos
        if left == 0:
            return
        if left >= HEADER_SIZE and buf[pos] == FRAME_MARKER:
            buf, pos, at_end = _fill(read, buf, pos, at_end, (buf[pos + 2] | buf[pos + 3] << 8) + 2)
            left = len(buf) - pos
        length = _parse(buf[pos:pos + HEADER_SIZE], left, offset, index, name)
        if want_frames:
            yield index, offset, buf[pos:pos + 2] + buf[pos + 4:pos + length + 2]
        else:
            yield index, offset, length
        pos += length + 2
        offset += length + 2
        index += 1


def _fill(read, buf, pos, at_end, need):
    """Reads until buf[pos:] holds need bytes or the stream ends; returns
    (buf, pos, at_end). The pieces are joined once, so a record that
    arrives in many small reads is not copied again for each of them."""
    have = len(buf) - pos
    if have >= need or at_end:
        return buf, pos, at_end
    parts = [buf[pos:]] if have else []
    while have < need:
        chunk = read(max(_BLOCK, need - have))
        if chunk is None:
            raise BlockingIOError("the stream is non-blocking and has no data ready; pass a blocking one")
        if isinstance(chunk, str):
            raise TypeError("the stream is in text mode; pass a binary one (open(path, 'rb'), "
                            "sys.stdin.buffer)")
        if not chunk:
            at_end = True
            break
        parts.append(chunk)
        have += len(chunk)
    if len(parts) == 1 and type(parts[0]) is bytes:
        return parts[0], 0, at_end
    return b"".join(parts), 0, at_end


def _guard(walk, on_damage):
    try:
        yield from walk
    except CaptureError as error:
        if on_damage == "raise":
            raise
        _warn(DamageWarning(str(error)))


def _warn(warning):
    """Warns at the caller's line rather than at one of this module's."""
    level = 1
    frame = sys._getframe(0)
    while frame is not None and frame.f_code.co_filename == __file__:
        frame = frame.f_back
        level += 1
    warnings.warn(warning, stacklevel=level)


# --- frame size --------------------------------------------------------------


def _check_on_damage(on_damage):
    if on_damage not in ("raise", "stop"):
        raise ValueError("on_damage must be 'raise' or 'stop', not %r" % (on_damage,))


def _check_frame_size(frame_size):
    if frame_size is None:
        return None
    try:
        size = None if isinstance(frame_size, bool) else operator.index(frame_size)  # numpy ints too
    except TypeError:
        size = None
    if size is None or size < 1:
        raise ValueError("frame_size must be a whole number of bytes, 1 or more, not %r" % (frame_size,))
    return size


def _split_error(index, offset, length, frame_size, first_length, name):
    if frame_size is not None:
        reason = "frame length %d is not a multiple of the frame size %d" % (length, frame_size)
    else:
        reason = ("frame length %d differs from the first record's %d; give a frame size to split "
                  "records into frames" % (length, first_length))
    return FrameSizeError(offset, index, reason, name)


def _whole_rows(index, offset, length, frame_size, row_size, name):
    """The bytes of this record's frame that make whole rows: all of them
    when its length is row_size (the first record's, without frame_size;
    else FrameSizeError), or its whole frames of frame_size, leaving out the
    fragment after them."""
    if frame_size is None and length != row_size:
        raise _split_error(index, offset, length, None, row_size, name)
    return length if frame_size is None else length - length % frame_size


def _warn_fragments(fragments, name):
    if fragments:
        _warn(FrameSizeWarning("%s%d record%s ended in a fragment of a frame (cut off when the bridge's "
                               "buffer was full); the fragment%s left out" %
                               ("" if name is None else name + ": ", fragments,
                                "" if fragments == 1 else "s", " is" if fragments == 1 else "s are")))


# --- numpy -------------------------------------------------------------------


def _numpy():
    try:
        import numpy
    except ImportError as error:
        raise ImportError("frame_array needs numpy (Debian: python3-numpy); frames() and record_index() "
                          "work without it") from error
    return numpy


def _uniform_frames(np, raw):
    """The frames of a whole capture whose records all have the first
    record's length, copied out with a few array operations; None when the
    capture is not like that (damaged, mixed lengths), for the record walk
    to sort out."""
    if raw.size < HEADER_SIZE or raw[0] != FRAME_MARKER:
        return None
    length = int(raw[2]) | int(raw[3]) << 8
    if length < 2 or raw.size % (length + 2):
        return None
    recs = raw.reshape(-1, length + 2)
    # Every slot starting with 'J' and this length is exactly what walking
    # the records one by one would find.
    if not ((recs[:, 0] == FRAME_MARKER).all() and (recs[:, 2] == raw[2]).all() and
            (recs[:, 3] == raw[3]).all()):
        return None
    out = np.empty((recs.shape[0], length), dtype=np.uint8)
    out[:, :2] = recs[:, :2]
    out[:, 2:] = recs[:, 4:]
    return out


def _frames_from_buffer(np, raw, src, frame_size, on_damage):
    offsets = array.array("Q")
    lengths = array.array("H")
    row_size = frame_size
    fragments = 0
    for index, offset, length in _guard(src.walk(False), on_damage):
        if row_size is None:
            row_size = length
        rows = _whole_rows(index, offset, length, frame_size, row_size, src.name)
        fragments += rows != length
        offsets.append(offset)
        lengths.append(rows)
    _warn_fragments(fragments, src.name)
    out = np.empty(sum(lengths), dtype=np.uint8)
    at = 0
    for offset, length in zip(offsets, lengths):
        # The frame's first two bytes, then the rest after the length field.
        out[at:at + min(length, 2)] = raw[offset:offset + min(length, 2)]
        out[at + 2:at + length] = raw[offset + 4:offset + length + 2]
        at += length
    return out.reshape(-1, row_size) if at else np.empty((0, row_size or 0), dtype=np.uint8)


def _frames_from_stream(np, src, frame_size, on_damage):
    joined = bytearray()
    row_size = frame_size
    fragments = 0
    for index, offset, frame in _guard(src.walk(True), on_damage):
        if row_size is None:
            row_size = len(frame)
        rows = _whole_rows(index, offset, len(frame), frame_size, row_size, src.name)
        fragments += rows != len(frame)
        joined += frame[:rows]
    _warn_fragments(fragments, src.name)
    if not joined:
        return np.empty((0, row_size or 0), dtype=np.uint8)
    return np.frombuffer(joined, dtype=np.uint8).reshape(-1, row_size)
