// The WAVE movie importer ('eat '/'WAVE'): finds the format and the sound data in a RIFF file and
// streams the decoded samples into a new sound track, a block at a time.
#include <algorithm>
#include <cstring>

#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Movies/MovieImport.h"
#include "toolbox/Movies/WaveFormats.h"

namespace {

constexpr UInt32 kMaxFormatChunk = 2048;      // room for any MS ADPCM coefficient table we accept
constexpr UInt32 kChunkTargetBytes = 64 * 1024;  // decoded bytes per movie chunk

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
    // The subformat GUID's first two bytes are the format tag; the rest is the fixed base GUID.
    static const UInt8 kBase[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (extra < 22 || n < 40 || std::memcmp(b + 26, kBase, sizeof kBase) != 0) return false;
    UInt16 valid = ReadLittleEndian16(b + 18);
    if (valid != 0 && valid != f->bits) return false;  // samples padded into wider containers
    f->tag = ReadLittleEndian16(b + 24);
    if (f->tag == wave::kFormatExtensible) return false;
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
      if (src.readAt(body, b, n) != n || !parseFormat(b, n, &out->format)) return badFileFormat;
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
};

// The decoded samples of the data chunk, added to the media in chunks of about 64 KB.
OSErr addSamples(const ImportSource& source, const WaveFile& w, const wave::Codec& codec, Media media,
                 SoundDescriptionHandle description) {
  const wave::Format& f = w.format;
  const UInt32 unit = codec.unitBytes(f);
  const UInt32 framesPerUnit = codec.framesIn(f, unit);
  const UInt32 frameBytes = UInt32(f.channels) * (codec.outBits / 8);
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
  const wave::Codec* codec = wave::findCodec(w.format);
  if (codec == nullptr) return badFileFormat;

  Track track = NewMovieTrack(theMovie, 0, 0, kFullVolume);
  if (track == nullptr) return GetMoviesError();
  Media media = NewTrackMedia(track, SoundMediaType, TimeScale(w.format.rate), nullptr, 0);
  auto description = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(sizeof(SoundDescription)));
  if (media == nullptr || description == nullptr) {
    err = media == nullptr ? GetMoviesError() : MemError();
    if (description) DisposeHandle(reinterpret_cast<Handle>(description));
    DisposeMovieTrack(track);
    return err;
  }
  SoundDescription& d = **description;
  d.descSize = sizeof(SoundDescription);
  d.dataFormat = codec->outFormat;
  d.dataRefIndex = 1;
  d.numChannels = SInt16(w.format.channels);
  d.sampleSize = SInt16(codec->outBits);
  d.sampleRate = w.format.rate << 16;

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

}  // namespace

ComponentInstance NewWaveMovieImporter() { return new WaveMovieImporter; }
