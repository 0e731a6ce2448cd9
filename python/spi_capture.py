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

Fields. field_array() decodes named fields of every frame, given as the
layout spi-capture's --fields and --layout take ("seq=u64le@1,t=u32le@9,
ch=i16le@16[2040]": NAME=TYPE@OFFSET[COUNT], see parse_layout()), into a
numpy structured array with one row per frame. With frame_size N it splits
every record into frames of N bytes, and a shorter last piece is a frame of
its own length: it has a row when it holds every field of the layout.

Standard library only; frame_array() and field_array() need numpy and import
it when called.

    import numpy as np
    from spi_capture import frame_array, field_array
    a = frame_array("run.bin", frame_size=4096)   # shape (frames, 4096), uint8
    f = field_array("run.bin", "seq=u64le@1,ch=i16le@19[256]")
    f["seq"], f["ch"]                             # shapes (frames,), (frames, 256)

Command line (python3 -m spi_capture --help): info FILE; fields FILE
--fields TEXT writes the fields as CSV, as spi-capture export --format csv
--fields does; plot FILE --fields TEXT -o OUT.png draws them (matplotlib,
Debian's python3-matplotlib, needed for plot only).
"""

import argparse
import array
import collections
import itertools
import math
import mmap
import operator
import os
import re
import stat
import sys
import tempfile
import warnings

__all__ = [
    "CaptureError",
    "DamageWarning",
    "FrameSizeError",
    "FrameSizeWarning",
    "LayoutField",
    "LayoutWarning",
    "Record",
    "RecordError",
    "RecordIndex",
    "field_array",
    "frame_array",
    "frames",
    "parse_layout",
    "read_layout",
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
    """Reading stopped at damage (on_damage="stop"); the text says where,
    .error is the CaptureError."""


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
        warning = DamageWarning(str(error))
        warning.error = error
        _warn(warning)


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


def _numpy(user="frame_array"):
    try:
        import numpy
    except ImportError as error:
        raise ImportError("%s needs numpy (Debian: python3-numpy); frames() and record_index() "
                          "work without it" % user) from error
    return numpy


def _uniform_frames(np, raw):
    """The frames of a whole capture whose records all have the first
    record's length, copied out with a few array operations; None when the
    capture is not like that (damaged, mixed lengths), for the record walk
    to sort out."""
    length = _uniform_length(np, raw)
    if length is None:
        return None
    recs = raw.reshape(-1, length + 2)
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


# --- frame layouts -----------------------------------------------------------

# Base type: (numpy kind and size, size in bytes).
_BASE_TYPES = {
    "u8": ("u1", 1), "i8": ("i1", 1), "u16": ("u2", 2), "i16": ("i2", 2), "u32": ("u4", 4),
    "i32": ("i4", 4), "u64": ("u8", 8), "i64": ("i8", 8), "f32": ("f4", 4), "f64": ("f8", 8),
}
_MAX_FRAME = 65535
_RESERVED_NAMES = ("index", "record", "offset")
_BLANKS = " \t"


class LayoutField(collections.namedtuple("LayoutField", "name type offset count")):
    """One field of a frame layout: its name, its type as written (u16,
    u16be, ...), its byte offset in the frame (byte 0 is the 'J') and, for an
    array, its element count (None for a scalar; an array of 1 is still an
    array)."""

    __slots__ = ()

    @property
    def dtype(self):
        """The numpy type string of one element, with its byte order: '>u2'."""
        kind, size = _BASE_TYPES[_base_type(self.type)]
        return "|" + kind if size == 1 else (">" if self.type.endswith("be") else "<") + kind

    @property
    def size(self):
        """Bytes the field covers: element size times count."""
        return _BASE_TYPES[_base_type(self.type)][1] * (self.count or 1)

    @property
    def end(self):
        """The first byte after the field: a frame needs this many bytes."""
        return self.offset + self.size

    def columns(self):
        """The field's CSV column names: NAME, or NAME[0] ... NAME[COUNT-1]."""
        if self.count is None:
            return [self.name]
        return ["%s[%d]" % (self.name, k) for k in range(self.count)]


class LayoutWarning(UserWarning):
    """Frames too short for the layout were left out of field_array(); the
    text says how many, the first of them and the first field it lacks."""


def parse_layout(text, frame_size=None, *, name=None):
    """Parses a frame layout into a tuple of LayoutField, in the order given.

    text holds fields NAME=TYPE@OFFSET or NAME=TYPE@OFFSET[COUNT], separated
    by commas or line breaks; '#' starts a comment to the end of the line;
    spaces and tabs around each token are ignored. TYPE is u8 i8 u16 i16 u32
    i32 u64 i64 f32 f64, little-endian unless it ends in 'be' ('le' may be
    written); OFFSET is decimal or 0x (or 0X) hex; fields may overlap. With
    frame_size, every field must end within a frame of that size.

    Raises ValueError with the text spi-capture prints for the same layout;
    name (a layout file's name) prefixes it with "NAME:LINE: ".
    """
    if frame_size is not None:
        frame_size = _check_frame_size(frame_size)
    fields = []
    seen = set()
    for number, line in enumerate(text.split("\n"), 1):
        line = line.rstrip("\r").split("#", 1)[0]
        if not line.strip(_BLANKS):
            continue
        for item in line.split(","):
            try:
                field = _parse_field(item.strip(_BLANKS), seen, frame_size)
            except ValueError as error:
                if name is None:
                    raise
                raise ValueError("%s:%d: %s" % (name, number, error)) from None
            seen.add(field.name)
            fields.append(field)
    if not fields:
        raise ValueError(("" if name is None else name + ": ") + "the layout names no field")
    return tuple(fields)


def read_layout(path, frame_size=None):
    """Reads a layout file (UTF-8, one field or more per line) with
    parse_layout(); its errors begin with "PATH:LINE: "."""
    with open(path, encoding="utf-8") as f:
        return parse_layout(f.read(), frame_size, name=os.fsdecode(path))


def _parse_field(item, seen, frame_size):
    """One NAME=TYPE@OFFSET[COUNT] item, checked in a fixed order so that a
    field with several faults is always reported for the same one."""
    equals = item.find("=")
    at = item.find("@", equals + 1)
    rest = item[at + 1:].rstrip(_BLANKS)
    bracket = rest.find("[")
    if equals < 0 or at < 0 or (bracket >= 0 and not rest.endswith("]")):
        raise ValueError("'%s' is not a field: write NAME=TYPE@OFFSET or NAME=TYPE@OFFSET[COUNT]" % item)
    name = item[:equals].strip(_BLANKS)
    type_text = item[equals + 1:at].strip(_BLANKS)
    offset_text = (rest[:bracket] if bracket >= 0 else rest).strip(_BLANKS)
    count_text = rest[bracket + 1:-1].strip(_BLANKS) if bracket >= 0 else None
    if not re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]{0,63}", name):
        raise ValueError("'%s' is not a field name: letters, digits and _, not starting with a digit" % name)
    if name in _RESERVED_NAMES:
        raise ValueError("field '%s': the name is taken by a column of its own" % name)
    if name in seen:
        raise ValueError("field '%s' is named twice" % name)
    if _base_type(type_text) not in _BASE_TYPES:
        raise ValueError("field '%s': unknown type '%s'; types are u8 i8 u16 i16 u32 i32 u64 i64 f32 f64, "
                         "with le or be" % (name, type_text))
    offset = _layout_number(offset_text, r"[0-9]+|0[xX][0-9A-Fa-f]+")
    if offset is None or offset > _MAX_FRAME - 1:
        raise ValueError("field '%s': offset '%s' is not a byte of a frame (0 to %d)" %
                         (name, offset_text, _MAX_FRAME - 1))
    count = None
    if count_text is not None:
        count = _layout_number(count_text, r"[0-9]+")
        if count is None or not 1 <= count <= _MAX_FRAME:
            raise ValueError("field '%s': count '%s' is not 1 to %d" % (name, count_text, _MAX_FRAME))
    field = LayoutField(name, type_text, offset, count)
    if field.end > _MAX_FRAME:
        raise ValueError("field '%s': ends at byte %d, past the longest frame (%d bytes)" %
                         (name, field.end, _MAX_FRAME))
    _check_fits(field, frame_size)
    return field


