// Runs the built spi-capture as a process and checks what a user sees:
// exit status, standard output, standard error and the files it writes.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "spi_capture_test_support.h"

namespace {

using namespace spi_capture_test;
namespace fs = std::filesystem;

TEST_F(SpiCaptureTest, UsageErrorsExitTwoWithAHint) {
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"", "spi-capture: missing command"},
      {"frobnicate good.cap", "unknown command 'frobnicate'"},
      {"--bogus", "unknown option '--bogus'"},
      {"info", "info: missing FILE"},
      {"dump good.cap good.cap", "dump: unexpected argument 'good.cap'"},
      {"dump good.cap --count 18446744073709551616", "bad number for --count: '18446744073709551616'"},
      {"dump good.cap --colour", "dump: unknown option '--colour'"},
      {"dump good.cap --from", "option '--from' needs a value"},
      {"dump good.cap --from 1x", "bad number for --from: '1x'"},
      {"dump good.cap --count=-3", "bad number for --count: '-3'"},
      {"dump good.cap --hex=1", "option '--hex' takes no value"},
      {"export good.cap -o out.csv", "needs --format"},
      {"export good.cap --format xml -o out", "unknown format 'xml'"},
      {"repair good.cap", "exactly one of -o OUT and --in-place"},
      {"repair good.cap -o x --in-place", "exactly one of -o OUT and --in-place"},
      {"repair good.cap -o x --force", "--force goes with --in-place"},
      {"cat good.cap", "cat: needs -o OUT"},
      {"help frobnicate", "help: unknown command 'frobnicate'"},
      {"help info extra", "help: unexpected argument 'extra'"},
      {"verify - -", "verify: standard input ('-') can be read only once"},
      // An output that is also an input, under its own or another name.
      {"export good.cap --format raw -o good.cap", "good.cap: is also an input"},
      {"export good.cap --format raw -o ./good.cap", "./good.cap: is also an input"},
      {"cat damaged.cap good.cap -ogood.cap", "good.cap: is also an input"},
      {"slice good.cap --from 0 -o good.cap", "good.cap: is also an input"},
      {"repair damaged.cap -o damaged.cap", "damaged.cap: is the input; use --in-place"},
      {"repair - --in-place", "--in-place needs a file"},
      {"export good.cap --format frames -o -", "writes a directory"},
      {"export good.cap --format raw -o x --force", "--force goes with --format frames"},
      {"export good.cap --format raw -o x --frame-size 1", "--frame-size must be within 2..65535"},
      {"slice good.cap -o x", "slice: needs --from N"},
      {"slice good.cap --from 0 -o x --count 0", "slice: --count must be at least 1"},
      {"follow good.cap --frame-size 4", "--frame-size goes with --format raw or csv"},
      {"split good.cap -o p", "exactly one of --records N and --bytes B"},
      {"split good.cap --records 1 --bytes 9 -o p", "exactly one of --records N and --bytes B"},
      {"split good.cap --records 0 -o p", "at least 1 record or byte"},
      {"check good.cap", "check: needs --counter"},
      {"check good.cap --counter 1", "needs OFFSET:WIDTH"},
      {"check good.cap --counter 1:3", "width must be 1, 2, 4 or 8"},
      {"check good.cap --counter 1:2:me", "byte order must be le or be"},
      {"check good.cap --counter 1:1 --step 256", "--step must be within 1..255"},
      {"follow -", "follow: needs a capture file"},
      {"follow good.cap --format xml", "unknown format 'xml'"},
      {"follow good.cap --idle-exit 0", "at least 1 second"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const RunResult result = Run(c.args);
    EXPECT_EQ(result.status, 2);
    EXPECT_CONTAINS(result.err, c.message);
    EXPECT_CONTAINS(result.err, "Try 'spi-capture ");
    EXPECT_EQ(result.out, "");
  }
}

