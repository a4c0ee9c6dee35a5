// The WAVE movie importer ('eat '/'WAVE'): finds the format and the sound data in a RIFF file and
// streams the decoded samples into a new sound track, a block at a time.
#include <algorithm>
#include <bit>
#include <cstring>

#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Movies/MovieImport.h"
#include "media/WaveFormats.h"

namespace wave = media::wave;

namespace {

constexpr UInt32 kMaxFormatChunk = 2048;      // room for any MS ADPCM coefficient table we accept
constexpr UInt32 kChunkTargetBytes = 64 * 1024;  // decoded bytes per movie chunk
// A format chunk that contradicts itself: the sound's description is damaged.
constexpr OSErr kDamagedFormat = invalidSampleDescription;

struct WaveFile {
  wave::Format format;
  UInt64 dataOffset = 0;
  UInt64 dataLength = 0;
};

bool parseFormat(const UInt8* b, UInt32 n, wave::Format* f) {
  if (n < 16) return false;
  f->tag = ReadLittleEndian16(b);
  f->channels = ReadLittleEndian16(b + 2);
  f->rate = ReadLittleEndian32(b + 4);
  f->blockAlign = ReadLittleEndian16(b + 12);
  f->bits = ReadLittleEndian16(b + 14);
  UInt16 extra = n >= 18 ? ReadLittleEndian16(b + 16) : 0;
  if (f->tag == wave::kFormatExtensible) {
    if (extra < 22 || n < 40) return false;
    f->validBits = ReadLittleEndian16(b + 18);
    f->channelMask = ReadLittleEndian32(b + 20);
    // A standard subformat GUID is a format tag followed by a fixed base; any other GUID leaves
    // the tag extensible, a kind this program does not know.
    static const UInt8 kBase[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (std::memcmp(b + 26, kBase, sizeof kBase) == 0) f->tag = ReadLittleEndian16(b + 24);
  } else if (f->tag == wave::kFormatMSADPCM && extra >= 4 && n >= 22) {
    UInt32 count = ReadLittleEndian16(b + 20);
    UInt32 fit = (std::min<UInt32>(n, 18u + extra) - 22) / 4;
    count = std::min(count, fit);
    for (UInt32 k = 0; k < count; ++k)
      f->coefficients.emplace_back(SInt16(ReadLittleEndian16(b + 22 + 4 * k)), SInt16(ReadLittleEndian16(b + 24 + 4 * k)));
  }
  return true;
}

// Walks the chunks as far as the file goes; sizes are trusted only up to the file's end.
OSErr parseWave(const ImportSource& src, WaveFile* out) {
  UInt8 h[12];
  if (src.readAt(0, h, 12) != 12 || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0)
    return badFileFormat;
  const UInt64 fileSize = src.size();
  bool haveFormat = false, haveData = false;
  UInt64 pos = 12;
  while (pos + 8 <= fileSize && !(haveFormat && haveData)) {
    UInt8 c[8];
    if (src.readAt(pos, c, 8) != 8) break;
    const UInt64 size = ReadLittleEndian32(c + 4);
    const UInt64 body = pos + 8;
    const UInt64 available = std::min(size, fileSize - body);
    if (!haveFormat && std::memcmp(c, "fmt ", 4) == 0) {
      UInt8 b[kMaxFormatChunk];
      UInt32 n = UInt32(std::min<UInt64>(available, kMaxFormatChunk));
      if (src.readAt(body, b, n) != n) return badFileFormat;
      if (!parseFormat(b, n, &out->format)) return kDamagedFormat;
      haveFormat = true;
    } else if (!haveData && std::memcmp(c, "data", 4) == 0) {
      out->dataOffset = body;
      out->dataLength = available;
      haveData = true;
    }
    pos = body + size + (size & 1);  // chunks are padded to even sizes
  }
  return haveFormat && haveData ? noErr : badFileFormat;
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

// The decoded samples of the data chunk, added to the media in chunks of about 64 KB.
OSErr addSamples(const ImportSource& source, const WaveFile& w, const wave::Codec& codec, Media media,
                 SoundDescriptionHandle description) {
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
  while (remaining > 0 && err == noErr) {
    UInt32 want = UInt32(std::min<UInt64>(unit, remaining));
    UInt32 got = UInt32(source.readAt(pos, input.data(), want));
    UInt32 frames = codec.framesIn(f, got);
    if (frames == 0) break;
    codec.decode(f, input.data(), got, reinterpret_cast<UInt8*>(*output) + size_t(buffered) * frameBytes);
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
  WaveFile w;
  OSErr err = parseWave(source, &w);
  if (err != noErr) return err;
  const wave::Verdict verdict = wave::judge(w.format);
  if (verdict.fit != wave::Fit::fits) return verdict.fit == wave::Fit::unsupported ? noCodecErr : kDamagedFormat;
  const wave::Codec* codec = verdict.codec;
  // A movie counts a track's frames in 32 bits (signed): a longer recording is refused before
  // anything is read. RIFF's own 32-bit sizes keep the count itself from overflowing here.
  const UInt32 unit = codec->unitBytes(w.format);
  const UInt64 frames = unit == 0 ? 0
                                  : (w.dataLength / unit) * codec->framesIn(w.format, unit) +
                                        codec->framesIn(w.format, UInt32(w.dataLength % unit));
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
  if (err == noErr) err = addSamples(source, w, *codec, media, description);
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
  WaveFile w;
  OSErr err = parseWave(source, &w);
  if (err != noErr) return err;
  const wave::Verdict verdict = wave::judge(w.format);
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
