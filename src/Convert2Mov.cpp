// The conversion driver: reads the photograph, writes its voice annotation to a new private
// WAVE file in the temporary-items folder, then has the movie assembled from both.
#include "Convert2Mov.h"

#include <cstdio>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/Files/Files.h"

namespace {

// Names already taken in the shared folder (possibly planted links) are passed over; this
// many tick numbers are tried before giving up.
constexpr UInt32 kWaveNameTries = 256;

// Removes a WAVE file we created but could not complete.
void removeWave(const std::string& path) {
  FSSpec spec;
  if (FSpFromPath(path, &spec) == noErr) FSpDelete(&spec);
}

// Writes each block at its WAVE offset; a block at offset 0 follows the one before it.
OSErr writeBlocks(std::FILE* file, const ExImageInfo& record) {
  const UInt32 n = record.numAudioBlocks();
  for (UInt32 k = 0; k < n; ++k) {
    const UInt8* data = nullptr;
    UInt32 length = 0;
    UInt32 offset = 0;
    record.getNthAudioBlock(SInt32(k), &data, &length, &offset);
    if (offset != 0 && std::fseek(file, long(offset), SEEK_SET) != 0) return posErr;
    if (length != 0 && (data == nullptr || std::fwrite(data, 1, length, file) != length)) return ioErr;
  }
  return noErr;
}

}  // namespace

SInt32 Convert2Mov::createMovie(const std::string& movie, const std::string& image, SInt32 resize) {
  mReport = ConversionReport{};
  std::optional<std::string> audio = extractAudioFromExifForFile(image);
  // Without a WAVE path the status is whatever the extraction reported (0: nothing to convert).
  SInt32 status = mReport.status;
  if (audio) status = assembleMovieTracksForMovie(movie, image, *audio, resize);
  mReport.status = status;
  return status;
}

std::optional<std::string> Convert2Mov::extractAudioFromExifForFile(const std::string& image) {
  mReport.status = noErr;
  if (image.empty() || !FSFileExistsAtPath(image)) return std::nullopt;
  mReport.imageFound = true;

  ExImageInfo record;
  {
    JpegTagReader reader;
    reader.readTags(image, &record);
  }
  mReport.imageReadable = record.getPixelWidth() != 0;
  mReport.audioBlocks = record.numAudioBlocks();
  mReport.audioSeconds = record.getAudioSeconds();
  // The blocks decide, not the length: a recording of unknown length is still written.
  if (record.numAudioBlocks() == 0) return std::nullopt;

  FSRef folder;
  FSFindFolder(kOnSystemDisk, kChewableItemsFolderType, kDontCreateFolder, &folder);
  UInt8 folderPath[256];
  if (FSRefMakePath(&folder, folderPath, sizeof folderPath) != noErr) return std::nullopt;

  // Created exclusively and never through a link: the folder is shared by every user.
  std::string wavePath;
  std::FILE* file = nullptr;
  OSErr err = dupFNErr;
  const UInt32 tick = TickCount();
  for (UInt32 attempt = 0; attempt < kWaveNameTries && err == dupFNErr; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "%d.wav", SInt32(tick + attempt));
    wavePath = std::string(reinterpret_cast<const char*>(folderPath)) + "/" + name;
    err = FSOpenNewFile(wavePath.c_str(), 0600, &file);
  }
  if (err != noErr) {
    mReport.status = err;
    return std::nullopt;
  }

  err = writeBlocks(file, record);
  if (std::fclose(file) != 0 && err == noErr) err = ioErr;
  if (err != noErr) {
    // A truncated recording must not become a movie.
    removeWave(wavePath);
    mReport.status = err;
    return std::nullopt;
  }
  mReport.wavePath = wavePath;
  mReport.waveWritten = true;
  return wavePath;
}
