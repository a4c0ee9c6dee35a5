// SPDX-License-Identifier: GPL-2.0-or-later
// The open panel: the desktop's file chooser (the FileChooser portal on the session bus), else a
// prompt on the terminal when standard input is one, else no panel at all (a cancel).
#pragma once
#include <memory>
#include <string>
#include <vector>

inline constexpr int NSCancelButton = 0;
inline constexpr int NSOKButton = 1;

class NSOpenPanel {
 public:
  static std::unique_ptr<NSOpenPanel> openPanel();

  void setAllowsMultipleSelection(bool allows) { mMultiple = allows; }
  void setTitle(const std::string& title) { mTitle = title; }

  // Runs the panel modally: the main run loop's other work waits until it closes. types lists
  // file name extensions without the dot, matched in any letter case (empty: any file);
  // directory is where the desktop's chooser starts (a terminal prompt takes names relative to the
// current folder, as a shell does), file a name to preselect ("" for none).
  // NSOKButton when the user chose something, else NSCancelButton.
  int runModalForDirectory(const std::string& directory, const std::string& file, const std::vector<std::string>& types);

  // The chosen absolute paths, after NSOKButton.
  const std::vector<std::string>& filenames() const { return mFilenames; }

 private:
  NSOpenPanel() = default;
  enum class PortalResult { chosen, cancelled, unavailable };
  PortalResult runPortal(const std::string& directory, const std::vector<std::string>& types);
  bool runTerminalPrompt(const std::vector<std::string>& types);

  bool mMultiple = false;
  std::string mTitle = "Open";
  std::vector<std::string> mFilenames;
};

// The file a line typed (or dropped) at the terminal prompt names, as an absolute path: a name
// relative to base (the current folder), "~/...", a path quoted or escaped as a shell would take
// it (terminals quote dropped paths), or a file:// URI. "" for a line that names nothing.
std::string NSOpenPanelTypedPath(const std::string& line, const std::string& base);

// Whether path's extension is one of types, in any letter case (any path when types is empty).
bool NSOpenPanelAcceptsPath(const std::string& path, const std::vector<std::string>& types);
