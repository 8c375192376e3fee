#include "controls/kel/kelcont.h"
#include "controls/kel/kelgraph.h"

#include <gtest/gtest.h>

#include "support/waveimage.h"

using namespace kel;
using namespace platform;

namespace {

struct TSolid : TBitmap {
  TSolid(int w, int h, TColor c) : TBitmap(w, h, pf24bit) { KelFillSolidBitmap(*this, Rect(0, 0, w, h), c); }
};

void Paint(TBitmap& b, TColor c) { KelFillSolidBitmap(b, Rect(0, 0, b.Width(), b.Height()), c); }

std::vector<std::uint8_t> Written(const TKelListItem& item) {
  TMemoryStream s;
  item.WriteData(s);
  return s.Data();
}

template <class T> std::unique_ptr<T> ReadBack(const std::vector<std::uint8_t>& bytes) {
  TBytesStream s(bytes.data(), std::int64_t(bytes.size()));
  auto item = std::make_unique<T>();
  item->ReadData(s);
  EXPECT_EQ(s.Position(), s.Size());
  return item;
}

} // namespace

TEST(KelImageStrip, GrowthOffsetsAndLimits) {
  TKelImageListItem item;
  const TSolid red(16, 16, clRed);
  EXPECT_EQ(item.Add(&red, nullptr), 0);
  EXPECT_EQ(item.ImageBitmap().Width(), 64);
  for (int i = 1; i < 5; ++i) item.Add(&red, nullptr);
  EXPECT_EQ(item.ImageBitmap().Width(), 128);
  EXPECT_EQ(item.UsedWidth(), 80);
  EXPECT_EQ(item.Offset(4), 64);
  // Both nil: a slot; a mask alone: -1.
  EXPECT_EQ(item.Add(nullptr, nullptr), 5);
  EXPECT_EQ(item.Add(nullptr, &red), -1);
  EXPECT_EQ(item.Count(), 6);
  // Several images side by side fit; only the left one is taken.
  TSolid wide(32, 16, clBlue);
  wide.Canvas().Brush.Color = clLime;
  wide.Canvas().FillRect(Rect(16, 0, 32, 16));
  const int at = item.Add(&wide, nullptr);
  EXPECT_EQ(item.GetPixel({15, 3}, at), clBlue);
  const TSolid odd(20, 16, clBlue);
  EXPECT_THROW(item.Add(&odd, nullptr), EKelException);
  EXPECT_THROW(item.Offset(99), EListError);
  EXPECT_EQ(item.GetTransparentColor(0), clRed);
  EXPECT_THROW(TKelImageListItem::CreateSize(0, 5), EKelException);

  TKelImageListItem full;
  for (int i = 0; i < 2048; ++i) full.Add(nullptr, nullptr);
  EXPECT_THROW(full.Add(&red, nullptr), EKelException);
  EXPECT_EQ(full.Count(), 2048);
  EXPECT_EQ(full.UsedWidth(), 32768);
}

TEST(KelImageStrip, DrawingStyles) {
  TKelImageListItem item;
  item.SetMasked(true);
  TSolid image(16, 16, clBlue);
  image.Canvas().SetPixels(0, 15, clRed);
  item.ReplaceMasked(item.AllocImage(), &image, clRed);
  item.Add(&image, nullptr); // no mask: fully opaque
  TSolid target(20, 20, clLime);
  item.DrawingStyle = dsNormal;
  item.Draw(target.Canvas(), 0, 0, 0);
  EXPECT_EQ(target.Canvas().Pixels(0, 15), clLime); // transparent pixel
  EXPECT_EQ(target.Canvas().Pixels(1, 15), clBlue);
  Paint(target, clLime);
  item.Draw(target.Canvas(), 0, 0, 1);
  EXPECT_EQ(target.Canvas().Pixels(0, 15), clRed);
  // Selected without a blend colour: the image on its background square.
  Paint(target, clLime);
  item.DrawingStyle = dsSelected;
  item.BkColor = clYellow;
  item.Draw(target.Canvas(), 0, 0, 0);
  EXPECT_EQ(target.Canvas().Pixels(0, 15), clYellow);
  EXPECT_EQ(target.Canvas().Pixels(1, 14), clBlue);
  item.BlendColor = clBlack;
  item.Draw(target.Canvas(), 0, 0, 0);
  EXPECT_EQ(target.Canvas().Pixels(1, 0), clBlack); // x + y odd
  EXPECT_EQ(target.Canvas().Pixels(2, 0), clBlue);
  // Unmasked items copy opaquely whatever the style.
  TKelImageListItem opaque;
  opaque.Add(&image, nullptr);
  Paint(target, clLime);
  opaque.DrawingStyle = dsTransparent;
  opaque.Draw(target.Canvas(), 2, 2, 0);
  EXPECT_EQ(target.Canvas().Pixels(2, 17), clRed);
}

