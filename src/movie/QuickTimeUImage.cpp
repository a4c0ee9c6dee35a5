// SPDX-License-Identifier: GPL-2.0-or-later
// The image side of the movie utilities: the video track's size, the scaled copy of the
// photograph, and an image's data and description for the video sample.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "movie/QuickTimeU.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Movies/GraphicsImport.h"

namespace {
// Sizes are worked out in wide integers and only then brought into the 16-bit range, so a
// huge or extremely long image cannot wrap into a negative or tiny dimension.
SInt16 clamp16(std::int64_t v) { return SInt16(std::clamp<std::int64_t>(v, INT16_MIN, INT16_MAX)); }

// As clamp16, but a scaled dimension of a non-empty image never collapses to nothing.
SInt16 scaledDimension(std::int64_t size, std::int64_t num, std::int64_t den) {
  std::int64_t v = size * num / den;
  if (v == 0 && size != 0 && num != 0) v = (size > 0) == ((num > 0) == (den > 0)) ? 1 : -1;
  return clamp16(v);
}

// The thinnest side a scaled frame has: a strip of any length keeps two pixels across, which
// every decoder and the 4:2:0 encoders take.
constexpr std::int64_t kMinFrameSide = 2;

Fixed clampFixed(std::int64_t v) { return Fixed(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX)); }

// Whole pixels as 16.16, within what a Fixed holds.
Fixed pixelsToFixed(std::int64_t pixels) { return IntToFixed(clamp16(pixels)); }

// The importer of the frame's picture: the still's bytes when one is given (a picture made for the
// movie, such as a raw's preview), shared with the importer as they lie, else the image file's.
OSErr openPicture(FSSpec& image, const media::Still* still, GraphicsImportComponent* importer) {
  if (still == nullptr) return GetGraphicsImporterForFile(&image, importer);
  *importer = nullptr;
  if (still->jpeg.empty()) return noDataHandler;
  if (still->owner != nullptr)
    return GetGraphicsImporterForBytes(still->owner, still->jpeg.data(), still->jpeg.size(), importer);
  // Bytes nothing keeps alive are copied into a block of the importer's own.
  Handle bytes = nullptr, dataRef = nullptr;
  OSErr err = PtrToHand(still->jpeg.data(), &bytes, long(still->jpeg.size()));
  if (err == noErr && bytes == nullptr) err = memFullErr;
  if (err == noErr) err = PtrToHand(&bytes, &dataRef, sizeof(Handle));
  if (err == noErr && dataRef == nullptr) err = memFullErr;
  if (err == noErr) err = GetGraphicsImporterForDataRef(dataRef, kGraphicsHandleDataRefType, importer);
  if (dataRef != nullptr) DisposeHandle(dataRef);
  if (bytes != nullptr) DisposeHandle(bytes);
  return err;
}
}  // namespace

int QuickTimeU::GetScaledDimension(FSSpec& image, short* width, short* height, short target,
                                   const media::Still* still) {
  *width = 0;
  *height = 0;
  GraphicsImportComponent importer = nullptr;
  OSErr err = openPicture(image, still, &importer);
  if (err != noErr) return err;
  Rect r{};
  err = GraphicsImportGetSourceRect(importer, &r);
  CloseComponent(importer);
  if (err != noErr) return err;
  std::int64_t naturalWidth = std::int64_t(r.right) - r.left;
  std::int64_t naturalHeight = std::int64_t(r.bottom) - r.top;
  if (naturalWidth <= 0 || naturalHeight <= 0) return invalidRect;
  if (target > 0) {
    *width = target;
    *height = std::max<SInt16>(kMinFrameSide, scaledDimension(naturalHeight, target, naturalWidth));
  } else {
    *width = clamp16(naturalWidth);
    *height = clamp16(naturalHeight);
  }
  return noErr;
}

