// SPDX-License-Identifier: GPL-2.0-or-later
// The one option parser behind every subcommand: help and version everywhere, options before or
// after the files, "--", joined values, and clear refusals - through the built program and in
// process for the forms GLib's parser does not know by itself.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/OptionParser.h"
#include "support/Fixtures.h"
#include "support/TestPaths.h"

using fixtures::RunResult;
using fixtures::runStill2mov;
using testsupport::ScratchDir;

namespace {

const std::vector<std::string> kCommands = {"", "--info", "embed", "extract", "prefs", "app", "open", "send"};

std::vector<std::string> withCommand(const std::string& command, std::vector<std::string> args) {
  if (!command.empty()) args.insert(args.begin(), command);
  return args;
}

}  // namespace

TEST(CommandLine, EveryCommandAnswersHelpAndVersionOnStandardOutput) {
  for (const std::string& command : kCommands) {
    for (const char* help : {"--help", "-h"}) {
      SCOPED_TRACE(command + " " + help);
      RunResult r = runStill2mov(withCommand(command, {help}));
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out.rfind("Usage: still2mov" + (command.empty() ? "" : " " + command) + " ", 0), 0u) << r.out;
      EXPECT_NE(r.out.find("\n  -h, --help "), std::string::npos);
      std::istringstream lines(r.out);
      for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
    }
    RunResult v = runStill2mov(withCommand(command, {"--version"}));
    EXPECT_EQ(v.status, 0) << command;
    EXPECT_EQ(v.out, "still2mov " STILL2MOV_VERSION "\n") << command;
  }
  // Help wins wherever it stands, even among photographs and other options.
  RunResult r = runStill2mov({"-r", "no-such-folder", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, runStill2mov({"--help"}).out);
  // The main help names every command.
  for (const std::string& command : kCommands)
    EXPECT_NE(r.out.find("\n  " + command + " "), std::string::npos) << command;
}

TEST(CommandLine, UnknownOptionsAndMissingOperandsAreUsageErrorsForEveryCommand) {
  for (const std::string& command : kCommands) {
    SCOPED_TRACE(command);
    const std::vector<std::string> args = withCommand(command, {"--loud", "x.jpg"});
    RunResult r = runStill2mov(command == "--info" ? std::vector<std::string>{"--info", "--loud", "x.jpg"} : args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("still2mov: unknown option --loud\nUsage: still2mov"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Try 'still2mov" + (command.empty() ? "" : " " + command) + " --help'"), std::string::npos)
        << r.err;
  }
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"embed", "a.wav", "b.jpg"}, {"extract"}, {"extract", "a", "b", "c"}, {"prefs"}, {"prefs", "get"},
           {"send"}, {"--no-resize=yes", "x.jpg"}, {"-j", "0", "x.jpg"}, {"-j", "many", "x.jpg"}, {"-q", "-v", "x"}}) {
    RunResult r = runStill2mov(args);
    EXPECT_EQ(r.status, 2) << (args.empty() ? "(nothing)" : args[0]);
    EXPECT_NE(r.err.find("Usage: still2mov"), std::string::npos) << r.err;
  }
}

TEST(CommandLine, OptionsBeforeOrAfterTheFilesAndAfterDoubleDashNone) {
  ScratchDir dir, tmp;
  const std::string photo = dir.file("p.jpg");
  testsupport::writeFile(photo, fixtures::embedWave(fixtures::makeJpeg(), fixtures::makeWave(fixtures::WaveKind::pcm8)));
  const std::map<std::string, std::string> env = {{"TMPDIR", tmp.path()}};
  // The options' forms: after the photograph, joined and separate values.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {photo, "--no-resize", "-y"}, {"-yj1", photo, "--no-resize"}, {"--jobs=1", photo, "--no-resize", "-y"},
           {"-j", "1", "--overwrite", "--no-resize", photo}}) {
    RunResult r = runStill2mov(args, env);
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    EXPECT_EQ(r.out.rfind(photo + " -> ", 0), 0u) << r.out;
  }
  // --info anywhere before "--" asks for the information, whatever conversion options stand
  // beside it; after "--" it is a file name.
  RunResult info = runStill2mov({"--resize", "--info", photo});
  EXPECT_EQ(info.status, 2);
  EXPECT_NE(info.err.find("unknown option --resize"), std::string::npos) << info.err;
  info = runStill2mov({photo, "--info"});
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.out.rfind("FileName ", 0), 0u) << info.out;
  RunResult named = runStill2mov({"--no-resize", "-j1", "--", "--info", "-y"}, env);
  EXPECT_EQ(named.status, 1);
  EXPECT_EQ(named.err, "--info: cannot be read (no such file)\n-y: cannot be read (no such file)\n"
                       "0 converted, 0 without a voice annotation, 0 skipped, 2 failed\n");
  // Each subcommand takes its options after its files too.
  RunResult x = runStill2mov({"extract", photo, dir.file("out.wav")}, env);
  ASSERT_EQ(x.status, 0) << x.err;
  x = runStill2mov({"extract", photo, dir.file("out.wav"), "-y"}, env);
  EXPECT_EQ(x.status, 0) << x.err;
  EXPECT_EQ(runStill2mov({"prefs", "get", "Resize_QT_Image", "--bogus"}, env).status, 2);
}

