// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the browser judge and reads its JSON lines.
#include "support/BrowserChecks.h"

#include <sstream>

#include "support/TestPaths.h"

namespace browserchecks {

namespace {
// The raw text of a field's value in one flat JSON object line.
std::string field(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\": ";
  std::size_t at = line.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  if (line[at] == '"') {
    std::string out;
    for (std::size_t i = at + 1; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      out += line[i];
    }
    return out;
  }
  const std::size_t end = line.find_first_of(",}", at);
  return line.substr(at, end - at);
}
}  // namespace

std::vector<Playback> play(const std::string& browser, const std::vector<std::string>& paths) {
  std::string command = "python3 " + testsupport::shellQuote(testsupport::sourceDir() + "/tests/support/browser_judge.py") +
                        " " + browser;
  for (const std::string& p : paths) command += " " + testsupport::shellQuote(p);
  std::string out;
  testsupport::run(command, &out);
  std::vector<Playback> results;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] != '{') continue;
    Playback p;
    p.file = field(line, "file");
    p.videoWidth = std::atoi(field(line, "videoWidth").c_str());
    p.videoHeight = std::atoi(field(line, "videoHeight").c_str());
    p.duration = std::atof(field(line, "duration").c_str());
    p.audioBytes = std::atol(field(line, "audioBytes").c_str());
    p.hasAudio = field(line, "hasAudio") == "true";
    p.error = field(line, "error");
    results.push_back(p);
  }
  return results;
}

}  // namespace browserchecks
