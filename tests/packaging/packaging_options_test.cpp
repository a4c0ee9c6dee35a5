// SPDX-License-Identifier: GPL-2.0-or-later
// The manual page and the shell completions held against the program itself: each subcommand's
// options, as its own --help lists them, are the ones the page documents and the shells offer.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/Fixtures.h"
#include "support/TestPaths.h"

namespace {

using Options = std::set<std::string>;
using testsupport::shellQuote;

const std::vector<std::string> kSubcommands = {"convert", "watch", "--info", "extract", "embed", "prefs", "app", "open", "send"};

std::string manualSource() { return testsupport::sourceDir() + "/packaging/still2mov.1.in"; }
std::string bashCompletion() { return testsupport::sourceDir() + "/packaging/completions/still2mov.bash"; }
std::string zshCompletion() { return testsupport::sourceDir() + "/packaging/completions/_still2mov"; }

std::string joined(const Options& options) {
  std::string s;
  for (const std::string& o : options) s += (s.empty() ? "" : " ") + o;
  return s;
}

// Options that every subcommand has and the page documents once, in OPTIONS.
bool isGeneral(const std::string& option) {
  return option == "-h" || option == "--help" || option == "--version" || option.rfind("--help-", 0) == 0;
}

Options withoutGeneral(const Options& options) {
  Options out;
  for (const std::string& o : options)
    if (!isGeneral(o)) out.insert(o);
  return out;
}

// What "still2mov [SUBCOMMAND] --help" lists under "Options:": every indented line that starts with
// a dash names options up to its description ("  -j, --jobs=N   Convert N photographs at once").
// The list of commands after it names --info as a command, not as an option.
Options helpOptions(const std::string& subcommand, std::string* text = nullptr) {
  std::vector<std::string> args;
  if (!subcommand.empty()) args.push_back(subcommand);
  args.push_back("--help");
  const fixtures::RunResult r = fixtures::runStill2mov(args);
  EXPECT_EQ(r.status, 0) << "still2mov " << subcommand << " --help: " << r.err;
  if (text != nullptr) *text = r.out;
  Options options;
  std::istringstream lines(r.out);
  static const std::regex entry(R"(^\s+(-\S.*)$)");
  bool inOptions = false;
  for (std::string line; std::getline(lines, line);) {
    if (line == "Options:") {
      inOptions = true;
      continue;
    }
    if (line.empty()) inOptions = false;
    std::smatch m;
    if (!inOptions || !std::regex_match(line, m, entry)) continue;
    const std::string spec = m[1].str().substr(0, m[1].str().find("  "));
    std::istringstream parts(spec);
    for (std::string part; std::getline(parts, part, ',');) {
      part.erase(0, part.find_first_not_of(' '));
      part = part.substr(0, part.find_first_of("= ["));
      if (part.size() > 1 && part[0] == '-') options.insert(part);
    }
  }
  return options;
}

// The page's options by subsection: the tags of the .TP paragraphs under each COMMANDS
// subsection (keyed by the subcommand, its title's first word) and under OPTIONS (key "").
std::map<std::string, Options> manualOptions() {
  std::map<std::string, Options> sections;
  std::istringstream lines(testsupport::readFile(manualSource()));
  auto plain = [](std::string s) {
    s = std::regex_replace(s, std::regex(R"(\\f[BIRP])"), "");
    s = std::regex_replace(s, std::regex(R"(\\-)"), "-");
    return s;
  };
  std::string section, key;
  bool inSubcommand = false, tagNext = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(".SH ", 0) == 0) {
      section = plain(line.substr(4));
      inSubcommand = false;
      if (section == "OPTIONS") sections[""];
      continue;
    }
    if (line.rfind(".SS ", 0) == 0 && section == "COMMANDS") {
      std::string title = plain(line.substr(4));
      title.erase(std::remove(title.begin(), title.end(), '"'), title.end());
      key = title.substr(0, title.find(' '));
      sections[key];
      inSubcommand = true;
      continue;
    }
    if (line == ".TP") {
      tagNext = true;
      continue;
    }
    if (!tagNext) continue;
    tagNext = false;
    Options* into = section == "OPTIONS" ? &sections[""] : inSubcommand ? &sections[key] : nullptr;
    if (into == nullptr) continue;
    static const std::regex option(R"((?:^|[\s"])(--?[A-Za-z0-9][-A-Za-z0-9]*))");
    const std::string tag = plain(line);
    for (auto it = std::sregex_iterator(tag.begin(), tag.end(), option); it != std::sregex_iterator(); ++it)
      into->insert((*it)[1].str());
  }
  return sections;
}