def _check_fits(field, frame_size):
    if frame_size is not None and field.end > frame_size:
        raise ValueError("field '%s': ends at byte %d, past the end of a %d-byte frame" %
                         (field.name, field.end, frame_size))


def _base_type(text):
    return text[:-2] if text[-2:] in ("le", "be") else text


def _layout_number(text, pattern):
    if not re.fullmatch(pattern, text, re.ASCII):
        return None
    return int(text, 16) if text[:2] in ("0x", "0X") else int(text)


def _layout_of(layout, layout_file, frame_size):
    if (layout is None) == (layout_file is None):
        raise TypeError("give the layout as text (layout=) or as a file (layout_file=), one of them")
    if layout_file is not None:
        return read_layout(layout_file, frame_size)
    if isinstance(layout, str):
        return parse_layout(layout, frame_size)
    fields = tuple(layout)
    if not fields or not all(isinstance(f, LayoutField) for f in fields):
        raise TypeError("layout must be text or what parse_layout() returns")
    for field in fields:
        _check_fits(field, frame_size)
    return fields


def field_array(source, layout=None, frame_size=None, *, layout_file=None, on_damage="raise"):
    """Decodes the fields of every frame: a numpy structured array, one row
    per frame, one field per layout field, in the layout's order.

    layout is the text spi-capture takes as --fields ("seq=u64le@1,
    t=u32le@9, a=i16le@19[256]"; see parse_layout(), whose ValueError it
    raises) or what parse_layout() returned; layout_file= names a layout file
    instead (spi-capture's --layout). An array field is a sub-array field of
    its COUNT elements: a["a"] has shape (frames, COUNT). Every field is in
    the machine's byte order, whatever order the frame holds it in, so the
    result works with every numpy function as it is; the values are the
    frame's exactly.

    Frames are the records' frames, or with frame_size N each record's
    frames of N bytes; a record that is not a multiple of N (cut short by a
    full buffer) ends in a shorter frame, decoded when it holds the layout.
    A frame too short for the layout has no row; one LayoutWarning says how
    many there were and which field the first one lacks. Damage is handled
    as record_index() handles it.

    A capture whose records all have one length (a multiple of frame_size,
    when given) is decoded with a few array copies per field from the file
    mapped into memory (2 GB/s and more for scalars and a few sample arrays
    in 4 KiB frames); other captures are indexed record by record first, then
    each field is copied out of every frame at once. A stream is read whole
    into memory. Needs numpy (ImportError otherwise).
    """
    return _decode_fields(source, layout, layout_file, frame_size, on_damage)[0]


