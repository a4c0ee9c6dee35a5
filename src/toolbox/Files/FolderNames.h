// SPDX-License-Identifier: GPL-2.0-or-later
// The names of the items in a folder, read in one pass, for lookups the file system cannot do
// itself (such as a name whose letter case is not known).
#pragma once
#include <string>
#include <vector>

#include "toolbox/Core/MacTypes.h"

// Every name in folder ("" means the current folder) except "." and "..", in no particular
// order. On failure names is empty and reason says why ("no such file", "permission denied" ...).
// Always reads the folder afresh.
OSErr FSListFolderNames(const std::string& folder, std::vector<std::string>* names, std::string* reason = nullptr);
// The same, with whether the listing itself says each name is a regular file (the file system's
// entry type; false also where it does not say), in the order of names.
OSErr FSListFolderNames(const std::string& folder, std::vector<std::string>* names, std::vector<bool>* regular,
                        std::string* reason);

// The names in folder that equal wanted with ASCII letter case aside, in byte order; empty when
// there is none or the folder cannot be read. Within an FSListingRun each folder is read at
// most once, whatever the number of look-ups; outside one, each call reads it.
std::vector<std::string> FSNamesIgnoringCase(const std::string& folder, const std::string& wanted);

// A stretch of work (one command's run over many files) during which a folder's names, once
// read, are taken as they were: FSNamesIgnoringCase answers from that one reading, and a
// listing made for a walk (FSListFolder) serves as the reading. Names added meanwhile (the
// run's own movies) are not seen. Runs do not nest; a forked worker keeps its parent's
// readings.
class FSListingRun {
 public:
  FSListingRun();
  ~FSListingRun();
  FSListingRun(const FSListingRun&) = delete;
  FSListingRun& operator=(const FSListingRun&) = delete;
};

// Within a run, keeps names as folder's reading (what FSListFolder read for a walk).
void FSRememberFolderNames(const std::string& folder, const std::vector<std::string>& names);

// How many times this process has read a folder's names: what the run saves, made visible.
UInt64 FSFolderReadCount();
