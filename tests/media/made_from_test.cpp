// The record a movie keeps of what it was made from: read back exactly as written whatever the
// file names hold, and nothing taken from text that is no such record.
#include <gtest/gtest.h>

#include <string>

#include "media/MadeFrom.h"

using media::DecodeMadeFrom;
using media::EncodeMadeFrom;
using media::MadeFrom;

TEST(MadeFromRecord, ReadsBackWhatWasWrittenWhateverTheNamesHold) {
  MadeFrom sidecar;
  sidecar.photograph = "IMG_0001.JPG";
  sidecar.photographStamp = media::StampDigest({123456, 1700000000123456789, 1700000001987654321});
  sidecar.recording = "IMG_0001.WAV";
  sidecar.recordingStamp = media::StampDigest({44, -5, 0});
  sidecar.resize = 600;
  sidecar.metadata = true;
  MadeFrom oddNames;
  oddNames.photograph = std::string("a\nb%41=c\0d\r.jpg", 16);
  oddNames.photographStamp = media::StampDigest({});
  oddNames.recording = "%%\n";
  oddNames.recordingStamp = media::StampDigest({1, 0, 0});
  oddNames.format = "mp4";
  MadeFrom embedded;
  embedded.photograph = "x.jpeg";
  embedded.photographStamp = media::StampDigest({7, 8, 9});
  for (const MadeFrom& r : {sidecar, oddNames, embedded}) {
    SCOPED_TRACE(r.photograph);
    const std::string text = EncodeMadeFrom(r);
    const std::optional<MadeFrom> back = DecodeMadeFrom(text);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(*back, r);
  }
}

TEST(MadeFromRecord, TextThatIsNoWholeRecordGivesNone) {
  MadeFrom r;
  r.photograph = "a.jpg";
  r.photographStamp = media::StampDigest({1, 2, 3});
  r.recording = "a.wav";
  r.recordingStamp = media::StampDigest({4, 5, 6});
  const std::string text = EncodeMadeFrom(r);
  // Every cut of the record short of its end is refused, as are other texts and bad fields.
  for (std::size_t n = 0; n < text.size(); ++n) EXPECT_FALSE(DecodeMadeFrom(text.substr(0, n))) << n;
  const std::string bad[] = {
      "still2mov 0.1.0",
      "still2mov made-from 1\n",
      "still2mov made-from 1\nphotograph=a.jpg\nphotograph-stamp=0123456789abcde\nformat=mov\nresize=0\nmetadata=0\n",
      "still2mov made-from 1\nphotograph=a.jpg\nphotograph-stamp=0123456789abcdeX\nformat=mov\nresize=0\nmetadata=0\n",
      "still2mov made-from 1\nphotograph=a%4\nphotograph-stamp=0123456789abcdef\nformat=mov\nresize=0\nmetadata=0\n",
      "still2mov made-from 1\nphotograph=\nphotograph-stamp=0123456789abcdef\nformat=mov\nresize=0\nmetadata=0\n",
      "still2mov made-from 1\nphotograph=a.jpg\nphotograph-stamp=0123456789abcdef\nformat=mov\nresize=0\nmetadata=2\n",
      // a recording without its stamp cannot be checked
      "still2mov made-from 1\nphotograph=a.jpg\nphotograph-stamp=0123456789abcdef\nrecording=a.wav\nformat=mov\n"
      "resize=0\nmetadata=0\n",
  };
  for (const std::string& t : bad) EXPECT_FALSE(DecodeMadeFrom(t)) << t;
  // A field a later release adds does not make the record unreadable.
  EXPECT_TRUE(DecodeMadeFrom(text + "later=1\n"));
}

TEST(MadeFromRecord, TheStampsDigestTellsEveryPartButNotTheTimes) {
  const media::FileStamp stamp{1000, 1700000000123456789, 1700000000223456789};
  const std::string digest = media::StampDigest(stamp);
  EXPECT_EQ(digest.size(), 16u);
  EXPECT_EQ(digest.find("1700000000"), std::string::npos);
  for (const media::FileStamp& other : {media::FileStamp{1001, stamp.modifiedNs, stamp.changedNs},
                                        media::FileStamp{1000, stamp.modifiedNs + 1, stamp.changedNs},
                                        media::FileStamp{1000, stamp.modifiedNs, stamp.changedNs + 1}})
    EXPECT_NE(media::StampDigest(other), digest);
  EXPECT_EQ(media::StampDigest(stamp), digest);
}
