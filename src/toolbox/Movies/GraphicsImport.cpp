// SPDX-License-Identifier: GPL-2.0-or-later
// The graphics importer calls: finding the importer for an image's content, giving it the
// bytes, and the geometry, data range and description questions.
#include "toolbox/Movies/GraphicsImport.h"

#include <climits>
#include <cstring>
#include <span>
#include <string>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Files/FileContents.h"
#include "toolbox/Movies/GraphicsComponents.h"
#include "media/JpegStructure.h"

namespace {
struct FormatRow {
  bool (*recognises)(const std::uint8_t* data, std::size_t size);
  OSType subType;
};
const FormatRow kFormats[] = {
    {&media::LooksLikeJpeg, kQTFileTypeJPEG},
};

// Images are held in memory while an importer is open (up to the file manager's limit for whole
// reads); only a regular file is read, without waiting on a FIFO or device under the name. A
// file whose bytes a conversion already holds is not read again: the importer shares them.
OSErr readWholeFile(const FSSpec* spec, FSContentsRef* contents) {
  if (spec == nullptr) return paramErr;
  return FSpReadFileContents(spec, contents);
}

OSErr bytesOfDataRef(Handle dataRef, std::vector<std::uint8_t>* bytes) {
  if (dataRef == nullptr || *dataRef == nullptr) return invalidDataRef;
  if (std::size_t(GetHandleSize(dataRef)) < sizeof(Handle)) return invalidDataRef;
  Handle data;
  std::memcpy(&data, *dataRef, sizeof data);
  if (data == nullptr || *data == nullptr) return invalidDataRef;
  Size n = GetHandleSize(data);
  bytes->assign(reinterpret_cast<const std::uint8_t*>(*data), reinterpret_cast<const std::uint8_t*>(*data) + n);
  return noErr;
}

OSErr openImporterFor(std::shared_ptr<const void> owner, const std::uint8_t* bytes, std::size_t size,
                      GraphicsImportComponent* gi) {
  for (const FormatRow& row : kFormats) {
    if (!row.recognises(bytes, size)) continue;
    ComponentInstance ci = nullptr;
    OSErr err = OpenADefaultComponent(GraphicsImporterComponentType, row.subType, &ci);
    if (err != noErr) return err;
    auto* importer = dynamic_cast<GraphicsImporterComponent*>(ci);
    err = importer ? importer->setData(std::move(owner), bytes, size) : cantOpenHandler;
    if (err != noErr) {
      CloseComponent(ci);
      return err;
    }
    *gi = ci;
    return noErr;
  }
  return cantFindHandler;
}

// The importer behind ci, answering badComponentType for anything else and noDataHandler
// (no image yet) for one that was opened but never given data.
OSErr importerOf(GraphicsImportComponent ci, GraphicsImporterComponent** out) {
  if (ci == nullptr) return paramErr;
  auto* importer = dynamic_cast<GraphicsImporterComponent*>(ci);
  if (importer == nullptr) return badComponentType;
  if (!importer->hasImage()) return noDataHandler;
  *out = importer;
  return noErr;
}
}  // namespace

GraphicsImporterComponent::GraphicsImporterComponent() { SetIdentityMatrix(&matrix); }

OSErr GraphicsImporterComponent::setData(std::shared_ptr<const void> owner, const std::uint8_t* bytes,
                                         std::size_t size) {
  owner_ = std::move(owner);
  bytes_ = bytes;
  size_ = size;
  hasImage_ = false;
  naturalBounds = Rect{};
  OSErr err = parse();
  if (err != noErr) {
    owner_.reset();
    bytes_ = nullptr;
    size_ = 0;
    naturalBounds = Rect{};
  }
  sourceRect = naturalBounds;
  SetIdentityMatrix(&matrix);
  hasImage_ = err == noErr;
  return err;
}

namespace {
OSErr openImporterForContents(FSContentsRef contents, GraphicsImportComponent* gi) {
  const std::uint8_t* bytes = contents->data();
  std::size_t size = contents->size();
  const FSFileContents* gapped = contents->gaps().empty() ? nullptr : contents.get();
  const OSErr err = openImporterFor(std::move(contents), bytes, size, gi);
  if (err == noErr) dynamic_cast<GraphicsImporterComponent*>(*gi)->gappedFile = gapped;
  return err;
}

}  // namespace

OSErr GetGraphicsImporterForFile(const FSSpec* theFile, GraphicsImportComponent* gi) {
  if (gi == nullptr) return paramErr;
  *gi = nullptr;
  FSContentsRef contents;
  OSErr err = readWholeFile(theFile, &contents);
  if (err != noErr) return err;
  return openImporterForContents(std::move(contents), gi);
}

OSErr GetGraphicsImporterForDataRef(Handle dataRef, OSType dataRefType, GraphicsImportComponent* gi) {
  if (gi == nullptr) return paramErr;
  *gi = nullptr;
  if (dataRefType != kGraphicsHandleDataRefType) return noDataHandler;
  std::vector<std::uint8_t> bytes;
  OSErr err = bytesOfDataRef(dataRef, &bytes);
  if (err != noErr) return err;
  auto owned = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
  return openImporterFor(owned, owned->data(), owned->size(), gi);
}

