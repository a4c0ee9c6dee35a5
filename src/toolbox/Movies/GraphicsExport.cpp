// SPDX-License-Identifier: GPL-2.0-or-later
// The graphics exporter calls: drawing the input importer's picture through its matrix and
// saving the encoded result over the output file in one step, or into the output handle.
#include <algorithm>
#include <cstring>
#include <string>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Files/SafeSave.h"
#include "toolbox/Movies/GraphicsComponents.h"
#include "toolbox/Movies/GraphicsImport.h"
#include "media/ImageResample.h"

namespace {
constexpr std::int64_t kMaxExportPixels = std::int64_t(256) << 20;
constexpr int kMaxExportSide = 65500;  // what a JPEG frame header can hold

// 16.16 to the nearest whole pixel.
std::int64_t roundFixed(std::int64_t v) { return (v + 0x8000) >> 16; }

GraphicsExporterComponent* exporterOf(GraphicsExportComponent ci) {
  return dynamic_cast<GraphicsExporterComponent*>(ci);
}

}  // namespace

OSErr DrawThroughMatrix(const GraphicsImporterComponent& importer, media::PixelImage* out) {
  const Rect& src = importer.sourceRect;
  const Fixed(&m)[3][3] = importer.matrix.matrix;
  const std::int64_t a = m[0][0], b = m[0][1], c = m[1][0], d = m[1][1], tx = m[2][0], ty = m[2][1];
  if (m[0][2] != 0 || m[1][2] != 0) return codecUnimpErr;  // perspective
  bool upright = b == 0 && c == 0 && a != 0 && d != 0;
  bool turned = a == 0 && d == 0 && b != 0 && c != 0;
  if (!upright && !turned) return codecUnimpErr;

  // The size comes from the exact extent, so a turned picture has the same size either way.
  std::int64_t minX = INT64_MAX, maxX = INT64_MIN, minY = INT64_MAX, maxY = INT64_MIN;
  for (std::int64_t x : {std::int64_t(src.left), std::int64_t(src.right)}) {
    for (std::int64_t y : {std::int64_t(src.top), std::int64_t(src.bottom)}) {
      std::int64_t px = a * x + c * y + tx, py = b * x + d * y + ty;
      minX = std::min(minX, px), maxX = std::max(maxX, px);
      minY = std::min(minY, py), maxY = std::max(maxY, py);
    }
  }
  std::int64_t width = roundFixed(maxX - minX), height = roundFixed(maxY - minY);
  if (width <= 0 || height <= 0) return invalidRect;
  if (width > kMaxExportSide || height > kMaxExportSide || width * height > kMaxExportPixels) return memFullErr;

  // Draw upright at the size the picture has before its quarter turn, then turn it.
  int drawW = int(turned ? height : width), drawH = int(turned ? width : height);
  media::PixelImage drawn;
  OSErr err = importer.drawRegion(src, drawW, drawH, &drawn);
  if (err != noErr) return err;
  bool flipX = upright ? a < 0 : b < 0;
  bool flipY = upright ? d < 0 : c < 0;
  if (turned || flipX || flipY) media::OrientImage(drawn, turned, flipX, flipY, out);
  else *out = std::move(drawn);
  return noErr;
}

OSErr GraphicsExportSetOutputFile(GraphicsExportComponent ci, const FSSpec* theFile) {
  GraphicsExporterComponent* exporter = exporterOf(ci);
  if (exporter == nullptr) return ci ? badComponentType : paramErr;
  if (theFile == nullptr) return paramErr;
  exporter->output = *theFile;
  exporter->haveOutput = true;
  exporter->outputHandle = nullptr;
  return noErr;
}

OSErr GraphicsExportSetOutputHandle(GraphicsExportComponent ci, Handle h) {
  GraphicsExporterComponent* exporter = exporterOf(ci);
  if (exporter == nullptr) return ci ? badComponentType : paramErr;
  if (h == nullptr) return nilHandleErr;
  exporter->outputHandle = h;
  exporter->haveOutput = true;
  return noErr;
}

OSErr GraphicsExportSetInputGraphicsImporter(GraphicsExportComponent ci, GraphicsImportComponent grip) {
  GraphicsExporterComponent* exporter = exporterOf(ci);
  if (exporter == nullptr) return ci ? badComponentType : paramErr;
  if (grip != nullptr && dynamic_cast<GraphicsImporterComponent*>(grip) == nullptr) return badComponentType;
  exporter->input = grip;
  return noErr;
}

OSErr GraphicsExportSetCompressionQuality(GraphicsExportComponent ci, CodecQ spatialQuality) {
  GraphicsExporterComponent* exporter = exporterOf(ci);
  if (exporter == nullptr) return ci ? badComponentType : paramErr;
  exporter->quality = std::min(spatialQuality, codecLosslessQuality);
  return noErr;
}

OSErr GraphicsExportDoExport(GraphicsExportComponent ci, unsigned long* actualSizeWritten) {
  if (actualSizeWritten) *actualSizeWritten = 0;
  GraphicsExporterComponent* exporter = exporterOf(ci);
  if (exporter == nullptr) return ci ? badComponentType : paramErr;
  if (!exporter->haveOutput) return paramErr;
  auto* importer = dynamic_cast<GraphicsImporterComponent*>(exporter->input);
  if (importer == nullptr) return paramErr;
  if (!importer->hasImage()) return noDataHandler;
  media::PixelImage picture;
  OSErr err = DrawThroughMatrix(*importer, &picture);
  if (err != noErr) return err;
  std::vector<std::uint8_t> encoded;
  err = exporter->encode(picture, &encoded);
  if (err != noErr) return err;
  if (exporter->outputHandle != nullptr) {
    SetHandleSize(exporter->outputHandle, Size(encoded.size()));
    err = MemError();
    if (err == noErr && !encoded.empty()) std::memcpy(*exporter->outputHandle, encoded.data(), encoded.size());
  } else {
    err = FSpSaveBytes(&exporter->output, encoded.data(), encoded.size(), true);
  }
  if (err == noErr && actualSizeWritten) *actualSizeWritten = encoded.size();
  return err;
}
