// SPDX-License-Identifier: GPL-2.0-or-later
// still2mov watch [OPTION...] FOLDER...: converts what the folders hold as -r -u would, then each
// photograph as it arrives (in new folders too), until SIGTERM or SIGINT ends it cleanly.
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/ConversionRun.h"
#include "cli/PhotoWalk.h"
#include "outputs/Outputs.h"
#include "photos/PhotoPairs.h"
#include "sources/SoundSources.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/FolderItems.h"
#include "toolbox/Files/FolderNames.h"
#include "toolbox/Files/FolderWatch.h"
#include "toolbox/Processes/StopRequests.h"

namespace {

using Clock = std::chrono::steady_clock;

// A file closed after writing is most likely whole: converted once the notifications that come
// with a copy's close (its times and mode set) are in.
constexpr auto kAfterClose = std::chrono::milliseconds(50);
// A file made or written to but not closed yet may still be growing.
constexpr auto kWhileWriting = std::chrono::seconds(2);
// A conversion that fails is tried once more after this, unless the file changes first: a
// photograph written in parts is judged when whole, and a failure is said only for a file that
// stayed as it was.
constexpr auto kBeforeRetry = std::chrono::seconds(10);
// How long a wait lasts at most, so that polled folders and due photographs are never late.
constexpr int kLongestWaitMs = 1000;

struct WatchOptions : cli::ConversionOptions {
  int poll = 30;
};


class Watcher {
 public:
  Watcher(const WatchOptions& options, Convert2Mov& converter, SInt32 target, cli::ConversionPrinter& printer)
      : options_(options), converter_(converter), target_(target), printer_(printer) {}

  // Watches every folder below each of folders and schedules every photograph in them.
  void explore(const std::string& folder, Clock::duration wait) {
    std::vector<std::string> photos;
    cli::WalkNotes notes;
    notes.unreadable = [&](const std::string& f, const std::string& problem) { printer_.failedPath(f, problem); };
    notes.passedOver = [&](const std::string& path, const std::string& why) { printer_.passedOver(path, why); };
    notes.entering = [&](const std::string& f) {
      // Working files a killed conversion left where they could not stay unnamed (camera cards).
      if (startingUp_) FSRemoveStaleWorkingFiles(f);
      watchFolder(f);
    };
    cli::findPhotographs(folder, &photos, notes);
    for (const std::string& photo : photos) schedule(photo, wait);
  }

  // Until a stop is requested: notifications in, conversions of what is due out.
  void run() {
    auto nextPoll = Clock::now() + std::chrono::seconds(options_.poll);
    while (!StopRequested()) {
      lookForMissingRoots();
      convertDue();
      if (StopRequested()) break;
      std::vector<FSWatchEvent> events;
      watch_.wait(waitMs(), StopRequestDescriptor(), &events);
      for (const FSWatchEvent& e : events) handle(e);
      if (!polled_.empty() && Clock::now() >= nextPoll) {
        pollFolders();
        nextPoll = Clock::now() + std::chrono::seconds(options_.poll);
      }
    }
  }

 private:
  struct Pending {
    Clock::time_point due;
    bool retry = false;  // converted once already and failed
  };

  void watchFolder(const std::string& folder) {
    std::string reason;
    const FSFolderWatch::Added added = watch_.watchFolder(folder, &reason);
    if (added == FSFolderWatch::Added::watching || added == FSFolderWatch::Added::gone) return;
    if (polled_.insert(folder).second) {
      // One line for the top of each polled part of a tree.
      if (!polled_.count(NSStringByDeletingLastPathComponent(folder)))
        std::fprintf(stderr, "%s: %s; looking for changes every %d s instead\n", folder.c_str(), reason.c_str(),
                     options_.poll);
      lookInto(folder, false);
    }
  }

  void schedule(const std::string& path, Clock::duration wait) {
    pending_[path] = Pending{Clock::now() + wait, false};
  }

  // As the folder walk takes them: a photograph is a file of the folder's own, never a link
  // followed to a photograph elsewhere, whose movie would go there.
  bool isOwnFile(const std::string& path) {
    FSFolderItem item;
    if (FSDescribeItem(path, &item) != noErr) return false;
    if (item.kind == FSItemKind::link) printer_.passedOver(path, "symbolic link; not followed");
    return item.kind == FSItemKind::file;
  }

  // A folder given on the command line has gone (a card unmounted, a folder removed): said
  // once, then looked for at every turn until it is back, and caught up on then.
  void rootGone(const std::string& folder) {
    for (const std::string& root : roots_)
      if (root == folder && missing_.insert(root).second) {
        polled_.erase(root);
        std::fprintf(stderr, "%s: the folder has gone; watching for it to come back\n", root.c_str());
        std::fflush(stderr);
      }
  }

