// SPDX-License-Identifier: GPL-2.0-or-later
// Finding the photographs in folders for -r: every name a photograph kind takes (.jpg, .jpeg, any
// letter case) at any depth, without following symbolic links, so that the walk never leaves the
// folders it was given.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace cli {

// True for names that a photograph kind takes by their extension, in any letter case.
bool hasPhotographName(const std::string& path);
// True when path is a folder, or a link to one (as a folder named on the command line may be).
bool isFolder(const std::string& path);

struct WalkNotes {
  // A folder that cannot be listed, with the reason in words.
  std::function<void(const std::string& folder, const std::string& problem)> unreadable;
  // Something left alone: a symbolic link, or a folder already walked (a loop through a mount).
  std::function<void(const std::string& path, const std::string& why)> passedOver;
  // When given: each folder about to be listed (so that a watch set here misses nothing after).
  std::function<void(const std::string& folder)> entering;
};

// Appends the photographs below folder to photos, in name order, folder by folder.
void findPhotographs(const std::string& folder, std::vector<std::string>* photos, const WalkNotes& notes);

}  // namespace cli
