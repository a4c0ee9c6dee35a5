// SPDX-License-Identifier: GPL-2.0-or-later
// What a conversion says, for scripts and for people: one JSON object per photograph and line
// for every outcome, failures only with -q, codes only in JSON and with -v, and failures in
// the system's words - a locked folder or an overlong name never reads "no such file".
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "support/Fixtures.h"
#include "support/JpegBuilder.h"
#include "support/TestPaths.h"

using fixtures::RunResult;
using testsupport::ScratchDir;

namespace {

// python3 reads each line of out as JSON and prints the expression for each, one per line.
std::string eachLine(const std::string& out, const std::string& expression) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("lines"), out);
  std::string result;
  const int rc = testsupport::run(
      "python3 -c " +
          testsupport::shellQuote("import json,sys\nfor line in open(sys.argv[1]):\n d=json.loads(line)\n print(" +
                                  expression + ")") +
          " " + testsupport::shellQuote(dir.file("lines")) + " 2>&1",
      &result);
  return rc == 0 ? result : "error: " + result;
}

// Four photographs, one of each outcome when converted with -n: converted, skipped (its movie's
// name is taken), no voice annotation, failed (missing).
struct Outcomes {
  ScratchDir dir, tmp;
  std::vector<std::string> photos;
  Outcomes() {
    const std::string voice = fixtures::embedWave(fixtures::makeJpeg(), fixtures::makeWave(fixtures::WaveKind::pcm8));
    testsupport::writeFile(dir.file("new.jpg"), voice);
    testsupport::writeFile(dir.file("taken.jpg"), voice);
    testsupport::writeFile(dir.file("taken.mov"), "someone else's");
    testsupport::writeFile(dir.file("plain.jpg"), fixtures::makeJpeg());
    photos = {dir.file("new.jpg"), dir.file("taken.jpg"), dir.file("plain.jpg"), dir.file("gone.jpg")};
  }
  RunResult run(std::vector<std::string> options) {
    options.push_back("-n");
    options.push_back("-j1");  // results in the order given
    options.push_back("--no-resize");
    options.insert(options.end(), photos.begin(), photos.end());
    return fixtures::runStill2mov(options, {{"TMPDIR", tmp.path()}});
  }
};

// Runs still2mov as an ordinary user when the tests run as root, whom no permission stops.
RunResult runAsUser(const std::vector<std::string>& args) {
  std::string command = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  command += testsupport::shellQuote(testsupport::binaryPath());
  for (const std::string& a : args) command += " " + testsupport::shellQuote(a);
  RunResult r;
  r.status = testsupport::run(command + " 2>&1", &r.out);
  return r;
}



