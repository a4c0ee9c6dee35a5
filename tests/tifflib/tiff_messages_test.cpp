// SPDX-License-Identifier: GPL-2.0-or-later
// The TIFF library's messages: silent from start-up, printed as "module: text" when asked.
#include <gtest/gtest.h>
#include <tiffio.h>

#include "ImageAudio/Tifflib/XTiffMessages.h"

TEST(TiffMessages, SilentUntilAskedThenPrintedWithTheirModule) {
  // No call of ours has run yet in this process.
  testing::internal::CaptureStderr();
  TIFFErrorExt(nullptr, "APP1", "Cannot read TIFF header");
  TIFFWarningExt(nullptr, "APP1", "unknown field");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  XTIFFShowMessages(true);
  testing::internal::CaptureStderr();
  TIFFErrorExt(nullptr, "APP1", "Cannot read TIFF header");
  TIFFWarningExt(nullptr, "APP1", "tag %d ignored", 7);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "APP1: Cannot read TIFF header\nAPP1: Warning, tag 7 ignored\n");

  XTIFFShowMessages(false);
  testing::internal::CaptureStderr();
  TIFFErrorExt(nullptr, "APP1", "again");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