  void lookForMissingRoots() {
    if (missing_.empty()) return;
    for (auto it = missing_.begin(); it != missing_.end();) {
      const std::string root = *it;
      if (!cli::isFolder(root)) {
        ++it;
        continue;
      }
      it = missing_.erase(it);
      std::fprintf(stderr, "%s: the folder is back; watching it again\n", root.c_str());
      std::fflush(stderr);
      explore(root, kAfterClose);
    }
  }

  // A photograph as it arrives: one of ours beside its photograph is none, and a raw beside its
  // JPEG is that JPEG's. What its lookup asked for may have changed with it.
  void photographArrived(const std::string& path, Clock::duration wait) {
    asked_.erase(path);
    const auto isThere = [](const std::string& photo) {
      FSFolderItem item;
      return FSDescribeItem(photo, &item) == noErr && item.kind == FSItemKind::file;
    };
    if (const std::optional<std::string> ours = outputs::OurOutputByName(path, isThere)) {
      printer_.passedOver(path, *ours);
      return;
    }
    if (isOwnFile(path)) schedule(photos::PictureOf(path), wait);
  }

  // The names of recordings the photograph's lookup asks for, read once while it stays as it is.
  const std::vector<std::string>& askedBy(const std::string& photo) {
    auto it = asked_.find(photo);
    if (it == asked_.end()) it = asked_.emplace(photo, Convert2Mov::recordingNamesAskedBy(photo)).first;
    return it->second;
  }

  // A recording arrived: every photograph of its folder whose lookup asks for it, by its own
  // name or by a name its tags give, is converted again; -u then passes over any whose lookup
  // still chooses what it chose.
  void recordingArrived(const std::string& path, Clock::duration wait) {
    std::vector<FSFolderItem> items;
    std::string reason;
    if (FSListFolder(NSStringByDeletingLastPathComponent(path), &items, &reason) != noErr) return;
    const std::string name = NSStringLastPathComponent(path), folder = NSStringByDeletingLastPathComponent(path);
    for (const FSFolderItem& item : items) {
      if (item.kind != FSItemKind::file || !cli::hasPhotographName(item.name)) continue;
      const std::string photo = folder + "/" + item.name;
      if (sources::MayBeRecordingOf(name, item.name) || sources::IsAskedFor(askedBy(photo), name))
        schedule(photos::PictureOf(photo), wait);
    }
  }

  void handle(const FSWatchEvent& e) {
    const Clock::duration wait = e.kind == FSWatchEvent::Kind::closed ? Clock::duration(kAfterClose)
                                                                      : Clock::duration(kWhileWriting);
    switch (e.kind) {
      case FSWatchEvent::Kind::overflow:
        // Notifications were lost: everything is looked at again; what is current is passed over.
        asked_.clear();
        for (const std::string& root : roots_) explore(root, kAfterClose);
        break;
      case FSWatchEvent::Kind::folder: explore(e.path, kAfterClose); break;
      case FSWatchEvent::Kind::gone: rootGone(e.path); break;
      case FSWatchEvent::Kind::closed:
      case FSWatchEvent::Kind::changed:
        if (cli::hasPhotographName(e.path))
          photographArrived(e.path, wait);
        else if (sources::MayBeRecording(e.path))
          recordingArrived(e.path, wait);
        break;
    }
  }

  int waitMs() const {
    auto until = Clock::now() + std::chrono::milliseconds(kLongestWaitMs);
    for (const auto& [path, p] : pending_)
      if (p.due < until) until = p.due;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return ms < 0 ? 0 : int(ms) + 1;
  }

  void convertDue() {
    const Clock::time_point now = Clock::now();
    std::vector<cli::Candidate> due;
    std::vector<bool> retries;
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (it->second.due > now) {
        ++it;
        continue;
      }
      // Looked at again when due: a link may have taken the photograph's name meanwhile.
      if (!isOwnFile(it->first)) {
        it = pending_.erase(it);
        continue;
      }
      due.push_back({it->first, true});
      retries.push_back(it->second.retry);
      it = pending_.erase(it);
    }
    if (due.empty()) return;
    // The folders' names are read once for the round's lookups; what arrives meanwhile comes
    // with its own notification.
    FSListingRun listings;
    const std::vector<std::size_t> left = cli::convertCandidates(
        converter_, due, target_, cli::jobCountFor(options_), printer_, [] { return StopRequested(); },
        [&](std::size_t i, const cli::PhotoResult& r) {
          // A first failure waits: the file may be still arriving. Changed meanwhile, it is due
          // again anyway.
          if (r.outcome != ConversionOutcome::failed) return false;
          if (pending_.count(due[i].path)) return true;
          if (retries[i]) return false;
          pending_[due[i].path] = Pending{Clock::now() + kBeforeRetry, true};
          return true;
        });
    // Stopped: what was not started waits for the next start, which catches up on it.
    (void)left;
  }