OSErr GetGraphicsImporterForBytes(std::shared_ptr<const void> owner, const std::uint8_t* bytes, std::size_t size,
                                  GraphicsImportComponent* gi) {
  if (gi == nullptr) return paramErr;
  *gi = nullptr;
  if (owner == nullptr || bytes == nullptr) return invalidDataRef;
  return openImporterFor(std::move(owner), bytes, size, gi);
}

OSErr GraphicsImportGetNaturalBounds(GraphicsImportComponent ci, Rect* naturalBounds) {
  GraphicsImporterComponent* importer = nullptr;
  OSErr err = importerOf(ci, &importer);
  if (err == noErr && naturalBounds == nullptr) err = paramErr;
  if (err == noErr) *naturalBounds = importer->naturalBounds;
  return err;
}

OSErr GraphicsImportGetSourceRect(GraphicsImportComponent ci, Rect* sourceRect) {
  GraphicsImporterComponent* importer = nullptr;
  OSErr err = importerOf(ci, &importer);
  if (err == noErr && sourceRect == nullptr) err = paramErr;
  if (err == noErr) *sourceRect = importer->sourceRect;
  return err;
}

OSErr GraphicsImportSetSourceRect(GraphicsImportComponent ci, const Rect* sourceRect) {
  GraphicsImporterComponent* importer = nullptr;
  OSErr err = importerOf(ci, &importer);
  if (err != noErr) return err;
  if (sourceRect == nullptr) return paramErr;
  const Rect& b = importer->naturalBounds;
  const Rect& r = *sourceRect;
  if (r.left < b.left || r.top < b.top || r.right > b.right || r.bottom > b.bottom || r.right <= r.left ||
      r.bottom <= r.top)
    return paramErr;
  importer->sourceRect = r;
  return noErr;
}

OSErr GraphicsImportGetMatrix(GraphicsImportComponent ci, MatrixRecord* matrix) {
  GraphicsImporterComponent* importer = nullptr;
  OSErr err = importerOf(ci, &importer);
  if (err == noErr && matrix == nullptr) err = paramErr;
  if (err == noErr) *matrix = importer->matrix;
  return err;
}

OSErr GraphicsImportSetMatrix(GraphicsImportComponent ci, const MatrixRecord* matrix) {
  GraphicsImporterComponent* importer = nullptr;
  OSErr err = importerOf(ci, &importer);
  if (err != noErr) return err;
  if (matrix == nullptr) SetIdentityMatrix(&importer->matrix);  // as the platform does for nil
  else importer->matrix = *matrix;
  return noErr;
}

OSErr GraphicsImportGetDataOffsetAndSize(GraphicsImportComponent ci, unsigned long* offset, unsigned long* size) {
  GraphicsImporterComponent* importer = nullptr;
  OSErr err = importerOf(ci, &importer);
  if (err != noErr) return err;
  if (offset == nullptr || size == nullptr) return paramErr;
  return importer->dataRange(offset, size);
}

OSErr GraphicsImportReadData(GraphicsImportComponent ci, void* dataPtr, unsigned long dataOffset,
                             unsigned long dataSize) {
  GraphicsImporterComponent* importer = nullptr;
  OSErr err = importerOf(ci, &importer);
  if (err != noErr) return err;
  if (dataPtr == nullptr && dataSize > 0) return paramErr;
  std::span<const std::uint8_t> bytes = importer->bytes();
  if (dataOffset > bytes.size() || dataSize > bytes.size() - dataOffset) return eofErr;
  if (dataSize == 0) return noErr;
  if (importer->gappedFile && !importer->gappedFile->fillGaps()) return ioErr;
  std::memcpy(dataPtr, bytes.data() + dataOffset, dataSize);
  return noErr;
}

OSErr GraphicsImportShareData(GraphicsImportComponent ci, unsigned long dataOffset, unsigned long dataSize,
                              Ptr* data) {
  if (data) *data = nullptr;
  GraphicsImporterComponent* importer = nullptr;
  OSErr err = importerOf(ci, &importer);
  if (err != noErr) return err;
  if (data == nullptr || dataSize == 0 || dataSize > static_cast<unsigned long>(LONG_MAX)) return paramErr;
  std::span<const std::uint8_t> bytes = importer->bytes();
  if (dataOffset > bytes.size() || dataSize > bytes.size() - dataOffset) return eofErr;
  // The image data is shared whole, so the gaps left in its held bytes are read in first.
  if (importer->gappedFile && !importer->gappedFile->fillGaps()) return ioErr;
  *data = NewPtrSharing(importer->bytesOwner(), bytes.data() + dataOffset, Size(dataSize));
  return *data ? noErr : MemError();
}

OSErr GraphicsImportGetImageDescription(GraphicsImportComponent ci, ImageDescriptionHandle* desc) {
  GraphicsImporterComponent* importer = nullptr;
  if (desc) *desc = nullptr;
  OSErr err = importerOf(ci, &importer);
  if (err != noErr) return err;
  if (desc == nullptr) return paramErr;
  return importer->imageDescription(desc);
}
