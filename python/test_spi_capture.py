"""Tests of spi_capture. Run: /usr/bin/python3 -m unittest discover -s python

SPI_CAPTURE_TOOL, when set to a built spi-capture, makes the module's results
be checked against that tool's on the same captures."""

import io
import os
import pathlib
import struct
import subprocess
import sys
import tempfile
import threading
import unittest
import warnings
from unittest import mock

import spi_capture as sc

try:
    import numpy
except ImportError:
    numpy = None

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.environ.get("SPI_CAPTURE_TOOL")


def encode(frames):
    return b"".join(f[:2] + struct.pack("<H", len(f)) + f[2:] for f in frames)


def frame(n, seed):
    return (b"J" + bytes((seed + i) % 256 for i in range(n)))[:n]


# Lengths at the edges (2, 65535), a line feed in the payload, coalesced frames.
FRAMES = [frame(12, 1), frame(2, 2), b"J\n" + b"\n\r" * 149, frame(65535, 3), frame(8192, 4)]
CAPTURE = encode(FRAMES)


def prefix_records(data):
    """(index, offset, frame) of the whole records at the start of data, and
    where the first record that is not whole starts: a plain model to check
    the module against."""
    out, offset = [], 0
    while offset + 4 <= len(data) and data[offset] == 0x4A:
        n = data[offset + 2] | data[offset + 3] << 8
        if n < 2 or offset + n + 2 > len(data):
            break
        out.append((len(out), offset, data[offset:offset + 2] + data[offset + 4:offset + n + 2]))
        offset += n + 2
    return out, offset


def outcome(fn):
    """What fn gives: its result, or where and why it failed."""
    try:
        return fn(), None
    except sc.CaptureError as error:
        return None, "offset %d (record %d): %s" % (error.offset, error.record, error.reason)


class TempDirTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="spi_capture_test")
        self.addCleanup(tmp.cleanup)
        self.dir = tmp.name

    def write(self, data, name="run.cap"):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path


class Reading(TempDirTest):
    def test_every_kind_of_source_gives_the_same_records(self):
        path = self.write(CAPTURE)
        expected = prefix_records(CAPTURE)[0]
        with open(path, "rb") as f:
            f.read(18)  # a stream is read from where it stands
            self.assertEqual(list(sc.frames(f)), FRAMES[2:])

        class Trickle:  # a stream that gives at most 7 bytes a read
            def __init__(self, data):
                self.read = lambda size, f=io.BytesIO(data): f.read(min(size, 7))

        makers = (lambda: path, lambda: pathlib.Path(path), lambda: CAPTURE, lambda: bytearray(CAPTURE),
                  lambda: memoryview(CAPTURE), lambda: io.BytesIO(CAPTURE), lambda: Trickle(CAPTURE),
                  lambda: open(path, "rb"))
        for make in makers:
            first, second = make(), make()
            with self.subTest(source=type(first).__name__):
                self.assertEqual([(r.index, r.offset, r.frame) for r in sc.records(first)], expected)
                self.assertEqual(list(zip(*sc.record_index(second))), [(o, len(f)) for _, o, f in expected])
            for source in (first, second):
                getattr(source, "close", lambda: None)()
        self.assertRaises(TypeError, list, sc.records(io.StringIO("J")))

    def test_standard_input_and_a_live_pipe(self):
        code = "import sys, spi_capture; print(len(spi_capture.record_index(sys.stdin.buffer).offsets))"
        done = subprocess.run([sys.executable, "-c", code], input=CAPTURE, capture_output=True, cwd=HERE)
        self.assertEqual(done.stdout.strip(), str(len(FRAMES)).encode(), done.stderr)
        if hasattr(os, "mkfifo"):  # a named pipe given by its path is read as the stream it is
            fifo = os.path.join(self.dir, "fifo")
            os.mkfifo(fifo)
            writer = threading.Thread(target=pathlib.Path(fifo).write_bytes, args=(CAPTURE,))
            writer.start()
            self.assertEqual(len(sc.record_index(fifo).offsets), len(FRAMES))
            writer.join()
        # A record already in the pipe is given without waiting for more.
        r, w = os.pipe()
        os.write(w, encode([FRAMES[0]]))
        got = []
        with open(r, "rb") as pipe:
            reader = threading.Thread(target=lambda: got.append(next(sc.frames(pipe))))
            reader.start()
            reader.join(10)
            arrived = list(got)
            os.close(w)  # lets a reader that waits for more end
            reader.join()
        self.assertEqual(arrived, [FRAMES[0]])

    def test_offsets_beyond_4_gib(self):
        record = encode([b"J\x07" + bytes(65533)])
        block = record * 15
        blocks = 4370  # 65550 records: 4.3 GB

        class Reader:  # a stream of that many records and a torn header, never held whole
            sent = 0

            def read(self, size):
                self.sent += 1
                return block if self.sent <= blocks else b"J\x07\x01" if self.sent == blocks + 1 else b""

        with self.assertWarns(sc.DamageWarning) as warned:
            offsets, lengths = sc.record_index(Reader(), on_damage="stop")
        self.assertEqual((len(offsets), offsets[-1], lengths[-1]), (65550, 65549 * 65537, 65535))
        self.assertEqual(str(warned.warning),
                         "offset 4295950350 (record 65550): file ends 3 bytes into a 4-byte record header")


