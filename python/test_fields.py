"""Tests of spi_capture's frame layouts: parse_layout, field_array and the
fields and plot commands. Run: /usr/bin/python3 -m unittest discover -s python

SPI_CAPTURE_TOOL, when set to a built spi-capture, makes the fields CSV be
compared byte for byte with that tool's export --fields."""

import io
import math
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import warnings

import spi_capture as sc

try:
    import numpy
except ImportError:
    numpy = None
try:
    import matplotlib
except ImportError:
    matplotlib = None

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.environ.get("SPI_CAPTURE_TOOL")
MENU = "types are u8 i8 u16 i16 u32 i32 u64 i64 f32 f64, with le or be"
NOT_A_FIELD = "is not a field: write NAME=TYPE@OFFSET or NAME=TYPE@OFFSET[COUNT]"
BAD_NAME = "is not a field name: letters, digits and _, not starting with a digit"


def encode(frames):
    return b"".join(f[:2] + struct.pack("<H", len(f)) + f[2:] for f in frames)


def run_module(*args, code=None):
    """python3 -m spi_capture ARGS, with code run before it in the same process."""
    if code is None:
        return subprocess.run([sys.executable, "-m", "spi_capture"] + list(args), capture_output=True, cwd=HERE)
    script = code + "\nimport runpy, sys\nsys.argv = ['spi_capture'] + %r\n" \
        "runpy.run_module('spi_capture', run_name='__main__')" % (list(args),)
    return subprocess.run([sys.executable, "-c", script], capture_output=True, cwd=HERE)


# (layout, frame size, the error it gives): every error text.
LAYOUT_ERRORS = [
        ("", None, "the layout names no field"),
        ("# only\n\n", None, "the layout names no field"),
        ("a=u8@1,,b=u8@2", None, "'' " + NOT_A_FIELD),
        ("a=u8@1,", None, "'' " + NOT_A_FIELD),
        (" seq u64 ", None, "'seq u64' " + NOT_A_FIELD),
        ("a@1=u8", None, "'a@1=u8' " + NOT_A_FIELD),
        ("a=u8@1[2", None, "'a=u8@1[2' " + NOT_A_FIELD),
        ("a=u8@1[2]x", None, "'a=u8@1[2]x' " + NOT_A_FIELD),
        ("1a=u8@1", None, "'1a' " + BAD_NAME),
        ("a-b=u8@1", None, "'a-b' " + BAD_NAME),
        ("=u8@1", None, "'' " + BAD_NAME),
        ("n" * 65 + "=u8@1", None, "'" + "n" * 65 + "' " + BAD_NAME),
        ("offset=u8@1", None, "field 'offset': the name is taken by a column of its own"),
        ("index=nope@x", None, "field 'index': the name is taken by a column of its own"),
        ("a=u8@1,a=u16@2", None, "field 'a' is named twice"),
        ("a=u24@1", None, "field 'a': unknown type 'u24'; " + MENU),
        ("a=U16@1", None, "field 'a': unknown type 'U16'; " + MENU),
        ("a=u16lebe@1", None, "field 'a': unknown type 'u16lebe'; " + MENU),
        ("a=@1", None, "field 'a': unknown type ''; " + MENU),
        ("a=u8@65535", None, "field 'a': offset '65535' is not a byte of a frame (0 to 65534)"),
        ("a=u8@0x", None, "field 'a': offset '0x' is not a byte of a frame (0 to 65534)"),
        ("a=u8@-1", None, "field 'a': offset '-1' is not a byte of a frame (0 to 65534)"),
        ("a=u8@1_0", None, "field 'a': offset '1_0' is not a byte of a frame (0 to 65534)"),
        ("a=u8@", None, "field 'a': offset '' is not a byte of a frame (0 to 65534)"),
        ("a=u8@1[0]", None, "field 'a': count '0' is not 1 to 65535"),
        ("a=u8@1[65536]", None, "field 'a': count '65536' is not 1 to 65535"),
        ("a=u8@1[0x10]", None, "field 'a': count '0x10' is not 1 to 65535"),
        ("a=u16@65534", None, "field 'a': ends at byte 65536, past the longest frame (65535 bytes)"),
        ("a=f64@2[8192]", None, "field 'a': ends at byte 65538, past the longest frame (65535 bytes)"),
        ("a=u32@13", 16, "field 'a': ends at byte 17, past the end of a 16-byte frame"),
]


