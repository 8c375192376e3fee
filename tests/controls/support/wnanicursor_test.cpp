#include "controls/support/wngraphics/wnanicursor.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/application.h"
#include "tests/controls/support/wnicontestdata.h"

using namespace wn;
using namespace wntest;

namespace {

// The "anih" chunk: nine 32-bit values.
TBytes Anih(std::uint32_t Frames, std::uint32_t Steps, std::uint32_t Rate, std::uint32_t Flags,
            std::uint32_t Size = 36) {
  TBytes d;
  Put32(d, Size);    // header size
  Put32(d, Frames);  // frames
  Put32(d, Steps);   // steps
  Put32(d, 0);       // width (0: from the images)
  Put32(d, 0);       // height
  Put32(d, 0);       // bit count
  Put32(d, 0);       // planes
  Put32(d, Rate);    // default rate, 1/60 s
  Put32(d, Flags);   // 1: frames are icon resources
  d.resize(Size);  // a shorter chunk cuts the values, a longer one adds zeros
  return Chunk("anih", d);
}

TBytes Values(std::initializer_list<std::uint32_t> values) {
  TBytes d;
  for (auto v : values) Put32(d, v);
  return d;
}

TBytes Fram(const std::vector<TBytes>& icons) {
  TBytes d = Text("fram");  // list type
  for (const auto& i : icons) {
    const TBytes c = Chunk("icon", i);
    d.insert(d.end(), c.begin(), c.end());
  }
  return Chunk("LIST", d);
}

TBytes Riff(const TBytes& body) {
  TBytes file = Text("RIFF");
  Put32(file, static_cast<std::uint32_t>(body.size() + 4));  // form size
  PutId(file, "ACON");                                     // form type
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

void Load(TWnAnimatedCursorImage& image, const TBytes& bytes) {
  platform::TBytesStream s(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  image.LoadFromStream(s);
}

void ExpectReadError(const TBytes& bytes) {
  TWnAnimatedCursorImage image;
  try {
    Load(image, bytes);
    ADD_FAILURE() << "no error, " << image.FrameCount() << " frames";
  } catch (const platform::EStreamError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
}

// Two cursor frames at rate 10; rate chunk 5, 7; sequence 1, 0; title "Spin".
TBytes Sample() {
  const TBytes info = Concat({Text("INFO"), Chunk("INAM", Text("Spin")), Chunk("IART", Text("Ana"))});
  return Riff(Concat({Chunk("LIST", info), Anih(2, 2, 10, 1), Chunk("rate", Values({5, 7})),
                      Chunk("seq ", Values({1, 0})), Fram({MakeIcon(2, 1, 3), MakeIcon(2, 2, 0)})}));
}

}  // namespace

TEST(WnAniCursor, ReadsFramesRatesSequenceAndInfo) {
  TWnAnimatedCursorImage image;
  Load(image, Sample());
  ASSERT_EQ(image.FrameCount(), 2);
  EXPECT_STREQ(image.Title, "Spin");
  EXPECT_STREQ(image.Creator, "Ana");
  EXPECT_EQ(image.MaxColors, 16);
  EXPECT_EQ(image.Header().cSteps, 2u);
  // Frame 0 shows image 1 (hotspot 2, 0) for 5 jiffies; frame 1 image 0.
  EXPECT_EQ(image.Frame(0)->Index(), 1);
  EXPECT_EQ(image.Frame(0)->Jiffies, 5u);
  EXPECT_EQ(image.Frame(0)->HotSpot.X, 2);
  EXPECT_EQ(image.Frame(0)->HotSpot.Y, 0);
  EXPECT_EQ(image.Frame(1)->Jiffies, 7u);
  EXPECT_EQ(image.Frame(1)->HotSpot.X, 1);
  EXPECT_EQ(image.Frame(1)->HotSpot.Y, 3);
  EXPECT_FALSE(image.Frame(1)->IsIcon);
  EXPECT_EQ(std::memcmp(image.Frame(1)->ChunkHeader.ckID, "icon", 4), 0);
  EXPECT_EQ(image.Frame(1)->ChunkHeader.ckSize, MakeIcon().size());
  EXPECT_EQ(image.FrameIcon(0)->Width(), 4);
}

TEST(WnAniCursor, IconFramesTakeTheCentreAsHotspot) {
  TWnAnimatedCursorImage image;
  Load(image, Riff(Concat({Anih(1, 1, 3, 1), Fram({MakeIcon(1)})})));
  ASSERT_EQ(image.FrameCount(), 1);
  EXPECT_TRUE(image.Frame(0)->IsIcon);
  EXPECT_EQ(image.Frame(0)->HotSpot.X, 2);
  EXPECT_EQ(image.Frame(0)->HotSpot.Y, 2);
  EXPECT_EQ(image.Frame(0)->Jiffies, 3u);
}

TEST(WnAniCursor, MoreIconsThanAnnouncedAppendFrames) {
  TWnAnimatedCursorImage image;
  Load(image, Riff(Concat({Anih(1, 1, 4, 1), Fram({MakeIcon(), MakeIcon(), MakeIcon()})})));
  ASSERT_EQ(image.FrameCount(), 3);
  EXPECT_EQ(image.Frame(0)->Index(), 0);
  EXPECT_EQ(image.Frame(1)->Index(), -1);
  EXPECT_EQ(image.Frame(2)->Index(), -1);
  EXPECT_EQ(image.Frame(2)->Jiffies, 4u);
  EXPECT_EQ(image.Header().cSteps, 3u);
}

TEST(WnAniCursor, FramesWithoutIconAreDroppedAndStepsShrink) {
  TWnAnimatedCursorImage image;
  Load(image, Riff(Concat({Anih(3, 3, 4, 1), Fram({MakeIcon()})})));
  EXPECT_EQ(image.FrameCount(), 1);
  EXPECT_EQ(image.Header().cSteps, 1u);
}

TEST(WnAniCursor, SharedIndexGivesEachFrameItsOwnIcon) {
  TWnAnimatedCursorImage image;
  Load(image, Riff(Concat({Anih(1, 3, 4, 1), Chunk("seq ", Values({0, 0, 0})), Fram({MakeIcon()})})));
  ASSERT_EQ(image.FrameCount(), 3);
  EXPECT_NE(image.FrameIcon(0), image.FrameIcon(1));
  EXPECT_NE(image.FrameIcon(1), image.FrameIcon(2));
  EXPECT_EQ(image.FrameIcon(2)->Data(), MakeIcon());
}

TEST(WnAniCursor, LongTitleKeeps255Bytes) {
  const std::string title(300, 'T');
  const TBytes info = Concat({Text("INFO"), Chunk("INAM", Text(title))});
  TWnAnimatedCursorImage image;
  Load(image, Riff(Concat({Chunk("LIST", info), Anih(1, 1, 1, 1), Fram({MakeIcon()})})));
  EXPECT_EQ(std::string(image.Title), title.substr(0, 255));
}

TEST(WnAniCursor, BadFilesRaiseReadError) {
  ExpectReadError(Riff(Concat({Anih(1, 1, 1, 0), Fram({MakeIcon()})})));  // flags without bit 0
  ExpectReadError(Riff(Concat({Anih(1, 0, 1, 1), Fram({MakeIcon()})})));  // no steps
  ExpectReadError(Riff(Concat({Anih(1, 1, 1, 1, 20), Fram({MakeIcon()})})));  // header too short
  ExpectReadError(Riff(Anih(1, 1, 1, 1)));                                   // no frames
  TBytes wrongForm = Sample();
  std::memcpy(wrongForm.data() + 8, "AVI ", 4);
  ExpectReadError(wrongForm);
  ExpectReadError(TBytes(wrongForm.begin(), wrongForm.begin() + 10));
  TBytes cursorData = MakeIcon(2);
  cursorData[2] = 5;  // resource type 5: no icon, so no frame
  ExpectReadError(Riff(Concat({Anih(1, 1, 1, 1), Fram({cursorData})})));
}

TEST(WnAniCursor, LongerHeaderIsSkipped) {
  TWnAnimatedCursorImage image;
  Load(image, Riff(Concat({Anih(1, 1, 9, 1, 40), Fram({MakeIcon()})})));
  ASSERT_EQ(image.FrameCount(), 1);
  EXPECT_EQ(image.Frame(0)->Jiffies, 9u);
}

TEST(WnAniCursor, TruncatedFilesKeepWhatWasRead) {
  const TBytes whole = Riff(Concat({Anih(2, 2, 1, 1), Fram({MakeIcon(), MakeIcon()})}));
  const std::size_t oneIconEnd = 12 + 44 + 12 + 8 + MakeIcon().size();
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    TWnAnimatedCursorImage image;
    const TBytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
    if (cut == 0) {
      Load(image, part);  // nothing to read is no error
      EXPECT_EQ(image.FrameCount(), 0);
    } else if (cut < oneIconEnd) {
      EXPECT_THROW(Load(image, part), platform::EStreamError) << cut;
    } else {
      Load(image, part);
      EXPECT_EQ(image.FrameCount(), 1) << cut;
    }
  }
}

TEST(WnAniCursor, HugeCountsAndSizesStayBounded) {
  TBytes bigList = Text("LIST");
  Put32(bigList, 0xFFFFFFF0);  // list longer than the file
  const TBytes tail = Concat({Text("fram"), Chunk("icon", MakeIcon())});
  bigList.insert(bigList.end(), tail.begin(), tail.end());
  TWnAnimatedCursorImage image;
  Load(image, Riff(Concat({Anih(0xFFFFFFFF, 1, 1, 1), bigList})));
  EXPECT_EQ(image.FrameCount(), 1);
}

TEST(WnAniCursor, HandsFramesOn) {
  TWnAnimatedCursorImage image;
  Load(image, Sample());
  TWnIconList list;
  image.AssignTo(list);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetIcon(1)->Data(), image.FrameIcon(1)->Data());

  TIcon icon;
  image.AssignTo(icon);
  EXPECT_EQ(icon.Data(), image.FrameIcon(0)->Data());

  platform::TBitmap strip;
  image.AssignToBitmap(strip, platform::clWhite, false, false);
  ASSERT_EQ(strip.Width(), 8);
  ASSERT_EQ(strip.Height(), 4);
  // Transparent top-left pixels show the back colour.
  EXPECT_EQ(strip.ToImage().pixel(4, 0) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(strip.ToImage().pixel(5, 0) & 0xFFFFFF, qRgb(16, 239, 8) & 0xFFFFFFu);
  platform::TBitmap column;
  image.AssignToBitmap(column, platform::clBlack, true, true);
  EXPECT_EQ(column.Width(), 4);
  EXPECT_EQ(column.Height(), 8);
  EXPECT_LE(column.BitsPerPixel(), 8);

  TWnAnimatedCursorImage copy;
  copy.Assign(&image);
  ASSERT_EQ(copy.FrameCount(), 2);
  EXPECT_NE(copy.FrameIcon(0), image.FrameIcon(0));
  EXPECT_EQ(copy.Frame(0)->Index(), 1);
  EXPECT_STREQ(copy.Title, "Spin");
  copy.Assign(nullptr);
  EXPECT_EQ(copy.FrameCount(), 0);
  EXPECT_EQ(copy.Title[0], 0);
}

TEST(WnAniCursor, SavingIsRefused) {
  TWnAnimatedCursorImage image;
  platform::TMemoryStream s;
  EXPECT_THROW(image.SaveToStream(s), platform::EAbort);
}