OSErr QuickTimeU::AdjustImageInt(ComponentInstanceRecord* importer, unsigned short rotation, SDimension32 box,
                                 SCALE_TYPE scaleType) {
  Rect r{};
  GraphicsImportGetSourceRect(importer, &r);
  std::int64_t A = clamp16(box.width), B = clamp16(box.height), X = r.right, Y = r.bottom;
  bool quarterTurn = rotation == 90 || rotation == 270;
  if (quarterTurn) {
    std::swap(A, B);
    std::swap(X, Y);
  }
  bool fitWidth = scaleType == SCALE_FIT_WIDTH || (scaleType != SCALE_FIT_HEIGHT && Y < X);
  std::int64_t num = fitWidth ? A : B;
  std::int64_t den = fitWidth ? X : Y;
  if (den == 0) return invalidRect;  // an empty source cannot be fitted; the matrix stays

  std::int64_t SX = scaledDimension(X, num, den), SY = scaledDimension(Y, num, den);
  // A side the common scale would make thinner than a frame's least is stretched to it alone
  // (a 4000 by 3 strip becomes 600 by 2, not 600 by nothing).
  std::int64_t numX = num, denX = den, numY = num, denY = den;
  if (SX < kMinFrameSide && X > 0 && A >= kMinFrameSide) numX = SX = kMinFrameSide, denX = X;
  if (SY < kMinFrameSide && Y > 0 && B >= kMinFrameSide) numY = SY = kMinFrameSide, denY = Y;
  std::int64_t OX = (A - SX) / 2, OY = (B - SY) / 2;

  MatrixRecord m{};
  GraphicsImportGetMatrix(importer, &m);
  const Fixed a = m.matrix[0][0], b = m.matrix[0][1], c = m.matrix[1][0], d = m.matrix[1][1];
  // a and d scale the source's own axes, which a quarter turn swapped above.
  const Fixed aS = quarterTurn ? clampFixed(numY * a / denY) : clampFixed(numX * a / denX);
  const Fixed dS = quarterTurn ? clampFixed(numX * d / denX) : clampFixed(numY * d / denY);
  Fixed na, nb, nc, nd;
  std::int64_t tx, ty;
  switch (rotation) {
    case 90: na = b, nb = clampFixed(-std::int64_t(aS)), nc = dS, nd = c, tx = OX, ty = OY + SY; break;
    case 180: na = clampFixed(-std::int64_t(aS)), nb = b, nc = c, nd = clampFixed(-std::int64_t(dS)), tx = SX + OX, ty = OY + SY; break;
    case 270: na = b, nb = aS, nc = clampFixed(-std::int64_t(dS)), nd = c, tx = SX + OX, ty = OY; break;
    default: na = aS, nb = b, nc = c, nd = dS, tx = OX, ty = OY; break;
  }
  m.matrix[0][0] = na;
  m.matrix[0][1] = nb;
  m.matrix[1][0] = nc;
  m.matrix[1][1] = nd;
  m.matrix[2][0] = pixelsToFixed(tx);
  m.matrix[2][1] = pixelsToFixed(ty);
  GraphicsImportSetMatrix(importer, &m);
  return GraphicsImportGetSourceRect(importer, &r);
}

namespace {
// What the scaled copy on disk and the one in memory share: the photograph fitted into the box
// that the track's size gives, and exported at high quality to wherever setOutput points the
// exporter. The export's result, or why the photograph could not be opened.
template <typename SetOutput>
OSErr exportScaled(FSSpec& source, const media::Still* still, short width, short height, SetOutput setOutput) {
  GraphicsExportComponent exporter = nullptr;
  GraphicsImportComponent importer = nullptr;
  OSErr openErr = OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypeJPEG, &exporter);
  OSErr importErr = openPicture(source, still, &importer);

  Rect bounds{};
  GraphicsImportGetNaturalBounds(importer, &bounds);
  std::int64_t naturalWidth = std::int64_t(bounds.right) - bounds.left;
  std::int64_t naturalHeight = std::int64_t(bounds.bottom) - bounds.top;
  SDimension32 box = naturalWidth < naturalHeight ? SDimension32{height, width} : SDimension32{width, height};
  if (naturalHeight < box.height && naturalWidth < box.width)
    box = SDimension32{SInt32(naturalWidth), SInt32(naturalHeight)};
  box = SDimension32{std::max<SInt32>(box.width, kMinFrameSide), std::max<SInt32>(box.height, kMinFrameSide)};
  QuickTimeU::AdjustImageInt(importer, 0, box, SCALE_AUTO);

  OSErr err = importErr != noErr ? importErr : openErr != noErr ? openErr : setOutput(exporter);
  GraphicsExportSetInputGraphicsImporter(exporter, importer);
  GraphicsExportSetCompressionQuality(exporter, CodecQ(codecHighQuality));
  unsigned long written = 0;
  if (err == noErr) err = GraphicsExportDoExport(exporter, &written);