// Arguments reach the command exactly as given: quotes, backslashes before
// a quote and at the end, blanks, an empty one (on Windows they cross a
// command line that the program splits itself).
TEST_F(SpiCaptureTest, ArgumentsArriveExactly) {
  for (const std::string value : {"1\"x", "a\\\"b", "c d\\", "e\tf", "\\\\srv\\x", "\"\"", ""}) {
    SCOPED_TRACE(value);
    const RunResult result = RunArgs({"dump", "good.cap", "--from", value});
    EXPECT_EQ(result.status, 2);
    EXPECT_CONTAINS(result.err, value.empty() ? "option '--from' needs a value\n"
                                              : "bad number for --from: '" + value + "'\n");
  }
}

TEST_F(SpiCaptureTest, HelpAndVersion) {
  RunResult result = Run("--version");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "spi-capture 0.2\n");
  for (const char* args : {"--help", "-h", "help"}) {
    result = Run(args);
    EXPECT_EQ(result.status, 0);
    for (const char* command :
         {"info", "verify", "dump", "export", "repair", "cat", "slice", "split", "check", "follow"}) {
      EXPECT_CONTAINS(result.out, std::string("  ") + command + " ");
    }
  }
  result = Run("help dump");
  EXPECT_EQ(result.status, 0);
  EXPECT_CONTAINS(result.out, "usage: spi-capture dump FILE [--from N]");
  EXPECT_EQ(Run("repair -h").out, Run("help repair").out);
}

TEST_F(SpiCaptureTest, InfoDescribesTheValidPartAndTheDamage) {
  RunResult result = Run("info good.cap");
  EXPECT_EQ(result.status, 0);
  EXPECT_CONTAINS(result.out, "file size      54 bytes\n");
  EXPECT_CONTAINS(result.out, "records        3\n");
  EXPECT_CONTAINS(result.out, "frame bytes    48\n");
  EXPECT_CONTAINS(result.out, "frame length   min 2, max 40, mean 16.0\n");
  EXPECT_CONTAINS(result.out, "ends cleanly   yes\n");
  EXPECT_CONTAINS(result.out, "      2..3              1   33.3%\n");
  EXPECT_CONTAINS(result.out, "     32..63             1   33.3%\n");
  EXPECT_EQ(result.err, "");

  result = Run("info damaged.cap");
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(result.out, "records        2\n");
  EXPECT_CONTAINS(result.out, "ends cleanly   no: offset 12 (record 2): length 1 is below 2\n");
  EXPECT_CONTAINS(result.out, "rest           7 bytes from offset 12 are not a capture record\n");
  EXPECT_EQ(result.err, "spi-capture: damaged.cap: offset 12 (record 2): length 1 is below 2\n");
}