class Layouts(unittest.TestCase):
    def test_valid_layouts(self):
        F = sc.LayoutField
        cases = [
            ("seq=u64le@1", [F("seq", "u64le", 1, None)]),
            (" a = i16be @ 0x1F [ 3 ] ,\tb=f64@65527", [F("a", "i16be", 31, 3), F("b", "f64", 65527, None)]),
            ("x=u8be@65534[1],X=u8le@0,_9=f32@007", [F("x", "u8be", 65534, 1), F("X", "u8le", 0, None),
                                                     F("_9", "f32", 7, None)]),
            ("# a file\n\na=u8@1 # comment\r\nb=u16@1, c=i8@2\n", [F("a", "u8", 1, None), F("b", "u16", 1, None),
                                                                 F("c", "i8", 2, None)]),
            ("n" * 64 + "=u8@0[65535]", [F("n" * 64, "u8", 0, 65535)]),
        ]
        for text, fields in cases:
            with self.subTest(text=text):
                self.assertEqual(list(sc.parse_layout(text)), fields)
        self.assertEqual(sc.parse_layout("a=i16be@3[4]")[0][:], ("a", "i16be", 3, 4))
        self.assertEqual((F("a", "i16be", 3, 4).dtype, F("a", "i16be", 3, 4).end), (">i2", 11))

    def test_every_error_text(self):
        for text, frame_size, message in LAYOUT_ERRORS:
            with self.subTest(text=text):
                with self.assertRaises(ValueError) as raised:
                    sc.parse_layout(text, frame_size)
                self.assertEqual(str(raised.exception), message)
        self.assertEqual(len(sc.parse_layout("a=u32@12", 16)), 1)

    def test_a_layout_file_names_the_line(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "frame.layout")
            for text, message in (("a=u8@1\n# b\n\nb=u8@1, a=u8@2\n", "4: field 'a' is named twice"),
                                  ("# nothing\n", " the layout names no field")):
                with open(path, "w") as f:
                    f.write(text)
                with self.assertRaises(ValueError) as raised:
                    sc.read_layout(path)
                self.assertEqual(str(raised.exception), path + ":" + message)


# (type, values to the extremes): every type, decoded in both byte orders.
TYPES = [
    ("u8", "B", [0, 1, 255]), ("i8", "b", [-128, -1, 127]), ("u16", "H", [0, 0x1234, 65535]),
    ("i16", "h", [-32768, -2, 32767]), ("u32", "I", [0, 0x12345678, 2**32 - 1]),
    ("i32", "i", [-2**31, -3, 2**31 - 1]), ("u64", "Q", [0, 0x0102030405060708, 2**64 - 1]),
    ("i64", "q", [-2**63, -4, 2**63 - 1]),
    ("f32", "f", [-0.0, 1.401298464324817e-45, 3.4028234663852886e38, float("-inf"), float("nan"), 0.1]),
    ("f64", "d", [-0.0, 5e-324, 1.7976931348623157e308, float("inf"), float("nan"), 0.1]),
]


def bits(value, code):
    return struct.pack("<" + code, value)