TEST(ManualPage, RendersWithoutWarningsAndNamesItselfForWhatis) {
  REQUIRE_TOOL("man");
  REQUIRE_TOOL("groff");
  REQUIRE_TOOL("lexgrog");
  std::string out;
  EXPECT_EQ(testsupport::run("MANWIDTH=80 man --warnings -l " + shellQuote(manualSource()) + " 2>&1 >/dev/null", &out), 0);
  EXPECT_EQ(out, "") << "man warns";
  EXPECT_EQ(testsupport::run("groff -man -ww -z " + shellQuote(manualSource()) + " 2>&1", &out), 0);
  EXPECT_EQ(out, "") << "groff warns";
  // whatis and apropos read the NAME line.
  EXPECT_EQ(testsupport::run("lexgrog " + shellQuote(manualSource()), &out), 0) << out;
  EXPECT_NE(out.find("still2mov - "), std::string::npos) << out;
}

TEST(ManualPage, DocumentsExactlyTheOptionsEachSubcommandsHelpLists) {
  const std::map<std::string, Options> manual = manualOptions();
  Options documentedSubcommands;
  for (const auto& [name, options] : manual)
    if (!name.empty()) documentedSubcommands.insert(name);
  EXPECT_EQ(joined(documentedSubcommands), joined(Options(kSubcommands.begin(), kSubcommands.end())));

  for (const std::string& subcommand : kSubcommands) {
    SCOPED_TRACE(subcommand);
    const Options help = helpOptions(subcommand);
    EXPECT_TRUE(help.count("--help") && help.count("-h")) << "still2mov " << subcommand << " --help lists no -h, --help";
    auto it = manual.find(subcommand);
    const Options documented = it == manual.end() ? Options() : it->second;
    EXPECT_EQ(joined(documented), joined(withoutGeneral(help)));
  }

  // The general options, and whatever the bare command's help lists, are documented somewhere.
  Options everywhere;
  for (const auto& [name, options] : manual) everywhere.insert(options.begin(), options.end());
  const Options general = manual.count("") ? manual.at("") : Options();
  EXPECT_EQ(joined(general), "--help --version -h");
  for (const std::string& option : helpOptions("")) EXPECT_TRUE(everywhere.count(option)) << option << " is undocumented";
}

// Runs the bash completion for the words (the last one being completed) in folder; what it offers.
Options bashOffers(const std::vector<std::string>& words, const std::string& folder = ".") {
  std::string array;
  for (const std::string& w : words) array += " " + shellQuote(w);
  const std::string script = "source " + shellQuote(bashCompletion()) + " && complete -p still2mov >/dev/null && COMP_WORDS=(" +
                             array + "); COMP_CWORD=" + std::to_string(words.size() - 1) +
                             "; _still2mov; printf '%s\\n' \"${COMPREPLY[@]}\"";
  std::string out;
  EXPECT_EQ(testsupport::run("cd " + shellQuote(folder) + " && bash --norc --noprofile -c " + shellQuote(script) + " 2>&1", &out), 0)
      << out;
  Options offered;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) offered.insert(line);
  return offered;
}

TEST(ShellCompletion, BashOffersTheOptionsEachSubcommandsHelpLists) {
  REQUIRE_TOOL("bash");
  const std::string program = testsupport::binaryPath();
  for (const std::string& subcommand : kSubcommands) {
    SCOPED_TRACE(subcommand);
    EXPECT_EQ(joined(bashOffers({program, subcommand, "-"})), joined(helpOptions(subcommand)));
  }
  // Before any subcommand: the bare command's options and --info.
  Options first = helpOptions("");
  first.insert("--info");
  EXPECT_EQ(joined(bashOffers({program, "-"})), joined(first));
  // After "--" nothing is an option.
  EXPECT_EQ(joined(bashOffers({program, "--", "-"})), "");
}