# --- decoding fields ---------------------------------------------------------


def _field_dtypes(np, fields):
    """The packed dtype of the fields with their own byte orders, and the
    same in native order (equal when no field needs swapping)."""
    names = [f.name for f in fields]
    offsets = list(itertools.accumulate([0] + [f.size for f in fields[:-1]]))
    itemsize = offsets[-1] + fields[-1].size

    def dtype(order):
        formats = [order(f.dtype) if f.count is None else (order(f.dtype), (f.count,)) for f in fields]
        return np.dtype({"names": names, "formats": formats, "offsets": offsets, "itemsize": itemsize})

    return dtype(lambda t: t), dtype(lambda t: np.dtype(t).newbyteorder("=").str), offsets


def _read_stream(stream):
    read = getattr(stream, "read1", None) or stream.read
    parts = []
    while True:
        chunk = read(_BLOCK)
        if chunk is None:
            raise BlockingIOError("the stream is non-blocking and has no data ready; pass a blocking one")
        if isinstance(chunk, str):
            raise TypeError("the stream is in text mode; pass a binary one (open(path, 'rb'), sys.stdin.buffer)")
        if not chunk:
            return b"".join(parts)
        parts.append(chunk)


def _uniform_length(np, raw):
    """The frame length of a whole capture whose records all have one
    length, None for any other (damaged, mixed lengths)."""
    if raw.size < HEADER_SIZE or raw[0] != FRAME_MARKER:
        return None
    length = int(raw[2]) | int(raw[3]) << 8
    if length < 2 or raw.size % (length + 2):
        return None
    recs = raw.reshape(-1, length + 2)
    # Every slot starting with 'J' and this length is exactly what walking
    # the records one by one would find.
    if (recs[:, 0] == FRAME_MARKER).all() and (recs[:, 2] == raw[2]).all() and (recs[:, 3] == raw[3]).all():
        return length
    return None


def _frame_pieces(begin, end):
    """Frame bytes [begin, end) as pieces contiguous in a record, each
    (record column, width): bytes 0 and 1 lie before the length field."""
    pieces = []
    if begin < 2:
        pieces.append((begin, min(end, 2) - begin))
    if end > 2:
        pieces.append((max(begin, 2) + 2, end - max(begin, 2)))
    return pieces