  // A polled folder's photographs and recordings that are new or changed since the last look.
  void lookInto(const std::string& folder, bool scheduleChanges) {
    std::vector<FSFolderItem> items;
    std::string reason;
    if (FSListFolder(folder, &items, &reason) != noErr) {
      if (!cli::isFolder(folder)) rootGone(folder);
      return;
    }
    for (const FSFolderItem& item : items) {
      const std::string path = folder + (folder.back() == '/' ? "" : "/") + item.name;
      if (item.kind == FSItemKind::folder) {
        if (scheduleChanges && !polled_.count(path) && !known_.count(path)) explore(path, kAfterClose);
        known_.insert(path);
        continue;
      }
      if (item.kind != FSItemKind::file || !(cli::hasPhotographName(path) || sources::MayBeRecording(path))) continue;
      const std::optional<media::FileStamp> look = Convert2Mov::stampOf(path);
      if (!look) continue;
      auto seen = seen_.find(path);
      if (seen != seen_.end() && seen->second == *look) continue;
      seen_[path] = *look;
      if (!scheduleChanges) continue;
      if (cli::hasPhotographName(path))
        photographArrived(path, kAfterClose);
      else
        recordingArrived(path, kAfterClose);
    }
  }

  void pollFolders() {
    const std::set<std::string> folders = polled_;
    for (const std::string& folder : folders) lookInto(folder, true);
  }

 public:
  std::vector<std::string> roots_;
  bool startingUp_ = true;  // while the folders given are first walked

 private:
  const WatchOptions& options_;
  Convert2Mov& converter_;
  SInt32 target_;
  cli::ConversionPrinter& printer_;
  FSFolderWatch watch_;
  std::map<std::string, Pending> pending_;
  std::set<std::string> polled_;       // folders without notifications, looked into every poll
  std::set<std::string> known_;        // folders below polled ones already explored
  std::set<std::string> missing_;      // folders given that have gone, looked for at every turn
  std::map<std::string, media::FileStamp> seen_;   // in polled folders: each file as last looked at
  std::map<std::string, std::vector<std::string>> asked_;  // photographs' lookups, until they change
};

cli::CommandSyntax watchSyntax(WatchOptions* o) {
  cli::CommandSyntax s = subcommandSyntax("watch");
  s.summary =
      "Convert the photographs in the folders as -r -u would, then each photograph as it\n"
      "arrives (created, copied, moved or renamed in, or its recording arriving), in new\n"
      "folders too, until SIGTERM or SIGINT.\n";
  s.options = cli::conversionOptionRows(o, false);
  s.options.push_back({0, "poll", cli::OptionValue::required, "SECONDS",
                       "where no notifications come, look every SECONDS (default 30)",
                       cli::setNumber(&o->poll, 1, 86400, "--poll takes a number of seconds from 1 to 86400")});
  s.notes =
      "A photograph is converted once it is whole: a failure is said only when the file\n"
      "stays as it was for 10 s and fails again. Symbolic links are not followed. A\n"
      "folder given that goes is said once, and watched again when it comes back.\n"
      "\n"
      "Exit status: 0 when stopped, 1 when no folder could be watched, 2 for bad usage.\n";
  s.operandCount.fewest = 1;
  s.operandCount.tooFew = "no folder given";
  return s;
}

}  // namespace

int runWatchCommand(const std::vector<std::string>& args) {
  WatchOptions options;
  const cli::CommandSyntax syntax = watchSyntax(&options);
  std::vector<std::string> folders;
  if (std::optional<int> done = cli::parseCommandLine(syntax, args, &folders)) return *done;
  if (std::optional<std::string> conflict = cli::conversionOptionConflict(options))
    return cli::usageError(syntax, *conflict);
  options.update = true;

  Convert2Mov converter;
  const SInt32 target = cli::configureConverter(options, &converter);
  cli::OutputStyle style = cli::outputStyleFor(options);
  style.progress = false;  // no end to count towards
  style.summary = !options.quiet;
  cli::ConversionPrinter printer(style, 0);

  CatchStopRequests();
  Watcher watcher(options, converter, target, printer);
  for (std::string folder : folders) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!cli::isFolder(folder)) {
      printer.failedPath(folder, "is no folder");
      continue;
    }
    watcher.roots_.push_back(folder);
    // Catching up: everything there now is due at once.
    watcher.explore(folder, Clock::duration::zero());
  }
  watcher.startingUp_ = false;
  if (watcher.roots_.empty()) {
    printer.finish();
    return 1;
  }
  watcher.run();
  printer.finish();
  std::fflush(stdout);
  return 0;
}
