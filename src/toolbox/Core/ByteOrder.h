// SPDX-License-Identifier: GPL-2.0-or-later
// Numbers in stored byte order, as the platform layer and the parts above it read and write
// them (Finder information, alias records, TIFF entries): the media layer's helpers, by name.
#pragma once
#include "media/ByteOrder.h"

using media::BigEndianBytes;
using media::ReadBigEndian16;
using media::ReadBigEndian32;
using media::ReadBigEndian64;
using media::ReadLittleEndian16;
using media::ReadLittleEndian32;
using media::ReadLittleEndian64;
using media::WriteBigEndian16;
using media::WriteBigEndian32;
using media::WriteBigEndian64;
using media::WriteLittleEndian16;
using media::WriteLittleEndian32;
using media::WriteLittleEndian64;
