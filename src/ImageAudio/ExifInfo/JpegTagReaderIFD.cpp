// Copying the primary, EXIF and GPS directory values of an open TIFF handle into the record,
// one table row per tag: the form the library delivers it in and the record's setters.
#include <tiffio.h>

#include <bit>
#include <cstring>
#include <type_traits>
#include <variant>

#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "ImageAudio/Tifflib/TiffPrivateDirectory.h"

namespace {
using R = ExImageInfo;

// A number the library delivers in the setter's own type (a signed offset comes as uint32):
// the setter and the presence flag it raises.
template <typename T>
struct Number {
  using Delivered = std::conditional_t<std::is_same_v<T, SInt32>, uint32_t, T>;
  void (R::*set)(T);
  void (R::*present)(bool);
};
// A string the record copies; its null pointer says absent, so it has no flag.
struct String {
  void (R::*set)(const char*);
};
// A fixed run of values (or a text of fixed size) at a pointer.
struct Pointer {
  void (*set)(R&, const void*);
  void (R::*present)(bool);
};
// A count and a pointer to that many values.
struct Counted {
  void (R::*setCount)(UInt16);
  void (*set)(R&, const void*);
};

// One tag and the one form the library delivers it in.
struct TagRow {
  UInt32 tag;
  std::variant<Number<UInt32>, Number<SInt32>, Number<UInt16>, Number<UInt8>, Number<float>, String, Pointer,
               Counted>
      form;
};

template <typename T, void (R::*Setter)(const T*)>
void viaPointer(R& r, const void* p) {
  (r.*Setter)(static_cast<const T*>(p));
}

template <typename T>
TagRow num(UInt32 tag, void (R::*set)(T), void (R::*present)(bool)) { return {tag, Number<T>{set, present}}; }
TagRow text(UInt32 tag, void (R::*set)(const char*)) { return {tag, String{set}}; }
TagRow ptr(UInt32 tag, void (*set)(R&, const void*), void (R::*present)(bool)) { return {tag, Pointer{set, present}}; }
TagRow counted(UInt32 tag, void (R::*setCount)(UInt16), void (*set)(R&, const void*)) {
  return {tag, Counted{setCount, set}};
}

// The record's texts of fixed size take a terminated copy of the library's fixed field.
template <void (R::*Setter)(const char*), int N>
void viaFixedText(R& r, const void* p) {
  char copy[N + 1] = {};
  std::memcpy(copy, p, N);
  (r.*Setter)(copy);
}

const TagRow kMainTags[] = {
    num(34665, &R::setExifIFD, &R::setExifIFDPresent),
    num(34853, &R::setGPSIFD, &R::setGPSIFDPresent),
    num(531, &R::setYcbcr, &R::setYcbcrPresent),
    num(282, &R::setXResolution, &R::setXResolutionPresent),
    num(283, &R::setYResolution, &R::setYResolutionPresent),
    num(296, &R::setResolutionUnit, &R::setResolutionUnitPresent),
    // Values outside 1 to 8 are refused by the library, so they never reach the record.
    num(274, &R::setOrientation, &R::setOrientationPresent),
    // TransferFunction (301) is read apart: it delivers up to three tables.
    ptr(318, viaPointer<float, &R::setWhitePoint>, &R::setWhitePointPresent),
    ptr(319, viaPointer<float, &R::setPrimaryChromas>, &R::setPrimaryChromasPresent),
    ptr(529, viaPointer<float, &R::setYcbcrCoeffs>, &R::setYcbcrCoeffsPresent),
    ptr(532, viaPointer<float, &R::setRefBlackWhite>, &R::setRefBlackWhitePresent),
    text(270, &R::setImageDescription),
    text(271, &R::setMake),
    text(272, &R::setModel),
    text(305, &R::setSoftware),
    text(315, &R::setArtist),
    text(33432, &R::setCopyright),
};

const TagRow kExifTags[] = {
    num(33434, &R::setExposureTime, &R::setExposureTimePresent),
    num(33437, &R::setFNumber, &R::setFNumberPresent),
    num(34850, &R::setExposureProgram, &R::setExposureProgramPresent),
    text(34852, &R::setSpectralSensitivity),
    counted(34855, &R::setNumISOSpeeds, viaPointer<UInt16, &R::setISOSpeedRating>),
    counted(34856, &R::setOECFLength, viaPointer<UInt8, &R::setOecf>),
    ptr(36864, viaPointer<UInt8, &R::setEXIFVersion>, &R::setVersionPresent),
    ptr(36867, viaFixedText<&R::setDateTimeOriginal, 20>, &R::setDateTimeOriginalPresent),
    ptr(36868, viaFixedText<&R::setDateTimeDigitized, 20>, &R::setDateTimeDigitizedPresent),
    ptr(37121, viaPointer<UInt8, &R::setComponentConfig>, &R::setComponentConfigPresent),
    num(37122, &R::setCompressedBitsPerPixel, &R::setCompressedBitsPerPixelPresent),
    num(37377, &R::setShutterSpeed, &R::setShutterSpeedPresent),
    num(37378, &R::setApertureValue, &R::setApertureValuePresent),
    num(37379, &R::setBrightnessValue, &R::setBrightnessValuePresent),
    num(37380, &R::setExposureBias, &R::setExposureBiasPresent),
    num(37381, &R::setMaxAperture, &R::setMaxAperturePresent),
    num(37382, &R::setSubjectDistance, &R::setSubjectDistancePresent),
    num(37383, &R::setMeteringMode, &R::setMeteringModePresent),
    num(37384, &R::setLightSource, &R::setLightSourcePresent),
    num(37385, &R::setFlash, &R::setFlashPresent),
    num(37386, &R::setFocalLength, &R::setFocalLengthPresent),
    counted(37500, &R::setMakerNoteLength, viaPointer<UInt8, &R::setMakerNote>),
    counted(37510, &R::setCommentLength, viaPointer<UInt8, &R::setComment>),
    text(37520, &R::setSubSecTime),
    text(37521, &R::setSubSecTimeOriginal),
    text(37522, &R::setSubSecTimeDigitized),
    ptr(40960, viaPointer<UInt8, &R::setFlashPixVersion>, &R::setFlashPixVersionPresent),
    num(40961, &R::setColorSpace, &R::setColorSpacePresent),
    num(40962, &R::setPixelXDimension, &R::setPixelXDimensionPresent),
    num(40963, &R::setPixelYDimension, &R::setPixelYDimensionPresent),
    ptr(40964, viaFixedText<&R::setRelatedSoundFile, 13>, &R::setRelatedSoundFilePresent),
    num(40965, &R::setInteropIFDPointer, &R::setInteropIFDPointerPresent),
    num(41483, &R::setFlashEnergy, &R::setFlashEnergyPresent),
    counted(41484, &R::setSpatialFreqResponseLength, viaPointer<UInt8, &R::setSpatialFreqResponse>),
    num(41486, &R::setFocalPlaneXRes, &R::setFocalPlaneXResPresent),
    num(41487, &R::setFocalPlaneYRes, &R::setFocalPlaneYResPresent),
    num(41488, &R::setFocalPlaneResUnit, &R::setFocalPlaneResUnitPresent),
    ptr(41492, viaPointer<UInt16, &R::setSubjectLocation>, &R::setSubjectLocationPresent),
    num(41493, &R::setExposureIndex, &R::setExposureIndexPresent),
    num(41495, &R::setSensingMethod, &R::setSensingMethodPresent),
    ptr(41728, viaPointer<UInt8, &R::setFileSource>, &R::setFileSourcePresent),
    ptr(41729, viaPointer<UInt8, &R::setSceneType>, &R::setSceneTypePresent),
    counted(41730, &R::setCFAPatternLength, viaPointer<UInt8, &R::setCFAPattern>),
};


// Each tag on its own: an unset tag or a null pointer leaves the record's fields alone.
template <typename T>
void copyTag(TIFF* tif, UInt32 tag, R& record, const Number<T>& to) {
  typename Number<T>::Delivered v = 0;
  if (TIFFGetField(tif, tag, &v) != 1) return;
  (record.*to.present)(true);
  (record.*to.set)(T(v));
}
void copyTag(TIFF* tif, UInt32 tag, R& record, const String& to) {
  char* v = nullptr;
  if (TIFFGetField(tif, tag, &v) == 1 && v != nullptr) (record.*to.set)(v);
}
void copyTag(TIFF* tif, UInt32 tag, R& record, const Pointer& to) {
  void* v = nullptr;
  if (TIFFGetField(tif, tag, &v) != 1 || v == nullptr) return;
  (record.*to.present)(true);
  to.set(record, v);
}
void copyTag(TIFF* tif, UInt32 tag, R& record, const Counted& to) {
  uint16_t count = 0;
  void* v = nullptr;
  if (TIFFGetField(tif, tag, &count, &v) != 1 || v == nullptr) return;
  (record.*to.setCount)(count);
  to.set(record, v);
}

template <size_t N>
void copyTags(TIFF* tif, R& record, const TagRow (&rows)[N]) {
  for (const TagRow& row : rows)
    std::visit([&](const auto& to) { copyTag(tif, row.tag, record, to); }, row.form);
}

// An EXIF stream's primary directory names neither depth nor samples, yet may carry transfer
// tables: EXIF writes them as three tables of 2^depth entries, or one, so their count gives
// the layout.
bool exifTransferLayout(TIFF* tif, uint32_t count, TIFFPrivateTransferLayout* layout) {
  uint16_t given = 0;
  if (TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &given) == 1 || TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &given) == 1)
    return false;
  const uint32_t n = count % 3 == 0 ? count / 3 : count;
  if (n < 2 || n > 65536 || !std::has_single_bit(n)) return false;
  layout->bitsPerSample = uint16_t(std::countr_zero(n));
  layout->tables = count == n ? 1 : 3;
  return true;
}