  if (exporter) CloseComponent(exporter);
  if (importer) CloseComponent(importer);
  return err;
}
}  // namespace

bool QuickTimeU::CreateScaledImageFile(FSSpec& source, FSSpec& destination, short width, short height) {
  // A fresh, exclusively created name: a file of the user's called "TempFile.jpg" is never
  // written over. Without one, the destination names nothing (folder ID 0), so the reads
  // and the deletion that follow touch no file.
  if (FSpCreateTemporary(&source, "TempFile.jpg", &destination) != noErr) {
    std::memset(&destination, 0, sizeof destination);
    static const char kName[] = "TempFile.jpg";
    destination.name[0] = sizeof kName - 1;
    std::memcpy(destination.name + 1, kName, sizeof kName - 1);
    return true;
  }
  exportScaled(source, nullptr, width, height,
               [&](GraphicsExportComponent exporter) { return GraphicsExportSetOutputFile(exporter, &destination); });
  return true;
}

OSErr QuickTimeU::CreateScaledImage(FSSpec& source, short width, short height, char** data,
                                    ImageDescriptionHandle* desc, const media::Still* still) {
  if (data == nullptr || desc == nullptr) return paramErr;
  *data = nullptr;
  *desc = nullptr;
  Handle encoded = NewHandle(0);
  if (encoded == nullptr) return MemError() != noErr ? MemError() : memFullErr;
  OSErr err = exportScaled(source, still, width, height, [&](GraphicsExportComponent exporter) {
    return GraphicsExportSetOutputHandle(exporter, encoded);
  });
  if (err == noErr) {
    // Described by the importer, as the copy on disk would be; the data is a block of its own.
    const Size size = GetHandleSize(encoded);
    *desc = GetImageDescForImage(*encoded, (unsigned long)size);
    *data = *desc != nullptr ? NewPtr(size) : nullptr;
    if (*data != nullptr) {
      std::memcpy(*data, *encoded, std::size_t(size));
    } else {
      err = *desc == nullptr ? codecBadDataErr : memFullErr;
      if (*desc != nullptr) DisposeHandle(reinterpret_cast<Handle>(*desc));
      *desc = nullptr;
    }
  }
  DisposeHandle(encoded);
  return err;
}

char* QuickTimeU::GetImageDataFromFile(FSSpec& image, const media::Still* still) {
  GraphicsImportComponent importer = nullptr;
  if (openPicture(image, still, &importer) != noErr) return nullptr;
  unsigned long offset = 0, size = 0;
  if (GraphicsImportGetDataOffsetAndSize(importer, &offset, &size) != noErr) {
    CloseComponent(importer);
    return nullptr;
  }
  // The image's bytes are the importer's (for the photograph, the very bytes the conversion
  // read): shared, not copied, they live on in the block after the importer is closed.
  Ptr data = nullptr;
  if (GraphicsImportShareData(importer, offset, size, &data) != noErr) data = nullptr;
  CloseComponent(importer);
  return data;
}

ImageDescriptionHandle QuickTimeU::GetImageDescFromFile(FSSpec& image, const media::Still* still) {
  GraphicsImportComponent importer = nullptr;
  if (openPicture(image, still, &importer) != noErr) return nullptr;
  ImageDescriptionHandle desc = nullptr;
  GraphicsImportGetImageDescription(importer, &desc);
  CloseComponent(importer);
  return desc;
}

ImageDescriptionHandle QuickTimeU::GetImageDescForImage(char* data, unsigned long length) {
  ImageDescriptionHandle desc = nullptr;
  Handle dataH = nullptr, dataRef = nullptr;
  if (PtrToHand(data, &dataH, long(length)) == noErr && MemError() == noErr &&
      PtrToHand(&dataH, &dataRef, sizeof(Handle)) == noErr && MemError() == noErr) {
    GraphicsImportComponent importer = nullptr;
    if (GetGraphicsImporterForDataRef(dataRef, kGraphicsHandleDataRefType, &importer) == noErr) {
      GraphicsImportGetImageDescription(importer, &desc);
      CloseComponent(importer);
    }
  }
  if (dataRef) DisposeHandle(dataRef);
  if (dataH) DisposeHandle(dataH);
  return desc;
}