@unittest.skipIf(numpy is None, "needs numpy")
class FieldArray(unittest.TestCase):
    def test_every_type_in_both_byte_orders(self):
        for name, code, values in TYPES:
            for order, mark in (("le", "<"), ("be", ">")):
                # A scalar at byte 1, across the record's length field, and
                # the lot as an array; 9 filler bytes between the frames'.
                frames = [b"J" + struct.pack(mark + code, v) + b"\xa5" * 9 + struct.pack(mark + "%d%s" % (
                    len(values), code), *values) for v in values]
                layout = "s=%s%s@1,a=%s%s@%d[%d]" % (name, order, name, order, 10 + struct.calcsize(code),
                                                     len(values))
                uniform = encode(frames)
                mixed = encode(frames + [frames[0] + b"x"])
                sources = {"uniform": (uniform, None), "mixed lengths": (mixed, None),
                           "stream": (io.BytesIO(mixed), None),
                           "coalesced": (encode([b"".join(frames)]), len(frames[0])),
                           "coalesced, mixed": (encode([b"".join(frames), frames[0]]), len(frames[0]))}
                for how, (data, size) in sources.items():
                    with self.subTest(type=name + order, source=how):
                        a = sc.field_array(data, layout, size)
                        self.assertTrue(a.dtype["s"].isnative)
                        self.assertEqual([bits(v, code) for v in a["s"][:len(values)].tolist()],
                                         [bits(v, code) for v in values])
                        self.assertEqual([bits(v, code) for v in a["a"][-1].tolist()],
                                         [bits(v, code) for v in values])

    def test_frames_too_short_are_left_out_with_one_warning(self):
        data = encode([b"J\x01" + bytes(18), b"J\x02abc", b"J\x03" + bytes(18), b"J\x04"])
        # Records of 2.5 frames of 8 bytes, as a full buffer cuts them: the
        # last 4 bytes are a frame of their own.
        cut = encode([b"J\x06" + bytes(6) + b"J\x07" + bytes(6) + b"J\x08\x09\x0a"] * 2)
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "short.cap")
            with open(path, "wb") as f:
                f.write(data)
            cases = [
                (data, "a=u8@1,b=u16@4", None, [1, 3], "2 frames too short for the layout left out; the first, "
                 "frame 1 (5 bytes), ends before field 'b' (needs 6 bytes)"),
                (path, "a=u8@1,b=u8@2[30]", None, [], path + ": 4 frames too short for the layout left out; the "
                 "first, frame 0 (20 bytes), ends before field 'b' (needs 32 bytes)"),
                (encode([b"J\x05" * 3] * 2), "a=u8@1,b=u8@6", None, [], "2 frames too short for the layout left "
                 "out; the first, frame 0 (6 bytes), ends before field 'b' (needs 7 bytes)"),
                (data, "a=u8@1", None, [1, 2, 3, 4], None),
                (cut, "a=u8@1,b=u16be@2", 8, [6, 7, 8] * 2, None),
                (cut + data[:22], "a=u8@1,b=u16@6", 8, [6, 7, 6, 7, 1, 0], "3 frames too short for the layout "
                 "left out; the first, frame 2 (4 bytes), ends before field 'b' (needs 8 bytes)"),
                (data, "a=u8@1,b=u8@4", 8, [1, 0, 2, 3, 0], "3 frames too short for the layout left out; the "
                 "first, frame 2 (4 bytes), ends before field 'b' (needs 5 bytes)"),
            ]
            for source, layout, size, kept, message in cases:
                with self.subTest(layout=layout, size=size), warnings.catch_warnings(record=True) as caught:
                    warnings.simplefilter("always")
                    self.assertEqual(sc.field_array(source, layout, size)["a"].tolist(), kept)
                self.assertEqual([str(w.message) for w in caught], [message] if message else [])
                self.assertTrue(all(w.category is sc.LayoutWarning for w in caught))

    def test_the_simulators_frames(self):
        # As the simulated master makes them: seq, its clock, its length
        # big-endian, a sine and a triangle sampled at n = seq * 256 + k.
        sine = [round(1000.0 * math.sin(2 * 3.14159265358979323846 * p / 200.0)) for p in range(200)]
        triangle = [-1000 + 20 * p if p < 100 else 1000 - 20 * (p - 100) for p in range(200)]
        frames = []
        for seq in (0, 1, 2, 3, 2**40):
            n = [(seq * 256 + k) % 200 for k in range(256)]
            head = b"J" + struct.pack("<QII", seq, 0, seq * 4096 % 2**32) + struct.pack(">H", 4096)
            body = struct.pack("<256h", *[sine[p] for p in n]) + struct.pack("<256h", *[triangle[p] for p in n])
            frames.append((head + body).ljust(4096, b"\x5a"))
        layout = ("seq = u64le@1 # number\ncheck = u32le@9\nt_us = u32le@13\nlength = u16be@17\n"
                  "a = i16le@19[256]\nb = i16le@531[256]# channel b\n")
        a = sc.field_array(encode(frames), layout)
        self.assertEqual(a["seq"].tolist(), [0, 1, 2, 3, 2**40])
        self.assertEqual(a["t_us"].tolist(), [0, 4096, 8192, 12288, 0])
        self.assertEqual(set(a["length"].tolist()), {4096})
        self.assertEqual(a["a"][:3].ravel().tolist(), [sine[n % 200] for n in range(768)])
        self.assertEqual(a["b"][:3].ravel().tolist(), [triangle[n % 200] for n in range(768)])
        self.assertEqual((a["a"].max(), a["a"].min(), a["b"][4, 0]), (1000, -1000, triangle[2**48 % 200]))

    def test_arguments(self):
        self.assertRaises(TypeError, sc.field_array, b"", "a=u8@0", layout_file="x")
        self.assertRaises(TypeError, sc.field_array, b"")
        self.assertRaisesRegex(ValueError, "^field 'a': ends at byte 5, past the end of a 4-byte frame$",
                               sc.field_array, b"", "a=u8@4", 4)
        fields = sc.parse_layout("a=u16be@2")
        self.assertEqual(sc.field_array(encode([b"J\x00\x01\x02"]), fields).tolist(), [(0x102,)])
        self.assertEqual(sc.field_array(b"", fields).shape, (0,))


