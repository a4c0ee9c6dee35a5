// Copying the primary, EXIF and GPS directory values of an open TIFF handle into the record,
// one table row per tag: the form the library delivers it in and the record's setters.
#include <tiffio.h>

#include <cstring>

#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "ImageAudio/Tifflib/TiffPrivateDirectory.h"

namespace {
using R = ExImageInfo;

// Delivered forms: a number, a string, a fixed run of values at a pointer, or count+pointer.
struct TagRow {
  UInt32 tag;
  enum Form { U32, S32, U16, U8, F32, Str, Ptr, Counted } form;
  // Exactly one of these is used, according to form.
  void (R::*setU32)(UInt32) = nullptr;
  void (R::*setS32)(SInt32) = nullptr;
  void (R::*setU16)(UInt16) = nullptr;
  void (R::*setU8)(UInt8) = nullptr;
  void (R::*setF32)(float) = nullptr;
  void (R::*setText)(const char*) = nullptr;
  void (*setPtr)(R&, const void*) = nullptr;  // pointer forms and texts of fixed size
  void (R::*flag)(bool) = nullptr;
  void (R::*setCount)(UInt16) = nullptr;
};

template <typename T, void (R::*Setter)(const T*)>
void viaPointer(R& r, const void* p) {
  (r.*Setter)(static_cast<const T*>(p));
}

TagRow num32(UInt32 tag, void (R::*s)(UInt32), void (R::*f)(bool)) { TagRow r{tag, TagRow::U32}; r.setU32 = s; r.flag = f; return r; }
TagRow snum32(UInt32 tag, void (R::*s)(SInt32), void (R::*f)(bool)) { TagRow r{tag, TagRow::S32}; r.setS32 = s; r.flag = f; return r; }
TagRow num16(UInt32 tag, void (R::*s)(UInt16), void (R::*f)(bool)) { TagRow r{tag, TagRow::U16}; r.setU16 = s; r.flag = f; return r; }
TagRow num8(UInt32 tag, void (R::*s)(UInt8), void (R::*f)(bool)) { TagRow r{tag, TagRow::U8}; r.setU8 = s; r.flag = f; return r; }
TagRow real(UInt32 tag, void (R::*s)(float), void (R::*f)(bool)) { TagRow r{tag, TagRow::F32}; r.setF32 = s; r.flag = f; return r; }
TagRow text(UInt32 tag, void (R::*s)(const char*)) { TagRow r{tag, TagRow::Str}; r.setText = s; return r; }
TagRow ptr(UInt32 tag, void (*s)(R&, const void*), void (R::*f)(bool)) { TagRow r{tag, TagRow::Ptr}; r.setPtr = s; r.flag = f; return r; }
TagRow counted(UInt32 tag, void (R::*c)(UInt16), void (*s)(R&, const void*)) { TagRow r{tag, TagRow::Counted}; r.setCount = c; r.setPtr = s; return r; }

template <void (R::*Setter)(const char*)>
void viaText(R& r, const void* p) {
  (r.*Setter)(static_cast<const char*>(p));
}

// The record's texts of fixed size take a terminated copy of the library's fixed field.
template <void (R::*Setter)(const char*), int N>
void viaFixedText(R& r, const void* p) {
  char copy[N + 1] = {};
  std::memcpy(copy, p, N);
  (r.*Setter)(copy);
}

const TagRow kMainTags[] = {
    snum32(34665, &R::setExifIFD, &R::setExifIFDPresent),
    snum32(34853, &R::setGPSIFD, &R::setGPSIFDPresent),
    num16(531, &R::setYcbcr, &R::setYcbcrPresent),
    real(282, &R::setXResolution, &R::setXResolutionPresent),
    real(283, &R::setYResolution, &R::setYResolutionPresent),
    num16(296, &R::setResolutionUnit, &R::setResolutionUnitPresent),
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
    real(33434, &R::setExposureTime, &R::setExposureTimePresent),
    real(33437, &R::setFNumber, &R::setFNumberPresent),
    num16(34850, &R::setExposureProgram, &R::setExposureProgramPresent),
    text(34852, &R::setSpectralSensitivity),
    counted(34855, &R::setNumISOSpeeds, viaPointer<UInt16, &R::setISOSpeedRating>),
    counted(34856, &R::setOECFLength, viaPointer<UInt8, &R::setOecf>),
    ptr(36864, viaPointer<UInt8, &R::setEXIFVersion>, &R::setVersionPresent),
    ptr(36867, viaFixedText<&R::setDateTimeOriginal, 20>, &R::setDateTimeOriginalPresent),
    ptr(36868, viaFixedText<&R::setDateTimeDigitized, 20>, &R::setDateTimeDigitizedPresent),
    ptr(37121, viaPointer<UInt8, &R::setComponentConfig>, &R::setComponentConfigPresent),
    real(37122, &R::setCompressedBitsPerPixel, &R::setCompressedBitsPerPixelPresent),
    real(37377, &R::setShutterSpeed, &R::setShutterSpeedPresent),
    real(37378, &R::setApertureValue, &R::setApertureValuePresent),
    real(37379, &R::setBrightnessValue, &R::setBrightnessValuePresent),
    real(37380, &R::setExposureBias, &R::setExposureBiasPresent),
    real(37381, &R::setMaxAperture, &R::setMaxAperturePresent),
    real(37382, &R::setSubjectDistance, &R::setSubjectDistancePresent),
    num16(37383, &R::setMeteringMode, &R::setMeteringModePresent),
    num16(37384, &R::setLightSource, &R::setLightSourcePresent),
    num16(37385, &R::setFlash, &R::setFlashPresent),
    real(37386, &R::setFocalLength, &R::setFocalLengthPresent),
    counted(37500, &R::setMakerNoteLength, viaPointer<UInt8, &R::setMakerNote>),
    counted(37510, &R::setCommentLength, viaPointer<UInt8, &R::setComment>),
    text(37520, &R::setSubSecTime),
    text(37521, &R::setSubSecTimeOriginal),
    text(37522, &R::setSubSecTimeDigitized),
    ptr(40960, viaPointer<UInt8, &R::setFlashPixVersion>, &R::setFlashPixVersionPresent),
    num16(40961, &R::setColorSpace, &R::setColorSpacePresent),
    num32(40962, &R::setPixelXDimension, &R::setPixelXDimensionPresent),
    num32(40963, &R::setPixelYDimension, &R::setPixelYDimensionPresent),
    ptr(40964, viaFixedText<&R::setRelatedSoundFile, 13>, &R::setRelatedSoundFilePresent),
    num32(40965, &R::setInteropIFDPointer, &R::setInteropIFDPointerPresent),
    real(41483, &R::setFlashEnergy, &R::setFlashEnergyPresent),
    counted(41484, &R::setSpatialFreqResponseLength, viaPointer<UInt8, &R::setSpatialFreqResponse>),
    real(41486, &R::setFocalPlaneXRes, &R::setFocalPlaneXResPresent),
    real(41487, &R::setFocalPlaneYRes, &R::setFocalPlaneYResPresent),
    num16(41488, &R::setFocalPlaneResUnit, &R::setFocalPlaneResUnitPresent),
    ptr(41492, viaPointer<UInt16, &R::setSubjectLocation>, &R::setSubjectLocationPresent),
    real(41493, &R::setExposureIndex, &R::setExposureIndexPresent),
    num16(41495, &R::setSensingMethod, &R::setSensingMethodPresent),
    ptr(41728, viaPointer<UInt8, &R::setFileSource>, &R::setFileSourcePresent),
    ptr(41729, viaPointer<UInt8, &R::setSceneType>, &R::setSceneTypePresent),
    counted(41730, &R::setCFAPatternLength, viaPointer<UInt8, &R::setCFAPattern>),
};


// Each tag on its own: an unset tag or a null pointer leaves the record's fields alone.
template <size_t N>
void copyTags(TIFF* tif, R& record, const TagRow (&rows)[N]) {
  for (const TagRow& row : rows) {
    switch (row.form) {
      case TagRow::U32: case TagRow::S32: {
        uint32_t v = 0;
        if (TIFFGetField(tif, row.tag, &v) != 1) break;
        (record.*row.flag)(true);
        if (row.form == TagRow::U32) (record.*row.setU32)(v);
        else (record.*row.setS32)(SInt32(v));
        break;
      }
      case TagRow::U16: {
        uint16_t v = 0;
        if (TIFFGetField(tif, row.tag, &v) != 1) break;
        (record.*row.flag)(true);
        (record.*row.setU16)(v);
        break;
      }
      case TagRow::U8: {
        uint8_t v = 0;
        if (TIFFGetField(tif, row.tag, &v) != 1) break;
        (record.*row.flag)(true);
        (record.*row.setU8)(v);
        break;
      }
      case TagRow::F32: {
        float v = 0;
        if (TIFFGetField(tif, row.tag, &v) != 1) break;
        (record.*row.flag)(true);
        (record.*row.setF32)(v);
        break;
      }
      case TagRow::Str: {
        char* v = nullptr;
        if (TIFFGetField(tif, row.tag, &v) != 1 || v == nullptr) break;
        (record.*row.setText)(v);
        break;
      }
      case TagRow::Ptr: {
        void* v = nullptr;
        if (TIFFGetField(tif, row.tag, &v) != 1 || v == nullptr) break;
        (record.*row.flag)(true);
        row.setPtr(record, v);
        break;
      }
      case TagRow::Counted: {
        uint16_t count = 0;
        void* v = nullptr;
        if (TIFFGetField(tif, row.tag, &count, &v) != 1 || v == nullptr) break;
        (record.*row.setCount)(count);
        row.setPtr(record, v);
        break;
      }
    }
  }
}

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
    TIFFReadPrivateDataSubDirectory(tif, TIFFPrivateFirstDirectoryOffset(tif));
  readMainTags(tif);
  // The record may still hold an earlier segment's offsets: follow only those this
  // directory names, as readMainTags stored them.
  uint32_t named = 0;
  const bool exifNamed = TIFFGetField(tif, TIFFTAG_EXIFIFD, &named) == 1;
  const bool gpsNamed = TIFFGetField(tif, TIFFTAG_GPSIFD, &named) == 1;
  if (exifNamed) {
    TIFFReadPrivateDataSubDirectory(tif, UInt32(mDataStore->getExifIFD()));
    readExifTags(tif);
  }
  if (gpsNamed) {
    TIFFReadPrivateDataSubDirectory(tif, UInt32(mDataStore->getGPSIFD()));
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
      num8(5, &R::setGpsAltitudeRef, &R::setGpsAltitudeRefPresent),
      real(6, &R::setGpsAltitude, &R::setGpsAltitudePresent),
      ptr(7, viaPointer<float, &R::setGpsTimeStamp>, &R::setGpsTimeStampPresent),
      text(8, &R::setGpsSatelites),
      ptr(9, viaFixedText<&R::setGpsStatus, 2>, &R::setGpsStatusPresent),
      ptr(10, viaFixedText<&R::setGpsMeasureMode, 2>, &R::setGpsMeasureModePresent),
      real(11, &R::setGpsDop, &R::setGpsDopPresent),
      ptr(12, viaFixedText<&R::setGpsSpeedRef, 2>, &R::setGpsSpeedRefPresent),
      real(13, &R::setGpsSpeed, &R::setGpsSpeedPresent),
      ptr(14, viaFixedText<&R::setGpsTrackRef, 2>, &R::setGpsTrackRefPresent),
      real(15, &R::setGpsTrack, &R::setGpsTrackPresent),
      ptr(16, viaFixedText<&R::setGpsImgDirectionRef, 2>, &R::setGpsImgDirectionRefPresent),
      real(17, &R::setGpsImgDirection, &R::setGpsImgDirectionPresent),
      text(18, &R::setGpsMapDatum),
      ptr(19, viaFixedText<&R::setGpsDestLattitudeRef, 2>, &R::setGpsDestLattitudeRefPresent),
      ptr(20, viaPointer<float, &R::setGpsDestLattitude>, &R::setGpsDestLattitudePresent),
      ptr(21, viaFixedText<&R::setGpsDestLongitudeRef, 2>, &R::setGpsDestLongitudeRefPresent),
      ptr(22, viaPointer<float, &R::setGpsDestLongitude>, &R::setGpsDestLongitudePresent),
      ptr(23, viaFixedText<&R::setGpsDestBearingRef, 2>, &R::setGpsDestBearingRefPresent),
      real(24, &R::setGpsDestBearing, &R::setGpsDestBearingPresent),
      ptr(25, viaFixedText<&R::setGpsDestDistanceRef, 2>, &R::setGpsDestDistanceRefPresent),
      real(26, &R::setGpsDestDistance, &R::setGpsDestDistancePresent),
  };
  copyTags(tif, *mDataStore, kGpsTags);
}