// The default command answers to its name, as the manual and the completions offer it; a file
// called "convert" is still reached by its path.
TEST(CommandLine, ConvertNamesTheDefaultCommand) {
  ScratchDir dir, tmp;
  const std::string photo = dir.file("p.jpg");
  testsupport::writeFile(photo, fixtures::embedWave(fixtures::makeJpeg(), fixtures::makeWave(fixtures::WaveKind::pcm8)));
  const std::map<std::string, std::string> env = {{"TMPDIR", tmp.path()}};
  RunResult r = runStill2mov({"convert", "--no-resize", photo}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind(photo + " -> ", 0), 0u) << r.out;
  r = runStill2mov({"convert", "--json", "-y", "--no-resize", photo}, env);
  EXPECT_EQ(r.out.rfind("{\"SourceFile\": ", 0), 0u) << r.out;
  r = runStill2mov({"convert", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--resize"), std::string::npos);
  r = runStill2mov({"./convert"}, env);
  EXPECT_EQ(r.err, "./convert: cannot be read (no such file)\n");
}

namespace {

struct Parsed {
  std::optional<int> exit;
  std::vector<std::string> operands;
  bool verbose = false;
  int jobs = 0;
  std::vector<std::string> infos;  // the values given to --info, "-" when none
};

Parsed parse(const std::vector<std::string>& args) {
  Parsed p;
  cli::CommandSyntax s;
  s.name = "test";
  s.usage = {"test [OPTION...] FILE..."};
  s.options = {
      {'v', "verbose", cli::OptionValue::none, nullptr, "say more", cli::setFlag(&p.verbose)},
      {'j', "jobs", cli::OptionValue::required, "N", "at once", cli::setNumber(&p.jobs, 1, 64, "-j takes 1 to 64")},
      {0, "info", cli::OptionValue::optional, "FORMAT", "show",
       [&p](const char* v) {
         p.infos.push_back(v ? v : "-");
         return std::string();
       }},
  };
  p.exit = cli::parseCommandLine(s, args, &p.operands);
  return p;
}

}  // namespace

TEST(OptionParser, TheFormsGetoptUsersTypeAndTheOnesThatAreNoOptions) {
  Parsed p = parse({"-vj3", "a"});
  EXPECT_FALSE(p.exit);
  EXPECT_TRUE(p.verbose);
  EXPECT_EQ(p.jobs, 3);
  EXPECT_EQ(p.operands, std::vector<std::string>{"a"});

  // An optional value comes only with "="; the next word stays a file.
  p = parse({"--info", "json", "--info=text", "--info=", "-j", "2"});
  EXPECT_FALSE(p.exit);
  EXPECT_EQ(p.infos, (std::vector<std::string>{"-", "text", ""}));
  EXPECT_EQ(p.operands, std::vector<std::string>{"json"});
  EXPECT_EQ(p.jobs, 2);

  // "-" and "" are files; after "--" everything is.
  p = parse({"-", "", "--", "-v", "--info=x", "--"});
  EXPECT_FALSE(p.exit);
  EXPECT_FALSE(p.verbose);
  EXPECT_TRUE(p.infos.empty());
  EXPECT_EQ(p.operands, (std::vector<std::string>{"-", "", "-v", "--info=x", "--"}));

  // A value that looks like an option is still the value, and is judged as one.
  EXPECT_EQ(parse({"-j", "--verbose"}).exit, 2);
  EXPECT_EQ(parse({"-j"}).exit, 2);
  EXPECT_EQ(parse({"-j65"}).exit, 2);
  EXPECT_EQ(parse({"--verbose=yes"}).exit, 2);
  EXPECT_EQ(parse({"-x"}).exit, 2);
  EXPECT_EQ(parse({"--verb"}).exit, 2);
}