class Damage(TempDirTest):
    def check_like_the_model(self, data):
        """Every way of reading data gives the model's records, then the same
        error; on_damage="stop" gives the records with a warning."""
        expected, end = prefix_records(data)
        path = self.write(data)
        ways = {
            "path": lambda: list(sc.records(path)),
            "bytes": lambda: list(sc.records(data)),
            "index": lambda: list(zip(*sc.record_index(path))),
            "stream index": lambda: list(zip(*sc.record_index(io.BytesIO(data)))),
        }
        if numpy is not None:
            ways["array"] = lambda: sc.frame_array(path, 1).tobytes()
            ways["stream array"] = lambda: sc.frame_array(io.BytesIO(data), 1).tobytes()
        results = {name: outcome(fn) for name, fn in ways.items()}
        errors = {text for _, text in results.values()}
        self.assertEqual(len(errors), 1, results)
        error = errors.pop()
        if error is not None:
            self.assertTrue(error.startswith("offset %d (record %d): " % (end, len(expected))), error)
        self.assertEqual(error is None, end == len(data))
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            self.assertEqual(list(sc.records(data, on_damage="stop")), expected)
            self.assertEqual(list(zip(*sc.record_index(path, on_damage="stop"))),
                             [(o, len(f)) for _, o, f in expected])
            if numpy is not None:
                self.assertEqual(sc.frame_array(path, 1, on_damage="stop").tobytes(),
                                 b"".join(f for _, _, f in expected))
        self.assertEqual({str(w.message) for w in caught},
                         set() if error is None else {error, path + ": " + error})

    def test_cut_and_corrupted_at_every_position(self):
        # Mixed lengths, and one length (which frame_array reads another way).
        mixed = encode([frame(5, 1), frame(2, 2), frame(9, 3)])
        for small in (mixed, encode([frame(4, i) for i in range(3)])):
            for cut in range(len(small) + 1):
                with self.subTest(cut=cut):
                    self.check_like_the_model(small[:cut])
            for at in range(len(small)):
                for value in (0x00, 0x01, 0x4A, 0xFF):
                    with self.subTest(at=at, value=value):
                        self.check_like_the_model(small[:at] + bytes([value]) + small[at + 1:])

    def test_reasons_are_spi_captures(self):
        cases = [
            (CAPTURE[:14] + b"X" + CAPTURE[15:], "offset 14 (record 1): first byte is 0x58, not 'J' (0x4a)",
             False),
            (CAPTURE[:16] + b"\x01\x00", "offset 14 (record 1): length 1 is below 2", False),
            (CAPTURE[:16], "offset 14 (record 1): file ends 2 bytes into a 4-byte record header", True),
            (CAPTURE[:-7], "offset 65857 (record 4): record of 8194 bytes (frame length 8192) runs past "
             "the end of the file, which has 8187 bytes left", True),
        ]
        for data, text, torn in cases:
            with self.assertRaises(sc.CaptureError) as raised:
                list(sc.records(data))
            self.assertEqual((str(raised.exception), raised.exception.torn), (text, torn))
        self.assertRaises(ValueError, list, sc.records(CAPTURE, on_damage="ignore"))