TEST(KelImageStrip, NotificationsAssignAndAddImages) {
  TKelImageListItem item;
  int changes = 0;
  item.OnChange = [&](TKelCustomComponent*) { ++changes; };
  item.Clear();
  EXPECT_EQ(changes, 0);
  item.SetWidth(8);
  EXPECT_EQ(changes, 1);
  TKelImageListItem three;
  const TSolid img(16, 16, clRed);
  for (int i = 0; i < 3; ++i) three.Add(&img, nullptr);
  TKelImageListItem copy;
  copy.Assign(three);
  EXPECT_EQ(copy.Count(), 3);
  EXPECT_EQ(copy.Offset(2), 32);
  EXPECT_EQ(copy.ImageBitmap().Width(), 48);

  // After the earlier "Bitmap" form the used width is the strip's width (40
  // for two images): appended images go after it and say so.
  TMemoryStream old;
  KelWriteBinaryProperty(old, "Bitmap", [&](TStream& s) {
    KelWriteU32(s, 2);
    const TSolid strip(40, 16, clBlue);
    KelStreamWriteBitmap(s, strip, false, -1);
  });
  TKelImageListItem loaded;
  old.SetPosition(0);
  loaded.ReadBitmapProperty(old);
  EXPECT_EQ(loaded.Count(), 2);
  EXPECT_EQ(loaded.UsedWidth(), 40);
  loaded.AddImages(three);
  EXPECT_EQ(loaded.Count(), 5);
  EXPECT_EQ(loaded.Offset(2), 40);
  EXPECT_EQ(loaded.Offset(4), 72);
  EXPECT_EQ(loaded.GetPixel({0, 0}, 4), clRed);
  TKelImageListItem other;
  other.SetHeight(8);
  EXPECT_THROW(loaded.AddImages(other), EKelException);
}

TEST(KelStoredItems, RoundTripByteForByte) {
  TKelImageListItem strip;
  strip.SetMasked(true);
  strip.SetDescription("icons");
  TSolid img(16, 16, clBlue);
  img.Canvas().SetPixels(0, 15, clRed);
  strip.ReplaceMasked(strip.AllocImage(), &img, clRed);
  strip.Add(&img, nullptr);
  for (bool compressed : {false, true}) {
    strip.SetCompressed(compressed);
    const auto bytes = Written(strip);
    auto back = ReadBack<TKelImageListItem>(bytes);
    EXPECT_EQ(back->Count(), 2);
    EXPECT_TRUE(back->Masked());
    EXPECT_EQ(back->GetPixel({3, 3}, 1), clBlue);
    EXPECT_EQ(Written(*back), bytes);
  }
  TKelStringListItem strings;
  strings.Lines = {"one", "", "three"};
  strings.SetIdent(7);
  for (bool compressed : {false, true}) {
    strings.SetCompressed(compressed);
    const auto bytes = Written(strings);
    auto back = ReadBack<TKelStringListItem>(bytes);
    EXPECT_EQ(back->Lines, strings.Lines);
    EXPECT_EQ(Written(*back), bytes);
  }
  const std::vector<std::uint8_t> head = {0x04 | 0x08, 7, 0, 0, 0, 14, 0, 0, 0};
  strings.SetCompressed(false);
  const auto plain = Written(strings);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), plain.begin()));
  TKelWaveListItem wave;
  const auto image = WaveImage(1, 1, 8000, 8, {1, 2, 3});
  TBytesStream in(image.data(), std::int64_t(image.size()));
  wave.Wave.LoadFromStream(in);
  const auto waveBytes = Written(wave);
  EXPECT_EQ(ReadBack<TKelWaveListItem>(waveBytes)->Wave.Bytes(), image);
}