# A capture of two records, the second holding two frames of 8 bytes, and
# the CSV of their fields (the doubles as std::to_chars writes them).
SMALL = encode([b"J\x01" + struct.pack("<hf", -2, 0.1),
                b"J\x02" + struct.pack(">H", 513) + struct.pack("<f", -1e-05) + b"J\x03" + struct.pack("<hf", 32767,
                                                                                                       math.inf)])
SMALL_LAYOUT = "b1=u8@1,v=i16@2,f=f32@4,w=u16be@2,d=f64@0,t=i8@6[2]"
SMALL_CSV = ("index,record,offset,b1,v,f,w,d,t[0],t[1]\n"
             "0,0,0,1,-2,0.1,65279,5.2386928127966505e-11,-52,61\n"
             "1,1,10,2,258,-1e-05,513,-5.329901671482589e-43,39,-73\n"
             "2,1,10,3,32767,inf,65407,1.404448431283889e+306,-128,127\n")
# SMALL and a record cut short by a full buffer: two frames of 8 bytes and
# the first 4 of a third.
CUT = SMALL + encode([b"J\x04" + struct.pack("<hf", 4, 0.5) + b"J\x05" + struct.pack("<hf", 5, 2.0) + b"J\x06" +
                      struct.pack("<h", 6)])


