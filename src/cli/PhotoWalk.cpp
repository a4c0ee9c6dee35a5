// The folder walk: entries are looked at without following links, listed in name order, and a
// folder that is its own ancestor (a bind mount) is not entered again.
#include "cli/PhotoWalk.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "toolbox/Core/SystemErrors.h"

namespace cli {
namespace fs = std::filesystem;
namespace {

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

std::string joined(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

void walk(const std::string& folder, std::vector<std::string>* ancestors, std::vector<std::string>* photos,
          const WalkNotes& notes) {
  std::error_code ec;
  for (const std::string& above : *ancestors)
    if (fs::equivalent(folder, above, ec)) {
      notes.passedOver(folder, "the same folder as " + above + "; not walked again");
      return;
    }
  std::vector<std::string> names;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) names.push_back(it->path().filename().string());
  if (ec) {
    notes.unreadable(folder, "cannot be read (" + ErrnoWords(ec.value()) + ")");
    return;
  }
  std::sort(names.begin(), names.end());
  ancestors->push_back(folder);
  for (const std::string& name : names) {
    const std::string path = joined(folder, name);
    const fs::file_status st = fs::symlink_status(path, ec);
    if (ec) continue;  // gone since it was listed
    if (fs::is_symlink(st))
      notes.passedOver(path, "symbolic link; not followed");
    else if (fs::is_directory(st))
      walk(path, ancestors, photos, notes);
    else if (fs::is_regular_file(st) && hasPhotographName(name))
      photos->push_back(path);
  }
  ancestors->pop_back();
}

}  // namespace

bool hasPhotographName(const std::string& path) {
  const std::string name = lower(path.substr(path.rfind('/') + 1));
  auto endsWith = [&name](const std::string& tail) {
    return name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  return endsWith(".jpg") || endsWith(".jpeg");
}

void findPhotographs(const std::string& folder, std::vector<std::string>* photos, const WalkNotes& notes) {
  std::vector<std::string> ancestors;
  walk(folder, &ancestors, photos, notes);
}

}  // namespace cli
