"""Measures spi_capture.field_array on a capture in the page cache and
prints MB/s of capture decoded.

    /usr/bin/python3 python/bench/field_array_bench.py [--mb 256] [--dir DIR]

Writes a capture of 4 KiB frames (random bytes behind the 'J', every record
one length) into DIR (default: a temporary directory, removed afterwards),
reads it once so that it is cached, then decodes it five times with each
layout and prints the best and the median run. Lives outside python/'s top
level so that it is neither installed with the module nor taken for a test.
"""

import argparse
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

import numpy  # noqa: E402

import spi_capture  # noqa: E402

FRAME = 4096
LAYOUTS = [
    ("10 scalar fields", "seq=u64le@1,check=u32le@9,t_us=u32le@13,length=u16be@17,s1=u16@21,s2=i32be@23,"
     "s3=f32@27,s4=f64be@31,s5=u8@39,s6=i64@40"),
    ("simulator's layout (2 x i16[256])", "seq=u64le@1,check=u32le@9,t_us=u32le@13,length=u16be@17,"
     "a=i16le@19[256],b=i16le@531[256]"),
    ("whole frame as i16be[2048]", "x=i16be@0[2048]"),
]


def write_capture(path, megabytes):
    records = megabytes * 1000000 // (FRAME + 2)
    rng = numpy.random.default_rng(1)
    with open(path, "wb") as f:
        for start in range(0, records, 4096):
            block = rng.integers(0, 256, (min(4096, records - start), FRAME + 2), dtype=numpy.uint8)
            block[:, 0] = 0x4A
            block[:, 2:4] = numpy.frombuffer(FRAME.to_bytes(2, "little"), dtype=numpy.uint8)
            f.write(block.tobytes())
    with open(path, "rb") as f:
        while f.read(1 << 24):  # into the page cache
            pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mb", type=int, default=256, help="capture size in MB (default 256)")
    parser.add_argument("--dir", help="where to write the capture (default: a temporary directory)")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(dir=args.dir, prefix="field_array_bench") as folder:
        path = os.path.join(folder, "bench.cap")
        write_capture(path, args.mb)
        size = os.path.getsize(path)
        print("field_array: %d MB capture of %d-byte frames, %d runs each" % (size // 1000000, FRAME, args.runs))
        for name, layout in LAYOUTS:
            rates = []
            for _ in range(args.runs):
                begin = time.perf_counter()
                table = spi_capture.field_array(path, layout)
                rates.append(size / (time.perf_counter() - begin) / 1e6)
                del table
            print("  %-36s best %6.0f MB/s, median %6.0f MB/s" % (name, max(rates), statistics.median(rates)))


if __name__ == "__main__":
    main()