// Several files, as text or one JSON object per line that Python's json
// module reads; a directory or non-capture bytes say what they are.
TEST_F(SpiCaptureTest, InfoTakesSeveralFilesAsTextOrJson) {
  fs::create_directories(dir_ / "a dir");
  WriteBytes(Path("notes.txt"), {'h', 'e', 'l', 'l', 'o', '\n'});
  RunResult result = Run("info good.cap 'a dir' notes.txt");
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(result.out, "file           good.cap\n");
  EXPECT_CONTAINS(result.out, "\nfile           notes.txt\nfile size      6 bytes\nrecords        0\n");
  EXPECT_CONTAINS(result.out, "rest           6 bytes from offset 0 are not a capture record\n");
  EXPECT_EQ(result.out.find("a dir"), std::string::npos) << "no statistics for a directory";
  EXPECT_CONTAINS(result.err, "spi-capture: a dir: is a directory\n");

  result = Run("info --json good.cap damaged.cap 'a dir' -", ReadFrom("good.cap"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(
      result.out,
      "{\"file\": \"good.cap\", \"size\": 54, \"records\": 3, \"frame_bytes\": 48, \"min_length\": 2, "
      "\"max_length\": 40, \"damaged\": false}\n"
      "{\"file\": \"damaged.cap\", \"size\": 19, \"records\": 2, \"frame_bytes\": 8, \"min_length\": 2, "
      "\"max_length\": 6, \"damaged\": true, \"damage_offset\": 12, \"damage_record\": 2, "
      "\"damage_reason\": \"length 1 is below 2\"}\n"
      "{\"file\": \"a dir\", \"error\": \"is a directory\"}\n"
      "{\"file\": \"-\", \"size\": 54, \"records\": 3, \"frame_bytes\": 48, \"min_length\": 2, "
      "\"max_length\": 40, \"damaged\": false}\n");
}

// Reading standard input from a pipe, once, as a stream.
TEST_F(SpiCaptureTest, StandardInputIsReadAsAStream) {
  RunResult result = Run("verify -", PipedFrom("good.cap"));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "standard input: OK (3 records, 54 bytes)\n");
  result = Run("info -", PipedFrom("damaged.cap"));
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(result.out, "file size      19 bytes\n");
  EXPECT_CONTAINS(result.err, "spi-capture: standard input: offset 12 (record 2): length 1 is below 2\n");
  result = Run("cat - good.cap -o -", PipedFrom("good.cap"));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.bytes, Concat({good_, good_}));
  EXPECT_EQ(result.err, "standard output: 6 records from 2 files\n");
  result = Run("export - --format raw -o -", PipedFrom("good.cap"));
  EXPECT_EQ(result.bytes, Concat(frames_));
}

TEST_F(SpiCaptureTest, VerifyReportsEachFile) {
  WriteBytes(Path("empty.cap"), {});
  RunResult result = Run("verify good.cap empty.cap");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "good.cap: OK (3 records, 54 bytes)\nempty.cap: OK (0 records, 0 bytes)\n");

  WriteBytes(Path("one.cap"), Encode({frames_[1]}));
  EXPECT_EQ(Run("verify one.cap").out, "one.cap: OK (1 record, 4 bytes)\n");

  result = Run("verify damaged.cap good.cap missing.cap");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "good.cap: OK (3 records, 54 bytes)\n");
  EXPECT_CONTAINS(result.err, "spi-capture: damaged.cap: offset 12 (record 2): length 1 is below 2\n");
  EXPECT_CONTAINS(result.err, "spi-capture: missing.cap: cannot open: No such file or directory\n");
}

TEST_F(SpiCaptureTest, DumpListsTheChosenRecords) {
  RunResult result = Run("dump good.cap --from 1 --count=1");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "   index       offset length  byte1 first bytes\n"
            "       1            8      2  0x05  4a 05\n");

  result = Run("dump good.cap --from 2 --hex");
  EXPECT_EQ(result.status, 0);
  EXPECT_CONTAINS(
      result.out,
      "       2           12     40  0x06  4a 06 09 0c 0f 12 15 18 1b 1e 21 24 27 2a 2d 30 ...\n");
  EXPECT_CONTAINS(result.out,
                  "    0000  4a 06 09 0c 0f 12 15 18  1b 1e 21 24 27 2a 2d 30  |J.........!$'*-0|\n");
  EXPECT_CONTAINS(result.out, "    0020  63 66 69 6c 6f 72 75 78                           |cfilorux|\n");

  result = Run("dump good.cap --from 3");
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(result.err, "spi-capture: good.cap: has only 3 records; --from 3 is past the end\n");
  EXPECT_EQ(Run("dump good.cap --count 18446744073709551615").status, 0);

  result = Run("dump damaged.cap");
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(result.out, "       1            8      2");
  EXPECT_EQ(result.err, "spi-capture: damaged.cap: offset 12 (record 2): length 1 is below 2\n");
}

