#include "controls/support/wngraphics/wniconlist.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "platform/graphics.h"
#include "tests/controls/support/wnicontestdata.h"

using namespace wn;
using wntest::MakeIcon;
using wntest::Put32;
using wntest::TBytes;

namespace {

std::unique_ptr<TIcon> NewIcon(const TBytes& bytes = MakeIcon()) {
  auto icon = std::make_unique<TIcon>();
  icon->LoadFromBytes(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  return icon;
}

TBytes Stored(const TWnIconList& list) {
  platform::TMemoryStream s;
  list.SaveToStream(s);
  return s.Data();
}

void LoadStored(TWnIconList& list, const TBytes& bytes) {
  platform::TBytesStream s(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  list.LoadFromStream(s);
}

}  // namespace

TEST(WnIcon, DecodesPixelsAndTransparency) {
  auto icon = NewIcon();
  ASSERT_EQ(icon->Width(), 4);
  ASSERT_EQ(icon->Height(), 4);
  EXPECT_EQ(qAlpha(icon->Image().pixel(0, 0)), 0);
  // Top row, second pixel: palette entry 1 = red 16, green 239, blue 8.
  EXPECT_EQ(icon->Image().pixel(1, 0), qRgba(16, 239, 8, 255));
  EXPECT_EQ(icon->Image().pixel(3, 3), qRgba(48, 207, 24, 255));
}

TEST(WnIcon, DamagedBytesRaiseAndLeaveIconAlone) {
  auto icon = NewIcon();
  TBytes bad = MakeIcon();
  bad.resize(30);  // the directory entry points past the end
  EXPECT_THROW(icon->LoadFromBytes(bad.data(), 30), platform::EInvalidGraphic);
  EXPECT_EQ(icon->Data(), MakeIcon());
}

TEST(WnIconList, StoredFormRoundTripWithEmptyEntry) {
  auto icon = NewIcon();
  TWnIconList list;
  list.Add(icon.get());
  list.BeginUpdate();
  list.SetIcon(1, nullptr);  // index Count appends; a null source leaves the icon empty
  list.EndUpdate();
  list.Add(icon.get());
  ASSERT_EQ(list.Count(), 3);

  const TBytes icoBytes = MakeIcon();
  TBytes expected;
  Put32(expected, 3);                                          // entry count
  Put32(expected, static_cast<std::uint32_t>(icoBytes.size()));  // first entry's length
  expected.insert(expected.end(), icoBytes.begin(), icoBytes.end());
  Put32(expected, 0);                                          // empty second entry
  Put32(expected, static_cast<std::uint32_t>(icoBytes.size()));
  expected.insert(expected.end(), icoBytes.begin(), icoBytes.end());
  EXPECT_EQ(Stored(list), expected);

  TWnIconList back;
  LoadStored(back, expected);
  ASSERT_EQ(back.Count(), 3);
  EXPECT_NE(back.GetIcon(0), nullptr);
  EXPECT_EQ(back.GetIcon(1), nullptr);
  ASSERT_NE(back.GetIcon(2), nullptr);
  EXPECT_EQ(back.GetIcon(2)->Data(), icoBytes);
  EXPECT_EQ(Stored(back), expected);
}

TEST(WnIconList, DamagedStoredFormRaises) {
  const TBytes icoBytes = MakeIcon();
  TBytes good;
  Put32(good, 1);
  Put32(good, static_cast<std::uint32_t>(icoBytes.size()));
  good.insert(good.end(), icoBytes.begin(), icoBytes.end());

  TWnIconList list;
  for (std::size_t cut : {std::size_t{0}, std::size_t{3}, std::size_t{7}, good.size() - 1}) {
    TBytes shorter(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_THROW(LoadStored(list, shorter), platform::EStreamError) << cut;
  }
  TBytes hugeCount;
  Put32(hugeCount, 0xFFFFFFFF);  // far more entries than bytes
  EXPECT_THROW(LoadStored(list, hugeCount), platform::EStreamError);
  TBytes hugeLength;
  Put32(hugeLength, 1);
  Put32(hugeLength, 0x7FFFFFFF);  // longer than the data left
  EXPECT_THROW(LoadStored(list, hugeLength), platform::EStreamError);
  TBytes notIcon = good;
  notIcon[8 + 2] = 2;  // a cursor directory is no icon
  EXPECT_THROW(LoadStored(list, notIcon), platform::EInvalidGraphic);
}

TEST(WnIconList, SetIconAtCountAppendsAndAssignsACopy) {
  auto icon = NewIcon();
  TWnIconList list;
  int changes = 0;
  list.OnChange = [&](TWnIconList*) { ++changes; };
  list.SetIcon(0, icon.get());
  ASSERT_EQ(list.Count(), 1);
  EXPECT_NE(list.GetIcon(0), icon.get());
  EXPECT_EQ(list.GetIcon(0)->Data(), icon->Data());
  EXPECT_EQ(changes, 1);
  EXPECT_THROW(list.SetIcon(2, icon.get()), std::out_of_range);
}

TEST(WnIconList, AssignFromOneIconLeavesExactlyIt) {
  auto icon = NewIcon();
  TWnIconList list;
  list.Add(icon.get());
  list.Add(icon.get());
  list.Assign(icon.get());
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetIcon(0)->Data(), icon->Data());
  list.Assign(static_cast<const TWnIconList*>(nullptr));
  EXPECT_EQ(list.Count(), 0);
}

TEST(WnIconList, AssignFromListCopiesEachIcon) {
  auto icon = NewIcon();
  TWnIconList a, b;
  a.Add(icon.get());
  a.Add(nullptr);
  b.Assign(&a);
  ASSERT_EQ(b.Count(), 2);
  EXPECT_NE(b.GetIcon(0), a.GetIcon(0));
  EXPECT_EQ(Stored(b), Stored(a));
}

TEST(WnIconList, UpdatesNestAndEditsInPlaceNotify) {
  auto icon = NewIcon();
  TWnIconList list;
  list.Add(icon.get());
  list.Add(icon.get());
  int changes = 0;
  list.OnChange = [&](TWnIconList*) { ++changes; };
  list.BeginUpdate();
  list.Clear();
  EXPECT_EQ(changes, 0);
  list.EndUpdate();
  EXPECT_EQ(changes, 1);

  list.Add(icon.get());
  changes = 0;
  list.GetIcon(0)->Clear();  // an icon edited in place reaches the list
  EXPECT_EQ(changes, 1);
  TIcon* held = list.GetIcon(0);
  list.Delete(0);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(list.IndexOf(held), -1);
}

TEST(WnIconList, ExchangeMoveIndexOf) {
  auto icon = NewIcon();
  TWnIconList list;
  for (int i = 0; i < 3; ++i) list.Add(icon.get());
  TIcon* first = list.GetIcon(0);
  TIcon* last = list.GetIcon(2);
  list.Exchange(0, 2);
  EXPECT_EQ(list.IndexOf(first), 2);
  EXPECT_EQ(list.IndexOf(last), 0);
  list.Move(0, 1);
  EXPECT_EQ(list.IndexOf(last), 1);
  EXPECT_EQ(list.IndexOf(icon.get()), -1);
}

TEST(WnIconList, WrittenOnlyWhenDifferentFromAncestor) {
  auto icon = NewIcon();
  TWnIconList list, ancestor;
  EXPECT_FALSE(list.ShouldWriteIcons(nullptr));
  list.Add(icon.get());
  EXPECT_TRUE(list.ShouldWriteIcons(nullptr));
  ancestor.Add(icon.get());
  EXPECT_TRUE(list.ShouldWriteIcons(&ancestor));  // same bytes, another icon object
  EXPECT_FALSE(list.ShouldWriteIcons(&list));
}

TEST(WnIconList, ResourceIconsAndFailures) {
  const std::string folder = ::testing::TempDir();
  const TBytes bytes = MakeIcon();
  platform::TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  s.SaveToFile(folder + "/wn_app.ico");
  TWnIconList list;
  EXPECT_EQ(list.AddResource(folder, "wn_app.ico"), 0);
  EXPECT_EQ(list.GetIcon(0)->Data(), bytes);
  EXPECT_THROW(list.InsertResource(0, folder, "missing.ico"), platform::EInvalidGraphic);
  EXPECT_EQ(list.Count(), 1);
}

TEST(WnClipIcon, ClipboardRoundTrip) {
  EXPECT_STREQ(CorvaneIconFormatName, "Corvane Icon");
  auto icon = NewIcon();
  CopyIconToClipboard(*icon);
  ASSERT_TRUE(ClipboardHasIcon());
  TIcon pasted;
  ASSERT_TRUE(PasteIconFromClipboard(pasted));
  EXPECT_EQ(pasted.Data(), icon->Data());
  EXPECT_EQ(pasted.Image(), icon->Image());

  QGuiApplication::clipboard()->setText(QStringLiteral("no icon"));
  EXPECT_FALSE(ClipboardHasIcon());
  EXPECT_FALSE(PasteIconFromClipboard(pasted));
}