TEST(ShellCompletion, BashOffersTheFilesEachArgumentTakes) {
  REQUIRE_TOOL("bash");
  testsupport::ScratchDir dir;
  for (const char* name : {"Trip & lake.JPG", "b.jpeg", "voice.WAV", "notes.txt", "movie.mov"})
    testsupport::writeFile(dir.file(name), "x");
  ASSERT_EQ(testsupport::run("mkdir " + shellQuote(dir.file("DCIM"))), 0);
  const std::string p = testsupport::binaryPath();
  EXPECT_EQ(joined(bashOffers({p, "extract", ""}, dir.path())), "DCIM Trip & lake.JPG b.jpeg");
  EXPECT_EQ(joined(bashOffers({p, "extract", "b.jpeg", ""}, dir.path())), "DCIM voice.WAV");
  EXPECT_EQ(joined(bashOffers({p, "embed", ""}, dir.path())), "DCIM voice.WAV");
  EXPECT_EQ(joined(bashOffers({p, "embed", "voice.WAV", "b.jpeg", "T"}, dir.path())), "Trip & lake.JPG");
  EXPECT_EQ(joined(bashOffers({p, "-j", "2", "T"}, dir.path())), "Trip & lake.JPG");
  EXPECT_EQ(joined(bashOffers({p, "-j", ""}, dir.path())), "");
  EXPECT_EQ(joined(bashOffers({p, "prefs", ""}, dir.path())), "get set");
  EXPECT_EQ(joined(bashOffers({p, "prefs", "set", "R"}, dir.path())), "Resize_QT_Image");
  EXPECT_EQ(joined(bashOffers({p, "prefs", "set", "Resize_QT_Image", ""}, dir.path())), "false true");
  EXPECT_EQ(joined(bashOffers({p, "e"}, dir.path())), "embed extract");
}

// Runs the zsh completion with the completion system's calls stood in for by ones that print
// what they are given: "describe:WORD:TEXT", "files:PATTERN", "compadd:WORDS".
std::string zshOffers(const std::vector<std::string>& words) {
  std::string array;
  for (const std::string& w : words) array += " " + shellQuote(w);
  const std::string script =
      "setopt extendedglob\n"
      "_call_program() { shift; eval \"$*\" }\n"
      "_describe() { local -a a; a=(${(P)4}); print -rl -- describe:${^a} }\n"
      "_files() { print -r -- \"files:$2\" }\n"
      "compadd() { print -r -- \"compadd:$*\" }\n"
      "_message() { print -r -- message }\n"
      "words=(" + array + "); CURRENT=$#words; PREFIX=$words[CURRENT]\n"
      "source " + shellQuote(zshCompletion()) + "\n";
  std::string out;
  EXPECT_EQ(testsupport::run("zsh -f -c " + shellQuote(script) + " 2>&1", &out), 0) << out;
  return out;
}

TEST(ShellCompletion, ZshOffersTheOptionsEachSubcommandsHelpLists) {
  REQUIRE_TOOL("zsh");
  const std::string program = testsupport::binaryPath();
  for (const std::string& subcommand : kSubcommands) {
    SCOPED_TRACE(subcommand);
    Options offered;
    std::istringstream lines(zshOffers({program, subcommand, "-"}));
    for (std::string line; std::getline(lines, line);) {
      if (line.empty()) continue;
      ASSERT_EQ(line.rfind("describe:", 0), 0u) << line;
      const std::string option = line.substr(9, line.find(':', 9) - 9);
      offered.insert(option);
      EXPECT_GT(line.size(), 9 + option.size() + 1) << option << " has no description";
    }
    EXPECT_EQ(joined(offered), joined(helpOptions(subcommand)));
  }
  EXPECT_EQ(zshOffers({program, "extract", "photo.jpg", ""}), "files:*.(#i)wav\n");
  EXPECT_EQ(zshOffers({program, "prefs", "set", "Resize_QT_Image", ""}), "compadd:true false\n");
}

}  // namespace
