// The acquisition protocol against a source manager of the test's own,
// which logs what it is sent and answers as it is told.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "image/io/rastrumio.h"
#include "image/io/twain/rvtwain.h"
#include "image/io/twain/rvtwainparams.h"
#include "platform/twainsane.h"

namespace {

using namespace platform;
using namespace rv;

struct TSet {
  TW_UINT16 Cap;
  TW_UINT16 ConType;
  double Value; // the container's current value
};

// What the fake manager answers, and what it was sent.
struct TFake {
  std::vector<std::string> Sources{"Camera", "scanner two", "SCANjet"};
  std::map<TW_UINT16, std::pair<TW_UINT16, TW_HANDLE (*)()>> Caps; // container kind and maker for MSG_GET
  bool AcceptFlavour = true;
  bool Memory = true;
  int Width = 5, Height = 4, Bits = 24, ExtraRows = 0, FailAtStrip = -1;
  // The picture the source sends: pixel (x, y) of a 24-bit page is (x, y, 7),
  // a 1-bit page has x + y odd set (in its own flavour).
  std::vector<TSet> Sets;
  std::vector<std::string> Opened;
  std::string AppProduct;
  int NextRow = 0, Strip = 0;
  bool Vanilla = false;
  size_t Enumerated = 0;
};
TFake Fake;

int EventType() {
  static const int type = QEvent::registerEventType();
  return type;
}

double Current(const TW_CAPABILITY& C) {
  TW_UINT32 item = 0;
  TW_UINT16 type = 0;
  if (!TwainCurrentItem(C, item, type)) return -1;
  return type == TWTY_FIX32 ? TwainFromFix32(TwainFix32FromBits(item)) : static_cast<double>(item);
}

void FillRow(std::uint8_t* Row, int Y) {
  for (int x = 0; x < Fake.Width; ++x) {
    if (Fake.Bits == 24) {
      Row[3 * x] = static_cast<std::uint8_t>(x), Row[3 * x + 1] = static_cast<std::uint8_t>(Y), Row[3 * x + 2] = 7;
    } else if (((x + Y) & 1) != 0) {
      Row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
  }
  if (Fake.Bits == 1 && Fake.Vanilla)
    for (int i = 0; i < (Fake.Width + 7) / 8; ++i) Row[i] = static_cast<std::uint8_t>(~Row[i]);
}

TW_UINT16 FakeEntry(TW_IDENTITY* Origin, TW_IDENTITY* Dest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                    TW_MEMREF Data) {
  if (DAT == DAT_PARENT || DAT == DAT_STATUS) {
    if (MSG == MSG_OPENDSM) Fake.AppProduct = Origin->ProductName;
    return TWRC_SUCCESS;
  }
  if (DAT == DAT_IDENTITY) {
    auto* id = static_cast<TW_IDENTITY*>(Data);
    if (MSG == MSG_GETFIRST) Fake.Enumerated = 0;
    if (MSG == MSG_GETFIRST || MSG == MSG_GETNEXT) {
      if (Fake.Enumerated >= Fake.Sources.size()) return TWRC_ENDOFLIST;
      *id = TW_IDENTITY();
      id->Id = static_cast<TW_UINT32>(Fake.Enumerated + 1);
      std::strcpy(id->ProductName, Fake.Sources[Fake.Enumerated++].c_str());
      return TWRC_SUCCESS;
    }
    if (MSG == MSG_OPENDS) Fake.Opened.push_back(id->ProductName);
    return TWRC_SUCCESS;
  }
  if (DAT == DAT_CAPABILITY) {
    auto* cap = static_cast<TW_CAPABILITY*>(Data);
    if (MSG == MSG_SET) {
      Fake.Sets.push_back({cap->Cap, cap->ConType, Current(*cap)});
      if (cap->Cap == ICAP_PIXELFLAVOR && !Fake.AcceptFlavour) return TWRC_FAILURE;
      if (cap->Cap == ICAP_XFERMECH && !Fake.Memory) return TWRC_FAILURE;
      return TWRC_SUCCESS;
    }
    TW_UINT32 v = 0;
    switch (cap->Cap) {
    case ICAP_PIXELFLAVOR: v = Fake.Vanilla ? TWPF_VANILLA : TWPF_CHOCOLATE; break;
    case ICAP_XFERMECH:
      cap->ConType = TWON_ENUMERATION;
      cap->hContainer = TwainMakeEnumeration(
          TWTY_UINT16, Fake.Memory ? std::vector<TW_UINT32>{0, 2} : std::vector<TW_UINT32>{0},
          Fake.Memory && std::any_of(Fake.Sets.begin(), Fake.Sets.end(),
                                     [](const TSet& s) { return s.Cap == ICAP_XFERMECH; }) ? 1 : 0, 0);
      return TWRC_SUCCESS;
    default:
      if (auto it = Fake.Caps.find(cap->Cap); it != Fake.Caps.end()) {
        cap->ConType = it->second.first;
        cap->hContainer = it->second.second();
        return TWRC_SUCCESS;
      }
      return TWRC_FAILURE;
    }
    cap->ConType = TWON_ONEVALUE;
    cap->hContainer = TwainMakeOneValue(TWTY_UINT16, v);
    return TWRC_SUCCESS;
  }
  if (DAT == DAT_USERINTERFACE) {
    if (MSG == MSG_ENABLEDS) {
      Fake.NextRow = Fake.Strip = 0;
      auto* ui = static_cast<TW_USERINTERFACE*>(Data);
      QCoreApplication::postEvent(static_cast<QObject*>(ui->hParent),
                                  new QEvent(static_cast<QEvent::Type>(EventType())));
    }
    return TWRC_SUCCESS;
  }
  if (DAT == DAT_EVENT) {
    auto* e = static_cast<TW_EVENT*>(Data);
    if (static_cast<QEvent*>(e->pEvent)->type() != EventType()) return TWRC_NOTDSEVENT;
    e->TWMessage = MSG_XFERREADY;
    return TWRC_DSEVENT;
  }
  if (DAT == DAT_IMAGEINFO) {
    auto* info = static_cast<TW_IMAGEINFO*>(Data);
    *info = TW_IMAGEINFO();
    info->XResolution = info->YResolution = TwainToFix32(150);
    info->ImageWidth = Fake.Width;
    info->ImageLength = Fake.Height;
    info->BitsPerPixel = static_cast<TW_INT16>(Fake.Bits);
    info->SamplesPerPixel = Fake.Bits == 24 ? 3 : 1;
    info->PixelType = Fake.Bits == 24 ? TWPT_RGB : TWPT_BW;
    return TWRC_SUCCESS;
  }
  if (DAT == DAT_SETUPMEMXFER) {
    // Two rows a strip.
    static_cast<TW_SETUPMEMXFER*>(Data)->Preferred = 2 * static_cast<TW_UINT32>(Fake.Width * 3);
    return TWRC_SUCCESS;
  }
  if (DAT == DAT_IMAGEMEMXFER) {
    auto* x = static_cast<TW_IMAGEMEMXFER*>(Data);
    if (Fake.Strip++ == Fake.FailAtStrip) return TWRC_FAILURE;
    const int bpr = Fake.Bits == 24 ? Fake.Width * 3 : (Fake.Width + 7) / 8;
    const int total = Fake.Height + Fake.ExtraRows;
    const int rows = std::min<int>(static_cast<int>(x->Memory.Length) / bpr, total - Fake.NextRow);
    auto* mem = static_cast<std::uint8_t*>(x->Memory.TheMem);
    std::memset(mem, 0, x->Memory.Length);
    for (int r = 0; r < rows; ++r) FillRow(mem + r * bpr, Fake.NextRow + r);
    x->BytesPerRow = static_cast<TW_UINT32>(bpr);
    x->Columns = static_cast<TW_UINT32>(Fake.Width);
    x->Rows = static_cast<TW_UINT32>(rows);
    x->XOffset = 0;
    x->YOffset = static_cast<TW_UINT32>(Fake.NextRow);
    Fake.NextRow += rows;
    return Fake.NextRow >= total ? TWRC_XFERDONE : TWRC_SUCCESS;
  }
  if (DAT == DAT_IMAGENATIVEXFER) {
    // A bottom-up 24-bit packed picture.
    const int stride = (Fake.Width * 3 + 3) / 4 * 4;
    auto* dib = static_cast<std::uint8_t*>(TwainAlloc(40 + static_cast<std::size_t>(stride) * Fake.Height));
    const std::uint32_t head[3] = {40, static_cast<std::uint32_t>(Fake.Width), static_cast<std::uint32_t>(Fake.Height)};
    std::memcpy(dib, head, 12);
    dib[12] = 1, dib[14] = 24;
    for (int y = 0; y < Fake.Height; ++y) {
      std::uint8_t rgb[64 * 3] = {};
      FillRow(rgb, y);
      std::uint8_t* row = dib + 40 + static_cast<std::size_t>(Fake.Height - 1 - y) * stride;
      for (int x = 0; x < Fake.Width; ++x) row[3 * x] = rgb[3 * x + 2], row[3 * x + 1] = rgb[3 * x + 1], row[3 * x + 2] = rgb[3 * x];
    }
    *static_cast<TW_HANDLE*>(Data) = dib;
    return TWRC_XFERDONE;
  }
  if (DAT == DAT_PENDINGXFERS) {
    static_cast<TW_PENDINGXFERS*>(Data)->Count = 0;
    return TWRC_SUCCESS;
  }
  return TWRC_SUCCESS;
}

class TwainProtocol : public testing::Test {
protected:
  TwainProtocol() {
    Fake = TFake();
    TwainInstallManager(&FakeEntry);
  }
  ~TwainProtocol() override { TwainInstallSaneManager(); }

  // A component that scans without a window of the source.
  static void Quiet(TRastrumIO& IO) { IO.TWainParams().VisibleDialog = false; }
};

TEST_F(TwainProtocol, NegotiationSendsEditedValuesInItsOrder) {
  Fake.Caps[ICAP_CONTRAST] = {TWON_RANGE, [] { return TwainMakeRange(TWTY_FIX32, 0, 0, 0, 0, 0); }};
  Fake.Caps[ICAP_XRESOLUTION] = {TWON_ONEVALUE, [] { return TwainMakeOneValue(TWTY_FIX32, TwainFix32Bits(TwainToFix32(100))); }};
  Fake.Caps[ICAP_PIXELTYPE] = {TWON_ENUMERATION, [] { return TwainMakeEnumeration(TWTY_UINT16, {0, 1, 2}, 2, 2); }};
  Fake.Caps[ICAP_THRESHOLD] = {TWON_ONEVALUE, [] { return TwainMakeOneValue(TWTY_FIX32, 0); }};
  for (TW_UINT16 c : {CAP_FEEDERENABLED, CAP_INDICATORS, CAP_DUPLEXENABLED})
    Fake.Caps[c] = {TWON_ONEVALUE, [] { return TwainMakeOneValue(TWTY_BOOL, 0); }};
  TRastrumIO io;
  Quiet(io);
  TRvTWainParams& p = io.TWainParams();
  p.SetProductName(std::string(40, 'P'));
  p.SetUndefinedImageSize(true);
  p.Contrast().SetCurrent(12.5);
  p.SetThreshold(100);
  p.XResolution().SetCurrent(300);
  p.PixelType().SetCurrent(5); // beyond colour: colour is sent
  p.SetAcquireFrameEnabled(true);
  Fake.Sets.clear();
  ASSERT_TRUE(io.Acquire());
  const std::vector<TSet> want = {
      {ICAP_PIXELFLAVOR, TWON_ONEVALUE, TWPF_CHOCOLATE}, {ICAP_UNDEFINEDIMAGESIZE, TWON_ONEVALUE, 1},
      {ICAP_CONTRAST, TWON_ONEVALUE, 12.5},              {ICAP_THRESHOLD, TWON_ONEVALUE, 100},
      {ICAP_XRESOLUTION, TWON_ONEVALUE, 300},            {ICAP_PIXELTYPE, TWON_ONEVALUE, TWPT_RGB},
      {ICAP_XFERMECH, TWON_ONEVALUE, TWSX_MEMORY},       {CAP_FEEDERENABLED, TWON_ONEVALUE, 0},
      // The indicators flag came from the source with the capabilities.
      {CAP_INDICATORS, TWON_ONEVALUE, 0},                {CAP_DUPLEXENABLED, TWON_ONEVALUE, 0},
  };
  ASSERT_EQ(Fake.Sets.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(Fake.Sets[i].Cap, want[i].Cap) << i;
    EXPECT_EQ(Fake.Sets[i].ConType, want[i].ConType) << i;
    EXPECT_DOUBLE_EQ(Fake.Sets[i].Value, want[i].Value) << i;
  }
  // The identity announced: the first 32 characters of the product name.
  EXPECT_EQ(Fake.AppProduct, std::string(32, 'P'));
  EXPECT_EQ(p.ProductName(), std::string(32, 'P'));
}

TEST_F(TwainProtocol, CapabilityContainersFillTheLists) {
  Fake.Caps[ICAP_XRESOLUTION] = {TWON_ONEVALUE, [] { return TwainMakeOneValue(TWTY_FIX32, TwainFix32Bits(TwainToFix32(-1))); }};
  Fake.Caps[ICAP_YRESOLUTION] = {TWON_RANGE, [] {
    return TwainMakeRange(TWTY_FIX32, TwainFix32Bits(TwainToFix32(50)), TwainFix32Bits(TwainToFix32(1200)),
                          TwainFix32Bits(TwainToFix32(0.5)), 0, TwainFix32Bits(TwainToFix32(150)));
  }};
  Fake.Caps[ICAP_PIXELTYPE] = {TWON_ENUMERATION, [] { return TwainMakeEnumeration(TWTY_UINT16, {0, 2}, 1, 0); }};
  Fake.Caps[ICAP_ORIENTATION] = {TWON_ARRAY, [] { return TwainMakeArray(TWTY_UINT16, {0, 1, 3}); }};
  TRastrumIO io;
  TRvTWainParams& p = io.TWainParams();
  EXPECT_EQ(p.XResolution().Count(), 1);
  EXPECT_DOUBLE_EQ(p.XResolution().Current(), 300);
  EXPECT_DOUBLE_EQ(p.YResolution().RangeMin(), 50);
  EXPECT_DOUBLE_EQ(p.YResolution().RangeMax(), 1200);
  EXPECT_DOUBLE_EQ(p.YResolution().RangeStep(), 0.5);
  EXPECT_DOUBLE_EQ(p.YResolution().Current(), 150);
  ASSERT_EQ(p.PixelType().Count(), 2);
  EXPECT_EQ(p.PixelType().Items(1), 2);
  EXPECT_EQ(p.PixelType().Current(), 2);
  ASSERT_EQ(p.Orientation().Count(), 3);
  EXPECT_EQ(p.Orientation().Items(2), 3);
  EXPECT_EQ(p.PixelType().Flags(), 0u);
  EXPECT_DOUBLE_EQ(p.Gamma(), 2.2); // not offered: stays
}

TEST_F(TwainProtocol, TransfersDeliverThePicture) {
  struct TCase {
    const char* Name;
    bool Memory;     // the source offers memory transfers
    int Bits;
    bool Vanilla;    // the source keeps 1 for black
    int ExtraRows;   // sent past the announced height
  } cases[] = {
      {"memory", true, 24, false, 0},       {"native when memory is refused", false, 24, false, 0},
      {"clipped", true, 24, false, 3},      {"1-bit", true, 1, false, 0},
      {"1-bit vanilla", true, 1, true, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Fake = TFake();
    Fake.Memory = c.Memory;
    Fake.Bits = c.Bits;
    Fake.AcceptFlavour = !c.Vanilla;
    Fake.Vanilla = c.Vanilla;
    Fake.ExtraRows = c.ExtraRows;
    TRastrumIO io;
    Quiet(io);
    ASSERT_TRUE(io.Acquire());
    TRvBitmap& b = *io.RvBitmap();
    ASSERT_EQ(b.Width(), 5);
    ASSERT_EQ(b.Height(), 4);
    EXPECT_EQ(io.Params().DpiX, 150);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) {
        const std::uint8_t* row = b.Scanline(y);
        if (c.Bits == 24) {
          EXPECT_EQ(row[3 * x], 7); // blue first
          EXPECT_EQ(row[3 * x + 1], y);
          EXPECT_EQ(row[3 * x + 2], x);
        } else {
          EXPECT_EQ((row[x / 8] & (0x80 >> (x % 8))) != 0, ((x + y) & 1) != 0) << x << "," << y;
        }
      }
  }
}

TEST_F(TwainProtocol, AFailedTransferLeavesThePicture) {
  Fake.FailAtStrip = 1;
  TRastrumIO io;
  Quiet(io);
  io.RvBitmap()->Allocate(2, 2, rvpf24Bit);
  io.RvBitmap()->Fill(9);
  EXPECT_FALSE(io.Acquire());
  EXPECT_EQ(io.RvBitmap()->Width(), 2);
  EXPECT_EQ(io.RvBitmap()->Scanline(1)[2], 9); // red of the fill colour
  EXPECT_EQ(io.TWainParams().Shared().LastError.State, 7);
}

TEST_F(TwainProtocol, SourcesByNameAndIndex) {
  TRastrumIO io;
  TRvTWainParams& p = io.TWainParams();
  EXPECT_EQ(p.SourceCount(), 3);
  EXPECT_EQ(p.SourceName(2), "SCANjet");
  EXPECT_EQ(p.SourceName(3), "");
  EXPECT_EQ(p.SourceName(-1), "");
  EXPECT_FALSE(p.SetSourceByName(""));
  EXPECT_FALSE(p.SetSourceByName("Printer"));
  EXPECT_EQ(p.SelectedSource(), 0);
  ASSERT_TRUE(p.SetSourceByName("Scan"));
  EXPECT_EQ(p.SelectedSource(), 1);
  ASSERT_EQ(Fake.Opened, std::vector<std::string>{"scanner two"});
  // The same source again: its capabilities are not read again.
  EXPECT_TRUE(p.SetSourceByName("SCANNER"));
  EXPECT_EQ(Fake.Opened.size(), 1u);
}

TEST_F(TwainProtocol, WithoutAManagerNothingHappens) {
  TwainInstallManager(nullptr);
  TRastrumIO io;
  Quiet(io);
  std::string name = "kept";
  EXPECT_FALSE(TwainSelectSource(name, io.TWainParams().Shared(), nullptr));
  EXPECT_EQ(name, "kept");
  EXPECT_FALSE(io.Acquire());
  EXPECT_EQ(io.TWainParams().SourceCount(), 0);
}

} // namespace