// Every directory of an EXIF stream is read by the EXIF rule for transfer tables.
void readExifDirectory(TIFF* tif, UInt32 offset) { TIFFReadPrivateDataSubDirectory(tif, offset, exifTransferLayout); }

// The library holds one table of 2^BitsPerSample entries per colour channel (one, or three);
// the record holds three of 256. Each table is resampled to 256 entries by nearest index, and
// a single table serves all three channels.
void copyTransferFunction(TIFF* tif, R& record) {
  uint16_t* tables[3] = {nullptr, nullptr, nullptr};
  if (TIFFGetField(tif, TIFFTAG_TRANSFERFUNCTION, &tables[0], &tables[1], &tables[2]) != 1 ||
      tables[0] == nullptr)
    return;
  uint16_t bps = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
  if (bps == 0 || bps > 16) return;
  const uint32_t size = uint32_t(1) << bps;
  UInt16 out[768];
  for (int c = 0; c < 3; ++c) {
    const uint16_t* table = tables[c] ? tables[c] : tables[0];
    for (uint32_t i = 0; i < 256; ++i) out[c * 256 + i] = table[i * (size - 1) / 255];
  }
  record.setTransferFunctionPresent(true);
  record.setTransferFunction(out);
}
}  // namespace

void JpegTagReader::readIFDs(TIFF* tif, UInt32 sourceKind) {
  if (tif == nullptr || mDataStore == nullptr) return;
  if (sourceKind == FOUR_CHAR_CODE("TIFF")) {
    // A handle that has read no directory starts at the header's first one.
    if (TIFFCurrentDirectory(tif) == tdir_t(-1))
      TIFFSetSubDirectory(tif, TIFFPrivateFirstDirectoryOffset(tif));
    else
      TIFFReadDirectory(tif);
  }
  else
    readExifDirectory(tif, TIFFPrivateFirstDirectoryOffset(tif));
  readMainTags(tif);
  // The record may still hold an earlier segment's offsets: follow only those this
  // directory names, as readMainTags stored them.
  uint32_t named = 0;
  const bool exifNamed = TIFFGetField(tif, TIFFTAG_EXIFIFD, &named) == 1;
  const bool gpsNamed = TIFFGetField(tif, TIFFTAG_GPSIFD, &named) == 1;
  if (exifNamed) {
    readExifDirectory(tif, UInt32(mDataStore->getExifIFD()));
    readExifTags(tif);
  }
  if (gpsNamed) {
    readExifDirectory(tif, UInt32(mDataStore->getGPSIFD()));
    readGPSTags(tif);
  }
}