def _decode_fields(source, layout, layout_file, frame_size, on_damage):
    """field_array() and more: (table, index, record, offset), the last three
    numpy arrays giving, for each row, its frame's index among all frames
    (those left out counted), its record's index and its record's offset.
    """
    _check_on_damage(on_damage)
    size = _check_frame_size(frame_size)
    fields = _layout_of(layout, layout_file, size)
    np = _numpy("field_array")
    packed, native, columns = _field_dtypes(np, fields)
    need = max(f.end for f in fields)
    with _Source(source, random_access=True) as src:
        data = _read_stream(src.stream) if src.stream is not None else src.data
        raw = np.frombuffer(data, dtype=np.uint8) if len(data) else np.empty(0, np.uint8)
        try:
            length = _uniform_length(np, raw)
            if length is not None and (size is None or length % size == 0):
                table, index, record, offset, short = _decode_uniform(np, raw, length, size, fields, packed,
                                                                        columns, need)
            else:
                walk = _walk_buffer(data, src.name, False)  # a stream's bytes are all read by now
                table, index, record, offset, short = _decode_indexed(np, raw, walk, size, fields, packed,
                                                                        columns, need, on_damage)
        finally:
            del raw  # the mapping closes only once no array uses it
    if short is not None:
        _warn_too_short(fields, short, src.name)
    # Fields held in the other byte order are swapped where they lie: the
    # table then reads as native types without another copy of it.
    for field in fields:
        if np.dtype(field.dtype).newbyteorder("=") != np.dtype(field.dtype):
            table[field.name].byteswap(inplace=True)
    return table.view(native), index, record, offset


def _decode_uniform(np, raw, length, size, fields, packed, columns, need):
    """Records of one length, each holding per = length / size frames: the
    bytes of frame j of every record form a column block of the records'
    matrix, copied at once for each field."""
    frame_length = size or length
    per = length // frame_length
    records = raw.size // (length + 2)
    count = records * per
    index = np.arange(count, dtype=np.int64)
    record = index // per
    offset = record * (length + 2)
    if frame_length < need:
        # Every frame is too short: report the lot, decode none.
        return (np.empty(0, packed), index[:0], record[:0], offset[:0],
                (count, 0, frame_length) if count else None)
    recs = raw.reshape(records, length + 2)
    out = np.empty((count, packed.itemsize), dtype=np.uint8)
    for j in range(per):
        rows = out[j::per]
        for field, column in zip(fields, columns):
            begin = j * frame_length + field.offset
            at = column
            for start, width in _frame_pieces(begin, begin + field.size):
                # As one opaque item per row: a copy of width bytes each, not
                # width copies of one byte.
                item = "V%d" % width
                rows[:, at:at + width].view(item)[:, 0] = recs[:, start:start + width].view(item)[:, 0]
                at += width
    return out.view(packed).reshape(count), index, record, offset, None