TEST_F(SpiCaptureTest, ExportWritesEachFormat) {
  RunResult result = Run("export good.cap --format raw -o out.raw");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(Path("out.raw")), Concat(frames_));

  result = Run("export good.cap --format csv -o out.csv");
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string csv = ReadText(Path("out.csv"));
  EXPECT_EQ(csv.substr(0, csv.find('\n', csv.find('\n') + 1) + 1),
            "index,offset,length,byte1,payload_hex\n0,0,6,04,4a0407"
            "0a0d10\n");
  EXPECT_CONTAINS(csv, "\n1,8,2,05,4a05\n2,12,40,06,4a06090c");

  result = Run("export good.cap --format frames -o frames");
  EXPECT_EQ(result.status, 0) << result.err;
  for (size_t i = 0; i < frames_.size(); ++i) {
    EXPECT_EQ(ReadBytes(dir_ / "frames" / ("frame_00000" + std::to_string(i) + ".bin")), frames_[i]);
  }
  EXPECT_FALSE(fs::exists(dir_ / "frames" / "frame_000003.bin"));

  // A damaged capture yields the records before the damage, and exit 1.
  result = Run("export damaged.cap --format raw -o part.raw");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(ReadBytes(Path("part.raw")), Concat({frames_[0], frames_[1]}));
  EXPECT_CONTAINS(result.err, "spi-capture: damaged.cap: offset 12 (record 2): length 1 is below 2\n");
}

// Records that coalesced several 4-byte frames come apart again; a record
// that is not a multiple of the frame size is reported and kept whole.
TEST_F(SpiCaptureTest, ExportSplitsRecordsByTheFrameSize) {
  const Bytes a = MakeFrame(4, 10);
  const Bytes b = MakeFrame(4, 20);
  const Bytes c = MakeFrame(4, 30);
  const Bytes odd = MakeFrame(6, 40);
  WriteBytes(Path("coalesced.cap"), Encode({Concat({a, b, c}), odd, a}));

  RunResult result = Run("export coalesced.cap --format csv --frame-size 4 -o split.csv");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "split.csv: 5 frames from 3 records\n");
  EXPECT_EQ(result.err,
            "spi-capture: coalesced.cap: offset 14 (record 1): frame length 6 is not a multiple of the frame "
            "size 4; kept whole\n");
  EXPECT_EQ(ReadText(Path("split.csv")),
            "index,record,offset,length,byte1,payload_hex\n"
            "0,0,0,4,0d,4a0d1013\n"
            "1,0,0,4,17,4a171a1d\n"
            "2,0,0,4,21,4a212427\n"
            "3,1,14,6,2b,4a2b2e313437\n"
            "4,2,22,4,0d,4a0d1013\n");

  result = Run("export coalesced.cap --format frames --frame-size 4 -o frames");
  EXPECT_EQ(result.status, 0) << result.err;
  const std::vector<Bytes> expected = {a, b, c, odd, a};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(ReadBytes(dir_ / "frames" / ("frame_00000" + std::to_string(i) + ".bin")), expected[i]);
  }
  // Raw bytes do not change with the split.
  EXPECT_EQ(Run("export coalesced.cap --format raw --frame-size 4 -o split.raw").status, 0);
  EXPECT_EQ(ReadBytes(Path("split.raw")), Concat(expected));
}