TEST(KelStoredItems, EmptyWaveKeepsTheNextItemInStep) {
  TKelWaveList list;
  list.AddNew();
  const auto image = WaveImage(1, 2, 11025, 16, {1, 2, 3, 4});
  TBytesStream in(image.data(), std::int64_t(image.size()));
  static_cast<TKelWaveListItem*>(&list.AddNew())->Wave.LoadFromStream(in);
  for (bool compressed : {false, true}) {
    for (int i = 0; i < 2; ++i) list.Items(i)->SetCompressed(compressed);
    TMemoryStream s;
    list.WriteToStream(s, false);
    // The empty wave: its flags and the 4-byte block it always carries.
    EXPECT_EQ(s.Data()[4], compressed ? 1 : 0);
    EXPECT_EQ(s.Data()[5], 0);
    TKelWaveList back;
    s.SetPosition(0);
    back.ReadFromStream(s, false);
    ASSERT_EQ(back.Count(), 2);
    EXPECT_TRUE(static_cast<TKelWaveListItem*>(back.Items(0))->Wave.Empty());
    EXPECT_EQ(static_cast<TKelWaveListItem*>(back.Items(1))->Wave.Bytes(), image);
  }
}

TEST(KelStoredItems, DamagedItemsFailCleanly) {
  TKelImageListItem strip;
  const TSolid img(16, 16, clBlue);
  strip.Add(&img, nullptr);
  const auto bytes = Written(strip);
  const struct {
    std::size_t At;
    std::uint8_t Value;
  } damage[] = {{1, 0}, {5, 0}, {5, 0x80}, {9, 0}, {13, 2}, {14, 200}, {14, 0xFF}};
  for (const auto& d : damage) {
    auto broken = bytes;
    broken[d.At] = d.Value;
    TBytesStream s(broken.data(), std::int64_t(broken.size()));
    TKelImageListItem back;
    EXPECT_ANY_THROW(back.ReadData(s)) << d.At;
  }
  for (std::size_t cut : {std::size_t(3), std::size_t(18), bytes.size() - 1}) {
    TBytesStream s(bytes.data(), std::int64_t(cut));
    TKelImageListItem back;
    EXPECT_ANY_THROW(back.ReadData(s)) << cut;
  }
  const std::vector<std::uint8_t> wave = {0x00, 3, 0, 0, 0, 1, 2, 3}; // data without its bit
  TBytesStream w(wave.data(), std::int64_t(wave.size()));
  TKelWaveListItem item;
  EXPECT_THROW(item.ReadData(w), EKelException);
}

TEST(KelContainers, FilesAndGlobalBindings) {
  TKelStringList list;
  static_cast<TKelStringListItem*>(&list.AddNew())->Lines = {"a"};
  static_cast<TKelStringListItem*>(&list.AddNew())->Lines = {"b", "c"};
  TMemoryStream file;
  list.SaveToStreamFile(file);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.Data().data()) + 1, 8), "KelSLL30");
  TKelStringList back;
  file.SetPosition(0);
  back.LoadFromStreamFile(file);
  TMemoryStream again;
  back.SaveToStreamFile(again);
  EXPECT_EQ(again.Data(), file.Data());
  TKelStringListItem second;
  file.SetPosition(0);
  list.LoadItemFromStreamFile(file, 1, second);
  EXPECT_EQ(second.Lines, (std::vector<std::string>{"b", "c"}));
  TKelImageList images;
  file.SetPosition(0);
  EXPECT_THROW(images.LoadFromStreamFile(file, "x.txt"), EKelException);

  // The global container holds both global lists and passes changes on.
  int changes = 0;
  KelGlobalContainer().OnChange = [&](TKelCustomComponent*) { ++changes; };
  KelGlobalImageList().AddNew();
  KelGlobalBitmapList().AddNew();
  EXPECT_EQ(changes, 2);
  KelGlobalContainer().OnChange = nullptr;
  KelGlobalImageList().Clear();
  KelGlobalBitmapList().Clear();
  TMemoryStream binding;
  EXPECT_TRUE(KelWriteListBinding(binding, &KelGlobalImageList()));
  EXPECT_FALSE(KelWriteListBinding(binding, &images));
  binding.SetPosition(0);
  EXPECT_EQ(KelReadListBinding(binding), &KelGlobalImageList());
}
