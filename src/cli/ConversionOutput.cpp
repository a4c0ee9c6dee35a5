// SPDX-License-Identifier: GPL-2.0-or-later
// Printing a conversion run. Results go to standard output (failures in text form to standard
// error), always as whole lines; the progress line is redrawn on standard error between them.
#include "cli/ConversionOutput.h"

#include <cstdio>
#include <vector>

#include "cli/DisplayText.h"
#include "cli/JsonText.h"
#include "toolbox/Core/Terminals.h"

namespace cli {
namespace {

std::string soundSourceOf(const ConversionReport& r, std::string* soundFile) {
  *soundFile = r.soundSource != nullptr ? r.soundFile : "";
  return r.soundSource != nullptr ? r.soundSource->name : "";
}

const char* statusName(ConversionOutcome outcome) {
  switch (outcome) {
    case ConversionOutcome::converted: return "converted";
    case ConversionOutcome::noVoice: return "no-voice";
    case ConversionOutcome::skipped: return "skipped";
    case ConversionOutcome::upToDate: return "up-to-date";
    case ConversionOutcome::failed: break;
  }
  return "failed";
}

std::string oneDecimal(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", v);
  return buffer;
}

std::string plural(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string jsonLine(const std::string& photo, const PhotoResult& r) {
  std::vector<std::pair<std::string, std::string>> members{{"SourceFile", json::quote(photo)},
                                                           {"Status", json::quote(statusName(r.outcome))}};
  if (!r.movie.empty()) members.emplace_back("Movie", json::quote(r.movie));
  if (r.outcome == ConversionOutcome::converted) members.emplace_back("Seconds", json::number(r.seconds));
  if (!r.soundSource.empty()) members.emplace_back("SoundSource", json::quote(r.soundSource));
  if (!r.soundFile.empty()) members.emplace_back("SoundFile", json::quote(r.soundFile));
  if (r.outcome == ConversionOutcome::failed) {
    members.emplace_back("Error", json::quote(r.problem));
    members.emplace_back("Code", json::quote(r.code));
  }
  return json::object(members);
}

// text cut to at most columns characters (UTF-8 sequences kept whole), keeping its end, where a
// file's name is.
std::string lastColumns(const std::string& text, std::size_t columns) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
  if (starts.size() <= columns) return text;
  if (columns <= 1) return "";
  return "\xE2\x80\xA6" + text.substr(starts[starts.size() - (columns - 1)]);
}

}  // namespace

PhotoResult resultOf(const ConversionReport& r) {
  PhotoResult result;
  result.outcome = r.outcome;
  result.movie = r.outcome == ConversionOutcome::noVoice ? "" : r.moviePath;
  result.seconds = r.soundSeconds;
  result.code = r.failureName;
  result.problem = r.problem;
  result.refusedExisting = r.refusedExisting;
  result.soundSource = soundSourceOf(r, &result.soundFile);
  result.audioBlocks = r.audioBlocks;
  result.recordingBytes = r.recordingBytes;
  return result;
}

ConversionPrinter::ConversionPrinter(const OutputStyle& style, std::size_t total)
    : style_(style), total_(total), start_(std::chrono::steady_clock::now()) {}

void ConversionPrinter::emit(std::FILE* stream, const std::string& line) {
  if (progressShown_) {
    std::fputs("\r\033[K", stderr);
    progressShown_ = false;
  }
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

void ConversionPrinter::drawProgress() {
  if (!style_.progress) return;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start_).count();
  char head[64];
  std::snprintf(head, sizeof head, "[%zu/%zu] %lld:%02lld ", done_, total_, static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
  const std::size_t columns = TerminalColumns(stderr);
  const std::size_t room = columns > std::string(head).size() + 1 ? columns - std::string(head).size() - 1 : 0;
  std::fprintf(stderr, "\r\033[K%s%s", head, lastColumns(displayText(current_), room).c_str());
  std::fflush(stderr);
  progressShown_ = true;
}

void ConversionPrinter::started(const std::string& photo) {
  current_ = photo;
  drawProgress();
}

void ConversionPrinter::finished(const std::string& photo, const PhotoResult& r, bool foundInFolder) {
  ++done_;
  report(photo, r, foundInFolder);
}

void ConversionPrinter::finishedAt(std::size_t index, const std::string& photo, const PhotoResult& r,
                                   bool foundInFolder) {
  ++done_;
  held_.insert_or_assign(index, Held{photo, r, foundInFolder});
  printHeld();
}

void ConversionPrinter::silentAt(std::size_t index) {
  ++done_;
  held_.insert_or_assign(index, Held{{}, {}, false, true});
  printHeld();
}

void ConversionPrinter::printHeld() {
  for (auto next = held_.find(nextIndex_); next != held_.end(); next = held_.find(++nextIndex_)) {
    if (!next->second.silent) report(next->second.photo, next->second.result, next->second.foundInFolder);
    held_.erase(next);
  }
  drawProgress();
}

void ConversionPrinter::endOrderedRun() {
  for (const auto& [index, held] : held_)
    if (!held.silent) report(held.photo, held.result, held.foundInFolder);
  held_.clear();
  nextIndex_ = 0;
}

void ConversionPrinter::report(const std::string& photo, const PhotoResult& r, bool foundInFolder) {
  switch (r.outcome) {
    case ConversionOutcome::converted: ++converted_; break;
    case ConversionOutcome::noVoice: ++noVoice_; break;
    case ConversionOutcome::skipped: ++skipped_; break;
    case ConversionOutcome::failed: ++failed_; break;
    case ConversionOutcome::upToDate: ++upToDate_; break;
  }
  const bool failed = r.outcome == ConversionOutcome::failed;
  // Scripts count JSON objects: each photograph has one, whatever -v says of the text.
  const bool quietHere = ((r.outcome == ConversionOutcome::noVoice && foundInFolder) ||
                          r.outcome == ConversionOutcome::upToDate) &&
                         !style_.verbose && !style_.json;
  if ((style_.quiet && !failed) || quietHere) {
    drawProgress();
    return;
  }
  if (style_.json) {
    emit(stdout, jsonLine(photo, r));
    drawProgress();
    return;
  }
  const std::string name = displayText(photo);
  switch (r.outcome) {
    case ConversionOutcome::converted: {
      std::string details = oneDecimal(r.seconds) + " s of sound";
      if (!r.soundFile.empty()) details += " from " + r.soundFile;
      if (style_.verbose)
        details += "; recording of " + plural(r.recordingBytes, "byte", "bytes") + " in " +
                   plural(r.audioBlocks, "piece", "pieces");
      emit(stdout, name + " -> " + displayText(r.movie) + " (" + displayText(details) + ")");
      break;
    }
    case ConversionOutcome::noVoice: emit(stdout, name + ": no voice annotation"); break;
    case ConversionOutcome::skipped: emit(stdout, name + ": " + displayText(r.movie) + " exists; skipped"); break;
    case ConversionOutcome::upToDate: emit(stdout, name + ": " + displayText(r.movie) + " is up to date"); break;
    case ConversionOutcome::failed: {
      std::string line = name + ": " + displayText(r.problem);
      if (r.refusedExisting) line += " (-y replaces it)";
      if (style_.verbose) line += " (" + r.code + ")";
      emit(stderr, line);
      break;
    }
  }
  drawProgress();
}

void ConversionPrinter::failedPath(const std::string& path, const std::string& problem) {
  ++failed_;
  if (style_.json) {
    emit(stdout, json::object({{"SourceFile", json::quote(path)},
                               {"Status", json::quote("failed")},
                               {"Error", json::quote(problem)}}));
  } else {
    emit(stderr, displayText(path) + ": " + displayText(problem));
  }
  drawProgress();
}

void ConversionPrinter::passedOver(const std::string& path, const std::string& why) {
  if (!style_.verbose && (!style_.json || style_.quiet)) return;
  if (style_.json) {
    emit(stdout, json::object({{"SourceFile", json::quote(path)},
                               {"Status", json::quote("passed-over")},
                               {"Reason", json::quote(why)}}));
    return;
  }
  emit(stdout, displayText(path) + ": " + why);
}

void ConversionPrinter::finish() {
  if (progressShown_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progressShown_ = false;
  }
  if (!style_.summary || style_.quiet) return;
  const std::string current = style_.update ? std::to_string(upToDate_) + " up to date, " : "";
  std::fprintf(stderr, "%zu converted, %s%zu without a voice annotation, %zu skipped, %zu failed\n", converted_,
               current.c_str(), noVoice_, skipped_, failed_);
}

}  // namespace cli