TEST(ConvertOutput, OneJsonObjectPerPhotographAndLineForEveryOutcome) {
  REQUIRE_TOOL("python3");
  Outcomes o;
  RunResult r = o.run({"--json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(eachLine(r.out, "d['SourceFile'].rsplit('/',1)[1], d['Status'], sorted(d)"),
            "new.jpg converted ['Movie', 'Seconds', 'SoundSource', 'SourceFile', 'Status']\n"
            "taken.jpg skipped ['Movie', 'SoundSource', 'SourceFile', 'Status']\n"
            "plain.jpg no-voice ['SourceFile', 'Status']\n"
            "gone.jpg failed ['Code', 'Error', 'SourceFile', 'Status']\n");
  EXPECT_EQ(eachLine(r.out, "d.get('Movie'), '%.2f' % d.get('Seconds', 0), d.get('Error'), d.get('Code')"),
            o.dir.file("new.mov") + " 1.00 None None\n" + o.dir.file("taken.mov") + " 0.00 None None\n"
            "None 0.00 None None\nNone 0.00 cannot be read (no such file) ENOENT\n");
  // Standard error holds the summary only: nothing a script must parse around.
  EXPECT_EQ(r.err, "1 converted, 1 without a voice annotation, 1 skipped, 1 failed\n");

  RunResult quiet = o.run({"--json", "-q"});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(eachLine(quiet.out, "d['Status']"), "failed\n");
  EXPECT_EQ(quiet.err, "");
}

TEST(ConvertOutput, QuietSaysOnlyFailuresAndVerboseAddsCodesAndDetails) {
  Outcomes o;
  RunResult quiet = o.run({"-q"});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, o.dir.file("gone.jpg") + ": cannot be read (no such file)\n");

  RunResult plain = o.run({});
  EXPECT_EQ(plain.err.find("error"), std::string::npos) << plain.err;  // no codes in words for people
  EXPECT_NE(plain.out.find(o.dir.file("plain.jpg") + ": no voice annotation\n"), std::string::npos);
  EXPECT_NE(plain.out.find(o.dir.file("taken.jpg") + ": " + o.dir.file("taken.mov") + " exists; skipped\n"),
            std::string::npos);

  std::remove(o.dir.file("new.mov").c_str());
  RunResult verbose = o.run({"-v"});
  EXPECT_NE(verbose.err.find(o.dir.file("gone.jpg") + ": cannot be read (no such file) (ENOENT)\n"),
            std::string::npos) << verbose.err;
  EXPECT_NE(verbose.out.find(" s of sound; recording of "), std::string::npos) << verbose.out;
}

TEST(ConvertOutput, ALockedFolderAndAnOverlongNameAreSaidInTheirOwnWords) {
  ScratchDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string locked = dir.file("locked");
  ASSERT_EQ(mkdir(locked.c_str(), 0700), 0);
  testsupport::writeFile(locked + "/p.jpg", fixtures::makeJpeg());
  ASSERT_EQ(chmod(locked.c_str(), 0666), 0);  // readable, but no search permission
  RunResult r = runAsUser({locked + "/p.jpg", "--json"});
  chmod(locked.c_str(), 0755);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\"Error\": \"cannot be read (permission denied)\""), std::string::npos) << r.out;

  const std::string overlong = dir.file(std::string(252, 'a') + ".jpg");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {overlong}, {"--info", overlong}, {"extract", overlong}, {"send", overlong}}) {
    RunResult r2 = fixtures::runStill2mov(args, {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}});
    EXPECT_EQ(r2.status, 1) << args[0];
    EXPECT_NE(r2.err.find("file name too long"), std::string::npos) << r2.err;
    EXPECT_EQ(r2.err.find("no such file"), std::string::npos) << r2.err;
    EXPECT_EQ(r2.err.find("error -"), std::string::npos) << r2.err;
  }
}