// Old frame files never mix with new ones: a directory that holds anything
// is refused, and --force deletes only the frame files in it.
TEST_F(SpiCaptureTest, ExportFramesNeedsAnEmptyDirectoryOrForce) {
  ASSERT_EQ(Run("export damaged.cap --format frames -o frames").status, 1);  // two frames, then damage
  WriteBytes(dir_ / "frames" / "notes.txt", {'x'});
  WriteBytes(dir_ / "frames" / "frame_000009.bin", {'J', 'J'});
  WriteBytes(dir_ / "frames" / "frame_1.bin", {'J', 'J'});  // not a name export writes

  RunResult result = Run("export good.cap --format frames -o frames");
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(result.err, "frames: is not empty; --force deletes the frame files in it first");
  EXPECT_TRUE(fs::exists(dir_ / "frames" / "frame_000009.bin"));

  result = Run("export good.cap --format frames -o frames --force");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(WithSlashes(result.out),
            "deleted old frame file frames/frame_000000.bin\n"
            "deleted old frame file frames/frame_000001.bin\n"
            "deleted old frame file frames/frame_000009.bin\n"
            "frames: 3 frame files\n");
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir_ / "frames")) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"frame_000000.bin", "frame_000001.bin", "frame_000002.bin",
                                             "frame_1.bin", "notes.txt"}));

  // A frame file's name on something no export writes (larger than a
  // frame) is refused and kept.
  WriteBytes(dir_ / "frames" / "frame_000007.bin", Bytes(70000, 'J'));
  result = Run("export good.cap --format frames -o frames --force");
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(WithSlashes(result.err),
                  "frames/frame_000007.bin: is not a frame file of an earlier export");
  EXPECT_EQ(fs::file_size(dir_ / "frames" / "frame_000007.bin"), 70000u);
  EXPECT_TRUE(fs::exists(dir_ / "frames" / "frame_000000.bin"));

  // --force must not delete the input.
  result = Run("export frames/frame_000000.bin --format frames -o frames --force");
  EXPECT_EQ(result.status, 2);
  EXPECT_TRUE(fs::exists(dir_ / "frames" / "frame_000000.bin"));
}

TEST_F(SpiCaptureTest, RepairKeepsTheWholeRecords) {
  RunResult result = Run("repair damaged.cap -o fixed.cap");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "damaged.cap: offset 12 (record 2): dropped 7 bytes: length 1 is below 2\n"
            "damaged.cap: kept 2 records (12 bytes); dropped 7 bytes in 1 range\n");
  EXPECT_EQ(ReadBytes(Path("fixed.cap")), Bytes(damaged_.begin(), damaged_.begin() + 12));
  EXPECT_EQ(Run("verify fixed.cap").status, 0);

  result = Run("repair damaged.cap --in-place");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(Path("damaged.cap")), ReadBytes(Path("fixed.cap")));
  EXPECT_EQ(ReadBytes(Path("damaged.cap.bak")), damaged_);

  // A whole file is left alone.
  result = Run("repair damaged.cap --in-place");
  EXPECT_EQ(result.status, 0);
  EXPECT_CONTAINS(result.out, "nothing to repair");

  // An existing backup is only replaced with --force.
  WriteBytes(Path("damaged.cap"), damaged_);
  result = Run("repair damaged.cap --in-place");
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(result.err, "damaged.cap.bak: exists");
  EXPECT_EQ(ReadBytes(Path("damaged.cap")), damaged_);
  EXPECT_EQ(Run("repair damaged.cap --in-place --force").status, 0);
  EXPECT_EQ(ReadBytes(Path("damaged.cap")), ReadBytes(Path("fixed.cap")));

  // No temporary file is left behind.
  for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

// Damage early in a file costs only the damaged record; --truncate keeps
// the old way, everything before the first damage.
TEST_F(SpiCaptureTest, RepairGoesOnAfterDamageUnlessTruncating) {
  std::vector<Bytes> frames;
  for (uint8_t i = 0; i < 20; ++i) frames.push_back(MakeFrame(30 + i, i));
  Bytes capture = Encode(frames);
  const size_t record1 = frames[0].size() + 2;
  Bytes damaged = capture;
  damaged[record1] = 'X';  // the first byte of record 1
  WriteBytes(Path("hit.cap"), damaged);

  RunResult result = Run("repair hit.cap -o fixed.cap");
  EXPECT_EQ(result.status, 0) << result.err;
  std::vector<Bytes> expected = frames;
  expected.erase(expected.begin() + 1);
  EXPECT_EQ(ReadBytes(Path("fixed.cap")), Encode(expected));
  EXPECT_EQ(result.out, "hit.cap: offset " + std::to_string(record1) +
                            " (record 1): dropped 33 bytes: first byte is 0x58, not 'J' (0x4a)\n"
                            "hit.cap: kept 19 records (" +
                            std::to_string(capture.size() - 33) + " bytes); dropped 33 bytes in 1 range\n");

  result = Run("repair hit.cap --truncate -o prefix.cap");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(Path("prefix.cap")), Encode({frames[0]}));
  EXPECT_CONTAINS(result.out, "hit.cap: kept 1 record (" + std::to_string(record1) + " bytes); dropped " +
                                  std::to_string(capture.size() - record1) + " bytes from offset ");

  // Through standard input and output: the data alone on stdout, the
  // report on stderr.
  result = Run("repair - -o -", PipedFrom("hit.cap"));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.bytes, Encode(expected));
  EXPECT_CONTAINS(result.err, "standard input: kept 19 records");
}