@unittest.skipIf(numpy is None, "needs numpy")
class Commands(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory(prefix="spi_capture_test")
        self.addCleanup(folder.cleanup)
        self.dir = folder.name
        self.path = os.path.join(self.dir, "small.cap")
        with open(self.path, "wb") as f:
            f.write(SMALL)

    def test_fields_csv_and_exit_statuses(self):
        cut = os.path.join(self.dir, "cut.cap")
        with open(cut, "wb") as f:
            f.write(CUT)
        head = "index,record,offset,b1,v,f\n0,0,0,1,-2,0.1\n1,1,10,2,258,-1e-05\n2,1,10,3,32767,inf\n"
        for path, layout, csv, status, stderr in (
                (self.path, SMALL_LAYOUT, SMALL_CSV, 0, ""),
                # The 4 bytes after a cut record's whole frames are frame 5.
                (cut, "b1=u8@1,v=i16@2", "".join(line.rsplit(",", 1)[0] + "\n" for line in head.splitlines()) +
                 "3,2,28,4,4\n4,2,28,5,5\n5,2,28,6,6\n", 0, ""),
                (cut, "b1=u8@1,v=i16@2,f=f32@4", head + "3,2,28,4,4,0.5\n4,2,28,5,5,2\n", 1, "spi_capture: %s: 1 "
                 "frame too short for the layout left out; the first, frame 5 (4 bytes), ends before field 'f' "
                 "(needs 8 bytes)\n" % cut)):
            with self.subTest(path=path, layout=layout):
                done = run_module("fields", path, "--fields", layout, "--frame-size", "8")
                self.assertEqual((done.stdout.decode(), done.stderr.decode(), done.returncode), (csv, stderr, status))
        out = os.path.join(self.dir, "small.csv")
        done = run_module("fields", self.path, "--fields", "x=u8@9,b1=u8@1", "-o", out)
        with open(out) as f:
            self.assertEqual(f.read(), "index,x,b1\n1,3,2\n")
        self.assertEqual((done.returncode, done.stderr.decode()), (1, "spi_capture: %s: 1 frame too short for the "
                         "layout left out; the first, frame 0 (8 bytes), ends before field 'x' (needs 10 bytes)\n"
                         % self.path))
        for args, text in (
                (["--fields", "a=u8@1,a=u8@2"], "field 'a' is named twice"),
                (["--fields", "a=u8@8", "--frame-size", "8"], "field 'a': ends at byte 9, past the end of a 8-byte "
                 "frame"),
                (["--fields", "a=u8@1", "-o", self.path], "fields: the output %s is the input" % self.path)):
            done = run_module("fields", self.path, *args)
            self.assertEqual((done.returncode, done.stderr.decode()), (2, "spi_capture: %s\n" % text))
        self.assertEqual(run_module("fields", self.path).returncode, 2)
        damaged = os.path.join(self.dir, "damaged.cap")
        with open(damaged, "wb") as f:
            f.write(SMALL[:-1])
        done = run_module("fields", damaged, "--fields", "b1=u8@1")
        self.assertEqual((done.returncode, done.stdout), (1, b"index,b1\n0,1\n"))
        self.assertEqual(done.stderr.decode(), "spi_capture: %s: offset 10 (record 1): record of 18 bytes (frame "
                         "length 16) runs past the end of the file, which has 17 bytes left\n" % damaged)

    @unittest.skipUnless(TOOL, "SPI_CAPTURE_TOOL does not name a built spi-capture")
    def test_fields_csv_is_spi_captures(self):
        floats = [0.0, -0.0, 1.0, -2.5, 0.1, 1e16, 1e5, 123456.0, 1.2345678e-05, 5e-324, 1.7976931348623157e308,
                  3.4028234663852886e38, 1.401298464324817e-45, 158876112.0, float("inf"), float("-inf"),
                  float("nan"), -float("nan")]
        frames = [b"J\x00" + struct.pack("<d", v) + struct.pack(">f", v if abs(v) < 4e38 else math.copysign(
            math.inf, v)) + struct.pack("<qQ", -2**63 + i, 2**64 - 1 - i) for i, v in enumerate(floats)]
        probe = subprocess.run([TOOL, "export", self.path, "--format", "csv", "-o", "-", "--fields", "a=u8@1"],
                               capture_output=True)
        self.assertEqual(probe.returncode, 0, "%s export does not take --fields: %s" % (TOOL, probe.stderr))
        path = os.path.join(self.dir, "floats.cap")
        with open(path, "wb") as f:
            f.write(encode(frames) + SMALL)
        cut = os.path.join(self.dir, "cut.cap")
        with open(cut, "wb") as f:
            f.write(CUT)
        layouts = [(path, ["--fields", "d=f64@2,f=f32be@10,q=i64@14,u=u64@22[1],b=u8be@1"]),
                   (path, ["--fields", "w=u16@1[4],f=f32@0"]), (path, ["--fields", "x=u8@29"]),
                   (cut, ["--fields", SMALL_LAYOUT, "--frame-size", "8"]),
                   (cut, ["--fields", "b1=u8@1,v=i16@2", "--frame-size", "8"])]
        for source, args in layouts:
            with self.subTest(source=source, args=args):
                ours = run_module("fields", source, *args)
                theirs = subprocess.run([TOOL, "export", source, "--format", "csv", "-o", "-"] + args,
                                        capture_output=True)
                self.assertEqual((ours.stdout.decode(), ours.returncode),
                                 (theirs.stdout.decode(), theirs.returncode), theirs.stderr)
                told = theirs.stderr.decode().splitlines()
                for line in ours.stderr.decode().splitlines():  # the too-short line, in the same words
                    self.assertIn(line.replace("spi_capture: ", "spi-capture: ", 1), told)
        # The same words for a layout's errors and for frames too short. (The
        # tool's option parser refuses an empty --fields before the layout's.)
        for text, frame_size, message in [e for e in LAYOUT_ERRORS if e[0]] + [("x=u8@17,y=u8@1", None, None)]:
            with self.subTest(layout=text):
                size = [] if frame_size is None else ["--frame-size", str(frame_size)]
                theirs = subprocess.run([TOOL, "export", self.path, "--format", "csv", "-o", "-", "--fields", text]
                                        + size, capture_output=True)
                ours = run_module("fields", self.path, "--fields", text, *size)
                expected = "spi-capture: " + message if message else \
                    ours.stderr.decode().splitlines()[0].replace("spi_capture: ", "spi-capture: ", 1)
                self.assertIn(expected, theirs.stderr.decode().splitlines())

    @unittest.skipIf(matplotlib is None, "needs matplotlib (python3-matplotlib)")
    def test_plot_writes_an_image(self):
        frames = [b"J\x00" + struct.pack("<H8h", seq, *[seq * 8 + k for k in range(8)]) for seq in (0, 1, 2, 5, 6)]
        path = os.path.join(self.dir, "run.cap")
        with open(path, "wb") as f:
            f.write(encode(frames))
        layout = "seq=u16@2,ch=i16@4[8]"
        done = run_module("plot", path, "--fields", layout, "--counter", "seq")
        with open(os.path.join(self.dir, "run.png"), "rb") as f:
            image = f.read()
        self.assertEqual((done.returncode, image[:8]), (0, b"\x89PNG\r\n\x1a\n"), done.stderr)
        self.assertGreater(len(image), 10000)
        svg = os.path.join(self.dir, "run.svg")
        self.assertEqual(run_module("plot", path, "--fields", layout, "--y", "ch", "--x", "seq", "-o", svg).returncode,
                         0)
        with open(svg, "rb") as f:
            self.assertIn(b"<svg", f.read(1000))
        # The title counts every frame of a record cut short, its last piece too.
        cut = os.path.join(self.dir, "cut.cap")
        with open(cut, "wb") as f:
            f.write(CUT)
        done = run_module("plot", cut, "--fields", "b1=u8@1,v=i16@2", "--frame-size", "8", "--counter", "b1", "-o",
                          svg, code="import matplotlib; matplotlib.rcParams['svg.fonttype'] = 'none'")
        with open(svg, "rb") as f:
            self.assertIn(b">cut.cap: 6 frames, 0 frames lost at 0 gaps<", f.read())
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        for args in (["--y", "nope"], ["--x", "ch"], ["-o", os.path.join(self.dir, "run.gif")], []):
            with self.subTest(args=args):  # [] would replace run.png, made by the first plot
                self.assertEqual(run_module("plot", path, "--fields", layout, *args).returncode, 2)

    def test_plot_without_matplotlib_says_what_to_install(self):
        done = run_module("plot", self.path, "--fields", "b1=u8@1", "-o", os.path.join(self.dir, "x.png"),
                          code="import sys; sys.modules['matplotlib'] = None")
        self.assertEqual((done.returncode, done.stderr.decode()), (1, "spi_capture: plot needs matplotlib: install "
                         "Debian's python3-matplotlib (apt-get install python3-matplotlib)\n"))
        self.assertFalse(os.path.exists(os.path.join(self.dir, "x.png")))
        done = run_module("info", self.path, code="import sys; sys.modules['matplotlib'] = None")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(b"records        2\n", done.stdout)


if __name__ == "__main__":
    unittest.main()
