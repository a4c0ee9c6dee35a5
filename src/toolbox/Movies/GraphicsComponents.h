// SPDX-License-Identifier: GPL-2.0-or-later
// What every graphics importer and exporter component shares, so the calls can dispatch to
// the format's own code. Internal to the toolbox.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "toolbox/Files/FileContents.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Movies/Components.h"
#include "toolbox/Movies/ImageCompression.h"
#include "media/PixelImage.h"

class GraphicsImporterComponent : public ComponentInstanceRecord {
 public:
  GraphicsImporterComponent();
  // Takes one image's bytes, kept alive by owner and shared rather than copied, and reads
  // their structure; resets source rectangle and matrix.
  OSErr setData(std::shared_ptr<const void> owner, const std::uint8_t* bytes, std::size_t size);
  bool hasImage() const { return hasImage_; }
  std::span<const std::uint8_t> bytes() const { return {bytes_, size_}; }
  // What keeps bytes() alive, for whoever shares them beyond the importer's life.
  const std::shared_ptr<const void>& bytesOwner() const { return owner_; }
  // The file contents bytes() are the held start of, when parts of it were left unread (zeros in
  // bytes() until its fillGaps reads them); nullptr otherwise. Kept alive by bytesOwner().
  const FSFileContents* gappedFile = nullptr;

  Rect naturalBounds{};
  Rect sourceRect{};
  MatrixRecord matrix{};

  virtual OSErr dataRange(unsigned long* offset, unsigned long* size) const = 0;
  virtual OSErr imageDescription(ImageDescriptionHandle* desc) const = 0;
  // The part src (in natural-bounds coordinates) drawn upright at exactly width by height.
  virtual OSErr drawRegion(const Rect& src, int width, int height, media::PixelImage* out) const = 0;

 protected:
  // Reads the format's structure from bytes(); fills naturalBounds.
  virtual OSErr parse() = 0;

 private:
  std::shared_ptr<const void> owner_;
  const std::uint8_t* bytes_ = nullptr;
  std::size_t size_ = 0;
  bool hasImage_ = false;
};

class GraphicsExporterComponent : public ComponentInstanceRecord {
 public:
  // Where the export goes: a file, or a handle (the caller's) that takes the bytes in memory.
  FSSpec output{};
  bool haveOutput = false;
  Handle outputHandle = nullptr;
  ComponentInstance input = nullptr;
  CodecQ quality = CodecQ(codecNormalQuality);

  // Encodes the drawn picture into bytes.
  virtual OSErr encode(const media::PixelImage& picture, std::vector<std::uint8_t>* bytes) const = 0;
};

// The libjpeg quality that the JPEG exporter uses for a platform quality (0x300 gives 90).
int JpegQualityFor(CodecQ q);

// The importer's picture drawn through its matrix, moved to the origin.
OSErr DrawThroughMatrix(const GraphicsImporterComponent& importer, media::PixelImage* out);