TEST_F(SpiCaptureTest, CatJoinsWholeCapturesOnly) {
  RunResult result = Run("cat good.cap good.cap -o joined.cap");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(Path("joined.cap")), Concat({good_, good_}));

  result = Run("cat good.cap damaged.cap -o refused.cap");
  EXPECT_EQ(result.status, 1);
  EXPECT_CONTAINS(result.err, "spi-capture: damaged.cap: offset 12 (record 2): length 1 is below 2\n");
  EXPECT_FALSE(fs::exists(Path("refused.cap")));

  result = Run("cat damaged.cap good.cap -o kept.cap --skip-damaged");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(Path("kept.cap")), Concat({Bytes(damaged_.begin(), damaged_.begin() + 12), good_}));
  EXPECT_CONTAINS(result.err, "damaged.cap: kept its first 2 records");

  result = Run("cat good.cap joined.cap -o joined.cap");
  EXPECT_EQ(result.status, 2);
  EXPECT_CONTAINS(result.err, "joined.cap: is also an input");
  EXPECT_EQ(ReadBytes(Path("joined.cap")), Concat({good_, good_}));
}

// Names outside ASCII, and outside any one ANSI code page, in files and
// folders: each command finds, writes and prints them as given.
TEST_F(SpiCaptureTest, NamesInAnyScript) {
  const std::string folder = "dossier_\xC3\xA9";
  const std::string file = folder +
                           "/donn\xC3\xA9"
                           "es_\xE6\xB8\xAC\xE5\xAE\x9A.cap";
  fs::create_directories(fs::u8path(Path(folder)));
  WriteBytes(Path(file), good_);

  RunResult result = RunArgs({"verify", file});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, file + ": OK (3 records, 54 bytes)\n");
  result = RunArgs({"verify", folder + "/manquant_\xC3\xA9.cap"});
  EXPECT_EQ(result.err,
            "spi-capture: " + folder + "/manquant_\xC3\xA9.cap: cannot open: No such file or directory\n");

  const std::string joined = folder + "/joint_\xE6\xB8\xAC.cap";
  result = RunArgs({"cat", file, file, "-o", joined});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(Path(joined)), Concat({good_, good_}));

  result = RunArgs({"export", file, "--format", "frames", "-o", folder + "/images"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(Path(folder + "/images/frame_000002.bin")), frames_[2]);

  result = RunArgs({"split", file, "--records", "2", "-o", folder + "/partie"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(
      Concat({ReadBytes(Path(folder + "/partie_00000.bin")), ReadBytes(Path(folder + "/partie_00001.bin"))}),
      good_);

  const std::string hurt = folder + "/ab\xC3\xAEm\xC3\xA9.cap";
  WriteBytes(Path(hurt), damaged_);
  result = RunArgs({"repair", hurt, "--in-place"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(Path(hurt + ".bak")), damaged_);
  EXPECT_EQ(ReadBytes(Path(hurt)), Bytes(damaged_.begin(), damaged_.begin() + 12));
}

}  // namespace