void JpegTagReader::readMainTags(TIFF* tif) {
  if (tif == nullptr || mDataStore == nullptr) return;
  copyTags(tif, *mDataStore, kMainTags);
  copyTransferFunction(tif, *mDataStore);
}

void JpegTagReader::readExifTags(TIFF* tif) {
  if (tif == nullptr || mDataStore == nullptr) return;
  copyTags(tif, *mDataStore, kExifTags);
}

void JpegTagReader::readGPSTags(TIFF* tif) {
  if (tif == nullptr || mDataStore == nullptr) return;
  // The record lets only this reader fill its GPS fields.
  static const TagRow kGpsTags[] = {
      ptr(0, viaPointer<UInt8, &R::setGpsVersionId>, &R::setGpsVersionIdPresent),
      ptr(1, viaFixedText<&R::setGpsLattitudeRef, 2>, &R::setGpsLattitudeRefPresent),
      ptr(2, viaPointer<float, &R::setGpsLattitude>, &R::setGpsLattitudePresent),
      ptr(3, viaFixedText<&R::setGpsLongitudeRef, 2>, &R::setGpsLongitudeRefPresent),
      ptr(4, viaPointer<float, &R::setGpsLongitude>, &R::setGpsLongitudePresent),
      num(5, &R::setGpsAltitudeRef, &R::setGpsAltitudeRefPresent),
      num(6, &R::setGpsAltitude, &R::setGpsAltitudePresent),
      ptr(7, viaPointer<float, &R::setGpsTimeStamp>, &R::setGpsTimeStampPresent),
      text(8, &R::setGpsSatelites),
      ptr(9, viaFixedText<&R::setGpsStatus, 2>, &R::setGpsStatusPresent),
      ptr(10, viaFixedText<&R::setGpsMeasureMode, 2>, &R::setGpsMeasureModePresent),
      num(11, &R::setGpsDop, &R::setGpsDopPresent),
      ptr(12, viaFixedText<&R::setGpsSpeedRef, 2>, &R::setGpsSpeedRefPresent),
      num(13, &R::setGpsSpeed, &R::setGpsSpeedPresent),
      ptr(14, viaFixedText<&R::setGpsTrackRef, 2>, &R::setGpsTrackRefPresent),
      num(15, &R::setGpsTrack, &R::setGpsTrackPresent),
      ptr(16, viaFixedText<&R::setGpsImgDirectionRef, 2>, &R::setGpsImgDirectionRefPresent),
      num(17, &R::setGpsImgDirection, &R::setGpsImgDirectionPresent),
      text(18, &R::setGpsMapDatum),
      ptr(19, viaFixedText<&R::setGpsDestLattitudeRef, 2>, &R::setGpsDestLattitudeRefPresent),
      ptr(20, viaPointer<float, &R::setGpsDestLattitude>, &R::setGpsDestLattitudePresent),
      ptr(21, viaFixedText<&R::setGpsDestLongitudeRef, 2>, &R::setGpsDestLongitudeRefPresent),
      ptr(22, viaPointer<float, &R::setGpsDestLongitude>, &R::setGpsDestLongitudePresent),
      ptr(23, viaFixedText<&R::setGpsDestBearingRef, 2>, &R::setGpsDestBearingRefPresent),
      num(24, &R::setGpsDestBearing, &R::setGpsDestBearingPresent),
      ptr(25, viaFixedText<&R::setGpsDestDistanceRef, 2>, &R::setGpsDestDistanceRefPresent),
      num(26, &R::setGpsDestDistance, &R::setGpsDestDistancePresent),
  };
  copyTags(tif, *mDataStore, kGpsTags);
}