class FrameSize(unittest.TestCase):
    def test_records_split_into_frames_of_the_size(self):
        data = encode([frame(4096, 1), frame(8192, 2), frame(20480, 3)])
        whole = b"".join(sc.frames(data))
        self.assertEqual(list(sc.frames(data, 4096)), [whole[i:i + 4096] for i in range(0, len(whole), 4096)])
        odd = encode([frame(4096, 1), frame(5000, 2), frame(4096, 3)])
        with self.assertWarns(sc.FrameSizeWarning) as warned:
            self.assertEqual([len(f) for f in sc.frames(odd, 4096)], [4096, 5000, 4096])
        self.assertEqual(str(warned.warning), "offset 4098 (record 1): frame length 5000 is not a multiple "
                         "of the frame size 4096; kept whole")
        for size in (0, -1, 1.5, True, "4096"):
            self.assertRaises(ValueError, list, sc.frames(data, size))

    @unittest.skipIf(numpy is None, "needs numpy")
    def test_array_leaves_out_fragments_and_refuses_mixed_lengths(self):
        # Records cut by a full buffer: whole frames, then the head of a frame.
        cut = encode([frame(4096, 1), frame(5000, 2), frame(4096, 3), frame(100, 4)])
        whole = b"".join(sc.frames(cut))
        rows = whole[:4096] + whole[4096:8192] + whole[9096:13192]
        for source in (cut, io.BytesIO(cut)):
            with self.assertWarnsRegex(sc.FrameSizeWarning, "2 records ended in a fragment of a frame"):
                a = sc.frame_array(source, 4096)
            self.assertEqual((a.shape, a.tobytes()), ((3, 4096), rows))
        with self.assertWarnsRegex(sc.FrameSizeWarning, "^3 records ended"):
            self.assertEqual(sc.frame_array(encode([frame(6, 1)] * 3), 4).shape, (3, 4))
        odd = encode([frame(4096, 1), frame(5000, 2), frame(4096, 3)])
        where = r"^offset 4098 \(record 1\): frame length 5000 "
        for source in (odd, io.BytesIO(odd)):
            self.assertRaisesRegex(sc.FrameSizeError, where + "differs", sc.frame_array, source)


@unittest.skipIf(numpy is None, "needs numpy")
class Arrays(TempDirTest):
    def test_array_holds_the_frames(self):
        uniform = encode([frame(4096, i) for i in range(5)])
        self.assertEqual(sc.frame_array(uniform, numpy.int64(2048)).shape, (10, 2048))
        coalesced = encode([frame(8192, 1), frame(4096, 2), frame(12288, 3)])
        cases = ((uniform, None, (5, 4096)), (uniform, 1024, (20, 1024)), (coalesced, 4096, (6, 4096)),
                 (b"", None, (0, 0)), (b"", 64, (0, 64)))
        for data, size, shape in cases:
            for source in (self.write(data), data, io.BytesIO(data)):
                with self.subTest(size=size, shape=shape, source=type(source).__name__):
                    a = sc.frame_array(source, size)
                    self.assertEqual((a.dtype, a.shape), (numpy.uint8, shape))
                    self.assertEqual(a.tobytes(), b"".join(sc.frames(data)))
                    a[:] = 0  # a copy of its own, not a view of the read-only file


class WithoutNumpy(unittest.TestCase):
    def test_only_frame_array_needs_it(self):
        code = "import sys, spi_capture; print('numpy' in sys.modules)"
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, cwd=HERE)
        self.assertEqual(done.stdout.strip(), b"False", done.stderr)
        with mock.patch.dict(sys.modules, {"numpy": None}):
            with self.assertRaisesRegex(ImportError, "frame_array needs numpy"):
                sc.frame_array(CAPTURE)
            self.assertEqual(list(sc.frames(CAPTURE)), FRAMES)
            self.assertEqual(len(sc.record_index(CAPTURE).offsets), len(FRAMES))


@unittest.skipUnless(TOOL, "SPI_CAPTURE_TOOL does not name a built spi-capture")
class AgreesWithSpiCapture(TempDirTest):
    def run_tool(self, *args):
        return subprocess.run([TOOL] + list(args), capture_output=True)

    def test_export_dump_and_verify_agree(self):
        for data in (CAPTURE, CAPTURE[:-7], CAPTURE[:15], CAPTURE[:14] + b"X" + CAPTURE[15:],
                     CAPTURE[:16] + b"\x01\x00" + CAPTURE[18:]):
            path = self.write(data)
            out = os.path.join(self.dir, "out.raw")
            exported = self.run_tool("export", path, "--format", "raw", "-o", out)
            dumped = self.run_tool("dump", path).stdout.decode().splitlines()[1:]
            verified = self.run_tool("verify", path)
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", sc.DamageWarning)
                raw = b"".join(sc.frames(path, on_damage="stop"))
                index = list(zip(*sc.record_index(path, on_damage="stop")))
            _, error = outcome(lambda: list(sc.records(path)))
            with open(out, "rb") as f:
                self.assertEqual(f.read(), raw)
            self.assertEqual([tuple(int(field) for field in line.split()[1:3]) for line in dumped], index)
            if error is None:
                self.assertEqual((exported.returncode, verified.returncode), (0, 0))
            else:
                self.assertEqual(verified.returncode, 1)
                self.assertEqual(verified.stderr.decode().splitlines()[0],
                                 "spi-capture: %s: %s" % (path, error))


if __name__ == "__main__":
    unittest.main()