TEST(ConvertOutput, PhotographNamesCannotUpsetATerminal) {
  ScratchDir dir, tmp;
  const std::string photo = dir.file("a\x1b]0;owned\x07\nb.jpg");
  testsupport::writeFile(photo, fixtures::makeJpeg());
  RunResult r = fixtures::runStill2mov({photo, "--no-resize"}, {{"TMPDIR", tmp.path()}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, dir.path() + "/a\\x1b]0;owned\\x07\\nb.jpg: no voice annotation\n");
}

// The code is the system's name for the error where there is one, else the conversion's own word;
// the words are the system's: a loop of links is not "no such file". The developers' diagnostics
// stay out of sight without -v.
TEST(ConvertOutput, FailureCodesAreWordsScriptsCanMatch) {
  ScratchDir dir, tmp;
  ASSERT_EQ(symlink("loop.jpg", dir.file("loop.jpg").c_str()), 0);
  testsupport::writeFile(dir.file("text.jpg"), "not a picture");
  testsupport::writeFile(dir.file("empty.jpg"), "");
  testsupport::writeFile(dir.file("cut.jpg"), fixtures::makeJpeg().substr(0, 20));
  // A recording beside the photograph that gives no sound: the assembly fails and says why in
  // its diagnostics.
  testsupport::writeFile(dir.file("silent.jpg"), fixtures::makeJpeg());
  using testsupport::le16, testsupport::le32;
  const std::string format = le16(1) + le16(1) + le32(8000) + le32(16000) + le16(2) + le16(16);
  testsupport::writeFile(dir.file("silent.wav"),
                         "RIFF" + le32(36) + "WAVEfmt " + le32(16) + format + "data" + le32(0));
  const std::vector<std::string> photos = {dir.file("loop.jpg"), dir.file("text.jpg"), dir.file("empty.jpg"),
                                           dir.file("cut.jpg"), dir.file("gone.jpg"), dir.file("silent.jpg")};
  std::vector<std::string> args = {"--json", "-j1", "--no-resize"};
  args.insert(args.end(), photos.begin(), photos.end());
  RunResult json = fixtures::runStill2mov(args, {{"TMPDIR", tmp.path()}});
  EXPECT_EQ(eachLine(json.out, "d['Code'], d['Error']"),
            "ELOOP cannot be read (too many levels of symbolic links)\n"
            "not-a-jpeg cannot be read (not a JPEG file)\n"
            "not-a-jpeg cannot be read (empty file)\n"
            "damaged-picture cannot be read (damaged JPEG header)\n"
            "ENOENT cannot be read (no such file)\n"
            "no-sound no movie written: the recording gives no sound\n")
      << json.out;
  EXPECT_EQ(json.err, "0 converted, 0 without a voice annotation, 0 skipped, 6 failed\n");  // nothing for developers

  args[0] = "-v";
  RunResult verbose = fixtures::runStill2mov(args, {{"TMPDIR", tmp.path()}});
  EXPECT_NE(verbose.err.find(dir.file("loop.jpg") + ": cannot be read (too many levels of symbolic links) (ELOOP)\n"),
            std::string::npos)
      << verbose.err;
  EXPECT_NE(verbose.err.find(dir.file("text.jpg") + ": cannot be read (not a JPEG file) (not-a-jpeg)\n"),
            std::string::npos);
  EXPECT_NE(verbose.err.find("Image Convert: CreateSoundTrack failed"), std::string::npos) << verbose.err;
  args[0] = "-q";
  EXPECT_EQ(fixtures::runStill2mov(args, {{"TMPDIR", tmp.path()}}).err.find("Image Convert"), std::string::npos);
}

}  // namespace

// A folder walk with -u: every photograph has its object without -v (current ones, ones without
// a voice annotation, links passed over), while the text for people stays as terse as it was.
TEST(ConvertOutput, JsonHasAnObjectForEveryPhotographOfAFolderWithoutVerbose) {
  REQUIRE_TOOL("python3");
  ScratchDir dir, tmp;
  testsupport::writeFile(dir.file("a.jpg"),
                         fixtures::embedWave(fixtures::makeJpeg(), fixtures::makeWave(fixtures::WaveKind::pcm8)));
  testsupport::writeFile(dir.file("b.jpg"), fixtures::makeJpeg());
  ASSERT_EQ(symlink("a.jpg", dir.file("c.jpg").c_str()), 0);
  auto run = [&](std::vector<std::string> options) {
    options.insert(options.end(), {"-r", "-u", "-j1", "--no-resize", dir.path()});
    return fixtures::runStill2mov(options, {{"TMPDIR", tmp.path()}});
  };
  ASSERT_EQ(run({}).status, 0);
  const std::string all = "c.jpg passed-over\na.jpg up-to-date\nb.jpg no-voice\n";
  for (const auto& [options, lines] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--json"}, all}, {{"--json", "-v"}, all}, {{"--json", "-q"}, ""}})
    EXPECT_EQ(eachLine(run(options).out, "d['SourceFile'].rsplit('/',1)[1], d['Status']"), lines) << options.size();
  RunResult text = run({});
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.err, "0 converted, 1 up to date, 1 without a voice annotation, 0 skipped, 0 failed\n");
}
