// SPDX-License-Identifier: GPL-2.0-or-later
// Path strings: the user's home folder, a path's folder and its last component and that one's parts.
// Pure string work: nothing here looks at the file system.
#pragma once
#include <string>

// $HOME when it is an absolute path, else the account's home folder.
std::string NSHomeDirectory();

// The path without the extension of its last component: the text from the component's last
// ".", when that dot is not the component's first character. Trailing slashes are dropped first.
//   "/a/b/IMG_0001.JPG" -> "/a/b/IMG_0001", "/a/b.d/photo" -> "/a/b.d/photo", "/a/.jpg" -> "/a/.jpg"
std::string NSStringByDeletingPathExtension(const std::string& path);
// The extension itself, without the dot ("" when there is none).
std::string NSStringPathExtension(const std::string& path);
// The last component, trailing slashes dropped first:
//   "/a/b/photo.mov" -> "photo.mov", "/a/b/" -> "b", "photo" -> "photo", "/" -> "/", "" -> ""
std::string NSStringLastPathComponent(const std::string& path);
// The folder that holds the last component, trailing slashes dropped first; "." for a bare name,
// as dirname(1) says:
//   "/a/b/photo.mov" -> "/a/b", "/a/b/" -> "/a", "/photo" -> "/", "photo" -> ".", "/" -> "/"
std::string NSStringByDeletingLastPathComponent(const std::string& path);
