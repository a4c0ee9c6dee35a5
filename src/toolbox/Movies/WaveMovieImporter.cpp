// SPDX-License-Identifier: GPL-2.0-or-later
// The WAVE movie importer ('eat '/'WAVE'): finds the format and the sound data in a RIFF file and
// streams the decoded samples into a new sound track, a block at a time.
#include <algorithm>
#include <bit>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Movies/MovieImport.h"
#include "media/WaveFile.h"
#include "media/WaveFormats.h"

namespace wave = media::wave;

namespace {

constexpr UInt32 kChunkTargetBytes = 64 * 1024;  // decoded bytes per movie chunk
// A format chunk that contradicts itself: the sound's description is damaged.
constexpr OSErr kDamagedFormat = invalidSampleDescription;

// Where the file's sound is, or why there is none in words the callers know.
OSErr parseWave(const ImportSource& src, wave::Layout* out) {
  const wave::Found found = wave::Locate(
      [&src](std::uint64_t offset, void* bytes, std::size_t count) { return src.readAt(offset, bytes, count); },
      src.size(), out);
  return found == wave::Found::ok ? noErr : found == wave::Found::damagedFormat ? kDamagedFormat : badFileFormat;
}

class WaveMovieImporter : public MovieImporterRecord {
 public:
  ComponentResult importSource(const ImportSource& source, Movie theMovie, Track targetTrack, Track* usedTrack,
                               TimeValue atTime, TimeValue* addedDuration, long inFlags, long*) override;
  ComponentResult validateSource(const ImportSource& source, Boolean* valid, std::string* formatName) override;
};

// What the track's sound description says of the decoded samples: their layout, and the
// speakers when the file names one for each channel (bits past the 18 defined ones say nothing).
OSErr describeSound(const wave::Format& f, const wave::SampleLayout& out, SoundDescriptionHandle* description) {
  AudioStreamBasicDescription a{};
  a.mSampleRate = f.rate;
  a.mFormatID = kAudioFormatLinearPCM;
  a.mFormatFlags = kAudioFormatFlagIsPacked | (out.isFloat    ? kAudioFormatFlagIsFloat
                                               : out.isSigned ? kAudioFormatFlagIsSignedInteger
                                                              : 0);
  a.mBytesPerFrame = a.mBytesPerPacket = UInt32(f.channels) * (out.bits / 8);
  a.mFramesPerPacket = 1;
  a.mChannelsPerFrame = f.channels;
  a.mBitsPerChannel = out.bits;
  AudioChannelLayout layout{kAudioChannelLayoutTag_UseChannelBitmap, f.channelMask, 0};
  const bool speakersKnown = f.channelMask != 0 && f.channelMask < (1u << 18) &&
                             std::popcount(f.channelMask) == int(f.channels);
  return OSErr(QTSoundDescriptionCreate(&a, speakersKnown ? &layout : nullptr, speakersKnown ? sizeof layout : 0,
                                        nullptr, 0, kQTSoundDescriptionKind_Movie_LowestPossibleVersion,
                                        description));
}

// The decoded samples of the data chunk, as far as played frames, added to the media in chunks
// of about 64 KB.
OSErr addSamples(const ImportSource& source, const wave::Layout& w, const wave::Codec& codec, UInt64 played,
                 Media media, SoundDescriptionHandle description) {
  const wave::Format& f = w.format;
  const UInt32 unit = codec.unitBytes(f);
  const UInt32 framesPerUnit = codec.framesIn(f, unit);
  const UInt32 frameBytes = UInt32(f.channels) * (codec.output(f).bits / 8);
  const UInt32 targetFrames = std::max<UInt32>(1, kChunkTargetBytes / frameBytes);
  std::vector<UInt8> input(unit);
  Handle output = NewHandle(Size(targetFrames + framesPerUnit) * frameBytes);
  if (output == nullptr) return MemError();

  OSErr err = noErr;
  UInt32 buffered = 0;
  auto flush = [&]() {
    if (buffered == 0 || err != noErr) return;
    err = AddMediaSample(media, output, 0, UInt64(buffered) * frameBytes, 1,
                         reinterpret_cast<SampleDescriptionHandle>(description), long(buffered), 0, nullptr);
    buffered = 0;
  };
  UInt64 pos = w.dataOffset;
  UInt64 remaining = w.dataLength;
  while (remaining > 0 && played > 0 && err == noErr) {
    UInt32 want = UInt32(std::min<UInt64>(unit, remaining));
    UInt32 got = UInt32(source.readAt(pos, input.data(), want));
    UInt32 frames = codec.framesIn(f, got);
    if (frames == 0) break;
    codec.decode(f, input.data(), got, reinterpret_cast<UInt8*>(*output) + size_t(buffered) * frameBytes);
    // The padding of a compressed recording's last block is decoded but not kept.
    frames = UInt32(std::min<UInt64>(frames, played));
    played -= frames;
    buffered += frames;
    pos += got;
    remaining -= got;
    if (buffered >= targetFrames) flush();
    if (got < want) break;  // the file ends before the data chunk says
  }
  flush();
  DisposeHandle(output);
  return err;
}

ComponentResult WaveMovieImporter::importSource(const ImportSource& source, Movie theMovie, Track targetTrack,
                                                Track* usedTrack, TimeValue atTime, TimeValue* addedDuration,
                                                long inFlags, long*) {
  // Only new tracks: adding to an existing one would have to match its format.
  if (targetTrack != nullptr || !(inFlags & movieImportCreateTrack) || atTime < 0) return featureUnsupported;
  wave::Layout w;
  OSErr err = parseWave(source, &w);
  if (err != noErr) return err;
  const wave::Verdict verdict = wave::Judge(w.format);
  if (verdict.fit != wave::Fit::fits) return verdict.fit == wave::Fit::unsupported ? noCodecErr : kDamagedFormat;
  const wave::Codec* codec = verdict.codec;
  // A movie counts a track's frames in 32 bits (signed): a longer recording is refused before
  // anything is read. RIFF's own 32-bit sizes keep the count itself from overflowing here.
  const UInt64 frames = wave::PlayedFrames(*codec, w);
  if (frames > UInt64(INT32_MAX)) return invalidDuration;
  if (frames == 0) return badFileFormat;

  Track track = NewMovieTrack(theMovie, 0, 0, kFullVolume);
  if (track == nullptr) return GetMoviesError();
  Media media = NewTrackMedia(track, SoundMediaType, TimeScale(w.format.rate), nullptr, 0);
  SoundDescriptionHandle description = nullptr;
  err = media == nullptr ? GetMoviesError() : describeSound(w.format, codec->output(w.format), &description);
  if (err != noErr) {
    DisposeMovieTrack(track);
    return err;
  }

  err = BeginMediaEdits(media);
  if (err == noErr) err = addSamples(source, w, *codec, frames, media, description);
  OSErr endErr = EndMediaEdits(media);
  if (err == noErr) err = endErr;
  DisposeHandle(reinterpret_cast<Handle>(description));
  TimeValue mediaDuration = GetMediaDuration(media);
  if (err == noErr && mediaDuration == 0) err = badFileFormat;  // nothing usable in the data
  if (err == noErr) err = InsertMediaIntoTrack(track, atTime, 0, mediaDuration, fixed1);
  if (err != noErr) {
    DisposeMovieTrack(track);
    return err;
  }
  if (usedTrack) *usedTrack = track;
  if (addedDuration) *addedDuration = GetTrackDuration(track) - atTime;
  return noErr;
}

// Valid when the importer would make a track of it; a format it cannot carry is still a WAVE.
ComponentResult WaveMovieImporter::validateSource(const ImportSource& source, Boolean* valid,
                                                  std::string* formatName) {
  wave::Layout w;
  OSErr err = parseWave(source, &w);
  if (err != noErr) return err;
  const wave::Verdict verdict = wave::Judge(w.format);
  if (verdict.fit == wave::Fit::damaged) return kDamagedFormat;
  // Data too short for one whole frame gives no sound, whatever its format.
  if (verdict.codec != nullptr) {
    const UInt32 unit = verdict.codec->unitBytes(w.format);
    if (verdict.codec->framesIn(w.format, UInt32(std::min<UInt64>(unit, w.dataLength))) == 0) return badFileFormat;
  }
  *valid = verdict.fit == wave::Fit::fits;
  if (formatName) *formatName = verdict.words;
  return noErr;
}

}  // namespace

ComponentInstance NewWaveMovieImporter() { return new WaveMovieImporter; }
