// SPDX-License-Identifier: GPL-2.0-or-later
// The image description that travels with a compressed image into a movie's video media.
// Field order and widths follow the 'jpeg' sample description of a QuickTime movie.
#pragma once
#include "toolbox/Core/MacTypes.h"

using CodecType = OSType;
constexpr CodecType kJPEGCodecType = FOUR_CHAR_CODE("jpeg");
constexpr SInt32 codecNormalQuality = 0x200;
constexpr SInt32 codecHighQuality = 0x300;
constexpr SInt32 codecMaxQuality = 0x3FF;

struct ImageDescription {
  SInt32 idSize;          // size of this record in bytes
  CodecType cType;
  SInt32 resvd1;
  SInt16 resvd2;
  SInt16 dataRefIndex;
  SInt16 version;
  SInt16 revisionLevel;
  SInt32 vendor;
  SInt32 temporalQuality;
  SInt32 spatialQuality;
  SInt16 width;
  SInt16 height;
  Fixed hRes;
  Fixed vRes;
  SInt32 dataSize;        // bytes of compressed data this description describes
  SInt16 frameCount;
  Str31 name;             // compressor name, a Pascal string
  SInt16 depth;           // 24 for colour, 40 for 8-bit grey
  SInt16 clutID;          // -1: no colour table
};
using ImageDescriptionPtr = ImageDescription*;
using ImageDescriptionHandle = ImageDescription**;

// Compression quality, from least to lossless; exporters map it to their codec's own scale.
using CodecQ = UInt32;
constexpr CodecQ codecMinQuality = 0x000;
constexpr CodecQ codecLowQuality = 0x100;
constexpr CodecQ codecLosslessQuality = 0x400;