def _decode_indexed(np, raw, walk, size, fields, packed, columns, need, on_damage):
    """Any capture: walks the record headers, then gathers each field's
    bytes of every frame with index arrays, a block of frames at a time."""
    offsets = array.array("Q")
    lengths = array.array("H")
    for _, offset, length in _guard(walk, on_damage):
        offsets.append(offset)
        lengths.append(length)
    rec_offsets = np.frombuffer(offsets, dtype=np.uint64).astype(np.int64) if offsets else np.empty(0, np.int64)
    rec_lengths = np.frombuffer(lengths, dtype=np.uint16).astype(np.int64) if lengths else np.empty(0, np.int64)
    # A record holds ceil(length / size) frames: its whole frames, then the
    # shorter piece a full buffer cut off, which is a frame of its own length
    # (decoded when it holds the layout, else counted as too short).
    per = np.ones_like(rec_lengths) if size is None else -(-rec_lengths // size)
    record = np.repeat(np.arange(len(per), dtype=np.int64), per)
    count = len(record)
    index = np.arange(count, dtype=np.int64)
    first = np.cumsum(per) - per
    if size is None:
        base = np.zeros_like(index)
        lengths_of_frames = rec_lengths[record]
    else:
        base = (index - first[record]) * size
        lengths_of_frames = np.minimum(rec_lengths[record] - base, size)
    fits = lengths_of_frames >= need
    short = None
    if not fits.all():
        first_short = int(np.argmin(fits))
        short = (count - int(fits.sum()), first_short, int(lengths_of_frames[first_short]))
        index, record, base = index[fits], record[fits], base[fits]
    starts = rec_offsets[record]
    out = np.empty((len(index), packed.itemsize), dtype=np.uint8)
    for field, column in zip(fields, columns):
        begin = base + field.offset
        # Only a field of a record's first frame can start before the
        # length field and end after it; it comes in two pieces.
        split = (begin < 2) & (begin + field.size > 2)
        whole = np.flatnonzero(~split)
        at = begin[whole]
        out[whole, column:column + field.size] = _gather(np, raw, starts[whole] + at + 2 * (at >= 2), field.size)
        if split.any():
            rows = np.flatnonzero(split)
            head = 2 - field.offset
            out[rows, column:column + head] = _gather(np, raw, starts[rows] + field.offset, head)
            out[rows, column + head:column + field.size] = _gather(np, raw, starts[rows] + HEADER_SIZE,
                                                                   field.end - 2)
    return out.view(packed).reshape(len(index)), index, record, starts, short


def _gather(np, raw, starts, width):
    """The width bytes at each of starts, as rows: one copy of width bytes
    per row, through a view of every width-byte window of raw."""
    if not len(starts):
        return np.empty((0, width), dtype=np.uint8)
    windows = np.ndarray((raw.size - width + 1,), dtype="V%d" % width, buffer=raw, strides=(1,))
    return windows[starts].view(np.uint8).reshape(len(starts), width)


def _too_short_text(fields, short, name):
    count, first, length = short
    lacking = next(f for f in fields if f.end > length)
    return "%s%d frame%s too short for the layout left out; the first, frame %d (%d bytes), ends before field " \
           "'%s' (needs %d bytes)" % ("" if name is None else name + ": ", count, "" if count == 1 else "s", first,
                                      length, lacking.name, lacking.end)


def _warn_too_short(fields, short, name):
    _warn(LayoutWarning(_too_short_text(fields, short, name)))


# --- CSV of fields -----------------------------------------------------------


def _format_float(value, single):
    """The shortest text that reads back to the same float32 (single) or
    float64: the digits of a shortest round trip, in fixed notation or
    scientific with a signed exponent of two digits or more, whichever is
    shorter, fixed on a tie; a whole number in fixed notation shows its exact
    digits (float32 158876112, not 158876110). So 1, 0.1, 1e+16,
    1.2345678e-05, -0, nan, inf."""
    if value != value:
        return "nan"
    if value in (float("inf"), float("-inf")):
        return "inf" if value > 0 else "-inf"
    sign = "-" if math.copysign(1.0, value) < 0 else ""
    if value == 0:
        return sign + "0"
    if single:
        import numpy
        text = numpy.format_float_scientific(numpy.float32(value), unique=True, trim="-")
    else:
        text = repr(abs(value))
    mantissa, _, exponent = text.lstrip("-").partition("e")
    whole, _, fraction = mantissa.partition(".")
    digits = whole + fraction
    lead = len(digits) - len(digits.lstrip("0"))
    digits = digits.strip("0")
    power = int(exponent or 0) + len(whole) - 1 - lead  # of the first digit
    scientific = "%s%se%s%02d" % (digits[0], "." + digits[1:] if len(digits) > 1 else "", "-" if power < 0 else "+",
                                  abs(power))
    if power < 0:
        fixed = "0." + "0" * (-power - 1) + digits
    elif len(digits) <= power + 1:
        fixed = str(int(abs(value)))  # a whole number's every digit, not the shortest ones and zeros
    else:
        fixed = digits[:power + 1] + "." + digits[power + 1:]
    return sign + (fixed if len(fixed) <= len(scientific) else scientific)


def _csv_columns(values, field):
    """The CSV texts of one field's values over a block of rows: a list per
    column (one for a scalar, COUNT for an array)."""
    base = _base_type(field.type)
    if base[0] == "f":
        single = base == "f32"
        to_text = lambda v: _format_float(v, single)  # noqa: E731
    else:
        to_text = str
    if field.count is None:
        return [list(map(to_text, values.tolist()))]
    return [list(map(to_text, values[:, k].tolist())) for k in range(field.count)]


def _write_field_csv(write, fields, table, index, record, offset, split):
    """Gives write() the rows spi-capture export --format csv --fields writes."""
    header = ["index"] + (["record", "offset"] if split else []) + [c for f in fields for c in f.columns()]
    write(",".join(header) + "\n")
    block = 4096
    for row in range(0, len(table), block):
        part = table[row:row + block]
        columns = [list(map(str, index[row:row + block].tolist()))]
        if split:
            columns.append(list(map(str, record[row:row + block].tolist())))
            columns.append(list(map(str, offset[row:row + block].tolist())))
        for field in fields:
            columns.extend(_csv_columns(part[field.name], field))
        write("".join(",".join(line) + "\n" for line in zip(*columns)))


# --- command line ------------------------------------------------------------

_PROG = "spi_capture"
_EXIT_OK, _EXIT_FAILED, _EXIT_USAGE, _EXIT_STDOUT = 0, 1, 2, 3


class _Usage(Exception):
    """A usage error: reported as such, exit status 2."""


def _say(text):
    sys.stderr.write("%s: %s\n" % (_PROG, text))


def _main(argv=None):
    parser = _argument_parser()
    args = parser.parse_args(argv)
    try:
        return args.run(args)
    except _Usage as error:
        _say(str(error))
        return _EXIT_USAGE
    except _StdoutFailed as error:
        _say("standard output: %s" % (error.__cause__.strerror or error.__cause__))
        # The interpreter flushes standard output again as it exits.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return _EXIT_STDOUT
    except OSError as error:
        _say("%s: %s" % (error.filename, error.strerror) if error.filename and error.strerror else str(error))
        return _EXIT_FAILED
    except (CaptureError, ImportError) as error:  # ImportError: numpy is missing
        _say(str(error))
        return _EXIT_FAILED


class _StdoutFailed(Exception):
    """Standard output could not be written (a closed pipe, a full disk):
    exit status 3, as spi-capture has it."""


def _argument_parser():
    parser = argparse.ArgumentParser(
        prog="python3 -m spi_capture",
        description="Looks at spi-receiver captures: what they hold, their frames' fields as CSV, and a plot of "
        "them. Exit status: 0 success, 1 damage, frames too short for the layout or an I/O error, 2 usage, "
        "3 standard output could not be written.")
    commands = parser.add_subparsers(metavar="COMMAND", required=True)

    info = commands.add_parser("info", help="records, frames and their lengths, and whether the file is whole")
    info.add_argument("file", metavar="FILE", help="a capture, or - for standard input")
    info.add_argument("--frame-size", type=int, metavar="N", help="also count the frames of N bytes the records hold")
    info.set_defaults(run=_run_info)

    layout_help = ("the frame layout: NAME=TYPE@OFFSET[COUNT] fields separated by commas, e.g. "
                   "'seq=u64le@1,t=u32le@9,ch=i16le@16[256]'; types u8 i8 u16 i16 u32 i32 u64 i64 f32 f64, "
                   "with le (the default) or be")

    def add_layout(command):
        command.add_argument("file", metavar="FILE", help="a capture, or - for standard input")
        given = command.add_mutually_exclusive_group(required=True)
        given.add_argument("--fields", metavar="TEXT", help=layout_help)
        given.add_argument("--layout", metavar="FILE", help="the layout as a file: fields one per line, # comments")
        command.add_argument("--frame-size", type=int, metavar="N",
                             help="split records into frames of N bytes (2 to 65535)")

    fields = commands.add_parser("fields", help="the fields of every frame as CSV (as spi-capture export "
                                 "--format csv --fields writes it)")
    add_layout(fields)
    fields.add_argument("-o", "--output", metavar="OUT", default="-", help="the CSV file (default: standard output)")
    fields.set_defaults(run=_run_fields)

    plot = commands.add_parser(
        "plot", help="a plot of fields over the frames (needs matplotlib: Debian's python3-matplotlib)",
        description="Plots the named fields, one panel each, over the frame index or over the field --x names. "
        "An array field is drawn as its samples in order: frame i's element k at i + k/COUNT, so a waveform "
        "split over frames runs on. With --counter, lost frames (jumps of that counter) break the lines and "
        "are marked, with their count in the legend. The image is drawn without a display (matplotlib's Agg "
        "backend) and written to OUT, by default FILE's name with .png for its extension.")
    add_layout(plot)
    plot.add_argument("--y", nargs="+", action="extend", metavar="NAME",
                      help="the fields to plot (default: all but --x and --counter)")
    plot.add_argument("--x", metavar="NAME", help="a scalar field for the x axis (default: the frame index)")
    plot.add_argument("--counter", metavar="NAME", help="an integer field counting frames up by 1: its jumps "
                      "are lost frames")
    plot.add_argument("-o", "--output", metavar="OUT", help="the image, .png or .svg (default: FILE's name with "
                      ".png, which must not exist yet)")
    plot.set_defaults(run=_run_plot)
    return parser


def _input(path):
    return sys.stdin.buffer if path == "-" else path


def _run_info(args):
    if args.frame_size is not None and not 2 <= args.frame_size <= _MAX_FRAME:
        raise _Usage("info: --frame-size must be within 2..65535")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        offsets, lengths = record_index(_input(args.file), on_damage="stop")
    name = "standard input" if args.file == "-" else args.file
    print("file           %s" % name)
    if args.file != "-":
        print("file size      %s" % _counted(os.path.getsize(args.file), "byte"))
    print("records        %d" % len(lengths))
    total = sum(lengths)
    print("frame bytes    %d" % total)
    if lengths:
        print("frame length   min %d, max %d, mean %.1f" % (min(lengths), max(lengths), total / len(lengths)))
    else:
        print("frame length   -")
    if args.frame_size is not None:
        frames = sum(n // args.frame_size if n % args.frame_size == 0 else 1 for n in lengths)
        cut = sum(1 for n in lengths if n % args.frame_size)
        print("frames         %d (of %d bytes%s)" % (frames, args.frame_size, "" if not cut else
                                                     "; %s not a multiple, kept whole" % _counted(cut, "record")))
    damage = [w.message for w in caught if issubclass(w.category, DamageWarning)]
    if damage:
        error = damage[0].error
        print("ends cleanly   no: offset %d (record %d): %s" % (error.offset, error.record, error.reason))
    else:
        print("ends cleanly   yes")
    return _EXIT_FAILED if damage else _EXIT_OK


def _counted(count, noun):
    return "%d %s%s" % (count, noun, "" if count == 1 else "s")


def _layout_args(args, command):
    """The parsed layout and frame size of a fields or plot command."""
    if args.frame_size is not None and not 2 <= args.frame_size <= _MAX_FRAME:
        raise _Usage("%s: --frame-size must be within 2..65535" % command)
    try:
        if args.layout is not None:
            return read_layout(args.layout, args.frame_size)
        return parse_layout(args.fields, args.frame_size)
    except ValueError as error:
        raise _Usage(str(error)) from None


def _decode_for_command(args, fields):
    """The decoded frames and whether the command must end in failure: the
    messages of damage and of frames too short are printed as they would be
    by spi-capture."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        decoded = _decode_fields(_input(args.file), fields, None, args.frame_size, "stop")
    failed = False
    for warning in caught:
        _say(str(warning.message))
        failed |= issubclass(warning.category, (DamageWarning, LayoutWarning))
    return decoded, failed


def _same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def _write_aside(path, write):
    """Writes a file through write(f), f binary, under a temporary name
    beside it, renamed over path once whole; a device or FIFO is written
    directly."""
    if os.path.exists(path) and not os.path.isfile(path):
        with open(path, "wb") as f:
            write(f)
        return
    folder, base = os.path.split(os.path.abspath(path))
    handle, temp = tempfile.mkstemp(prefix="." + base + ".", suffix=".tmp", dir=folder)
    try:
        mask = os.umask(0)
        os.umask(mask)
        os.chmod(temp, 0o666 & ~mask)  # as a file the user creates, not mkstemp's private one
        with os.fdopen(handle, "wb") as f:
            write(f)
        os.replace(temp, path)
    except BaseException:
        os.unlink(temp)
        raise


def _run_fields(args):
    fields = _layout_args(args, "fields")
    if args.output != "-" and args.file != "-" and _same_file(args.output, args.file):
        raise _Usage("fields: the output %s is the input" % args.output)
    (table, index, record, offset), failed = _decode_for_command(args, fields)

    def write(out):
        # ASCII with bare line feeds on every system, as spi-capture writes it.
        _write_field_csv(lambda text: out.write(text.encode("ascii")), fields, table, index, record, offset,
                         args.frame_size is not None)

    if args.output == "-":
        try:
            sys.stdout.flush()
            write(sys.stdout.buffer)
            sys.stdout.buffer.flush()
        except OSError as error:
            raise _StdoutFailed() from error
    else:
        _write_aside(args.output, write)
    return _EXIT_FAILED if failed else _EXIT_OK


def _run_plot(args):
    fields = _layout_args(args, "plot")
    by_name = {f.name: f for f in fields}
    for name in (args.y or []) + [n for n in (args.x, args.counter) if n is not None]:
        if name not in by_name:
            raise _Usage("plot: the layout has no field '%s'" % name)
    for name, what in ((args.x, "--x"), (args.counter, "--counter")):
        if name is not None and by_name[name].count is not None:
            raise _Usage("plot: %s names the array '%s'; it takes a scalar field" % (what, name))
    if args.counter is not None and _base_type(by_name[args.counter].type)[0] == "f":
        raise _Usage("plot: --counter names the float '%s'; it takes an integer field" % args.counter)
    output = args.output
    if output is None:
        if args.file == "-":
            raise _Usage("plot: give -o OUT for a capture read from standard input")
        output = os.path.splitext(args.file)[0] + ".png"
        if os.path.lexists(output):
            raise _Usage("plot: %s exists; give -o %s to replace it, or another name" % (output, output))
    kind = os.path.splitext(output)[1].lower().lstrip(".")
    if kind not in ("png", "svg"):
        raise _Usage("plot: the image %s must end in .png or .svg" % output)
    if args.file != "-" and _same_file(output, args.file):
        raise _Usage("plot: the output %s is the input" % output)
    try:
        import matplotlib
        matplotlib.use("Agg")
        from matplotlib import pyplot
    except ImportError:
        _say("plot needs matplotlib: install Debian's python3-matplotlib (apt-get install python3-matplotlib)")
        return _EXIT_FAILED
    (table, index, _, _), failed = _decode_for_command(args, fields)
    shown = args.y or [f.name for f in fields if f.name not in (args.x, args.counter)] or [args.counter]
    figure = _draw(pyplot, table, index, [by_name[n] for n in shown], args.x, by_name.get(args.counter),
                   "standard input" if args.file == "-" else os.path.basename(args.file))
    try:
        _write_aside(output, lambda f: figure.savefig(f, format=kind))
    finally:
        pyplot.close(figure)
    return _EXIT_FAILED if failed else _EXIT_OK


def _lost_frames(np, table, index, counter):
    """Where lines break: gap[r] is True when frames are missing between
    row r and r + 1 (the counter jumps, or frames were left out), and the
    frames a counter's jumps account for: ahead by at most half its range,
    as spi-capture check counts them."""
    gap = np.diff(index) != 1
    lost = 0
    if counter is not None and len(table) > 1:
        bits = 8 * counter.size
        values = table[counter.name]
        values = values.view(values.dtype.str.replace("i", "u")).astype(np.uint64)
        ahead = (values[1:] - values[:-1] - np.uint64(1)) & np.uint64((1 << bits) - 1)
        gap |= ahead != 0
        lost = int(ahead[ahead <= np.uint64(1 << (bits - 1))].sum())
    return gap, lost


def _draw(pyplot, table, index, shown, x_name, counter, title):
    import numpy as np
    gap, lost = _lost_frames(np, table, index, counter)
    if x_name is None:
        x = index.astype(np.float64)
        step = np.ones_like(x)
    else:
        x = table[x_name].astype(np.float64)
        # A frame's samples spread over the step to the next frame; before a
        # gap and at the end, over the usual step.
        steps = np.diff(x)
        usual = float(np.median(steps[~gap])) if (~gap).any() else 1.0
        step = np.append(np.where(gap, usual, steps), usual)
    figure, axes = pyplot.subplots(len(shown), 1, sharex=True, squeeze=False, figsize=(10, 1 + 2.2 * len(shown)))
    gaps = np.flatnonzero(gap)
    for panel, field in zip(axes[:, 0], shown):
        count = field.count or 1
        xs = x[:, None] + step[:, None] * (np.arange(count) / count)
        ys = table[field.name].reshape(len(table), count).astype(np.float64)
        # A frame's samples, then its last one again or, before a gap, a
        # break: one line for the whole series, broken only at gaps.
        breaks = np.where(np.append(gap, False), np.nan, 0.0)[:, None]
        xs = np.concatenate([xs, xs[:, -1:] + breaks], axis=1).ravel()
        ys = np.concatenate([ys, ys[:, -1:] + breaks], axis=1).ravel()
        panel.plot(xs, ys, linewidth=0.8, label=field.name)
        if len(gaps):
            # One mark per gap, between the samples on either side of it.
            last = x[gaps] + step[gaps] * (count - 1) / count
            panel.vlines((last + x[gaps + 1]) / 2, 0, 1, transform=panel.get_xaxis_transform(),
                         color="tab:red", alpha=0.5, linewidth=0.8,
                         label="%s lost (counter %s)" % (_counted(lost, "frame"), counter.name) if counter else
                         "frames left out")
        panel.set_ylabel(field.name)
        panel.legend(loc="upper right", fontsize="small")
    axes[-1, 0].set_xlabel(x_name or "frame index")
    lost_text = "" if counter is None else ", %s lost at %s" % (_counted(lost, "frame"), _counted(len(gaps), "gap"))
    figure.suptitle("%s: %s%s" % (title, _counted(len(table), "frame"), lost_text))
    figure.tight_layout()
    return figure


if __name__ == "__main__":
    sys.exit(_main())
