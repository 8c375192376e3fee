#include "image/io/twain/rvtwain.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QWidget>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>

#include "image/io/rvioparams.h"
#include "image/io/rvsafeio.h"
#include "image/io/twain/rvtwainparams.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvbits.h"
#include "image/model/rvcolorconv.h"
#include "image/model/rvgeometry.h"
#include "image/model/rvprogress.h"

namespace rv {

using namespace platform;

namespace {

// A strip kept while the page's size is not known yet.
struct TKeptStrip {
  TW_UINT32 BytesPerRow, Columns, Rows, XOffset, YOffset;
  std::vector<std::uint8_t> Data;
};

// One job's connection to the manager and its source.
struct TConnection {
  int State = 1;
  DSMENTRYPROC Entry = nullptr;
  QWidget* Parent = nullptr;
  TW_UINT16 ReturnCode = TWRC_SUCCESS;
  TW_IDENTITY App;
  TW_IDENTITY Source;
  TW_USERINTERFACE UI;
  TRvTWainError Error;
  bool HideUI = false;
  bool TransferRunning = false;
  bool CloseAfterTransfer = false;
  bool Acquired = false;
  bool Buffered = false;
  bool Vanilla = false;
  bool UndefinedSize = false;
  TRvTWainParams* Params = nullptr;
  TIOParamsVals* IOParams = nullptr;
  TRvProgressRec* Progress = nullptr;
  TRvTWainShared* Shared = nullptr;
  // The picture being transferred; it reaches the caller's target only
  // when the transfer completed.
  std::unique_ptr<TRvBitmap> Image;
  int BitsPerPixel = 0;
  // The running memory transfer.
  TW_UINT32 BufferSize = 0;
  TW_HANDLE Buffer = nullptr;
  std::vector<TKeptStrip> Kept;
  std::int64_t KeptPixels = 0;
  TW_UINT16 TransferResult = TWRC_SUCCESS;
};

void SetText(TW_STR32& Field, const std::string& Text) {
  std::memset(Field, 0, sizeof(TW_STR32));
  std::memcpy(Field, Text.data(), std::min<std::size_t>(Text.size(), 32));
}

void InitConnection(TConnection& C, TRvTWainShared& Shared, QWidget* Parent) {
  C.Shared = &Shared;
  C.Parent = Parent;
  C.App = TW_IDENTITY();
  C.App.Version.MajorNum = 1;
  C.App.Version.MinorNum = 0;
  C.App.Version.Language = TWLG_USA;
  C.App.Version.Country = TWCY_USA;
  C.App.ProtocolMajor = 1;
  C.App.ProtocolMinor = 9;
  C.App.SupportedGroups = DG_CONTROL | DG_IMAGE;
  SetText(C.App.Version.Info, " ");
  SetText(C.App.Manufacturer, " ");
  SetText(C.App.ProductFamily, " ");
  SetText(C.App.ProductName, " ");
}

TW_UINT16 CallManager(TConnection& C, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF Data) {
  C.ReturnCode = C.Entry != nullptr ? C.Entry(&C.App, nullptr, DG, DAT, MSG, Data) : TWRC_FAILURE;
  return C.ReturnCode;
}

TW_UINT16 CallSource(TConnection& C, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF Data) {
  C.ReturnCode = C.Entry != nullptr ? C.Entry(&C.App, &C.Source, DG, DAT, MSG, Data) : TWRC_FAILURE;
  return C.ReturnCode;
}

TW_UINT16 ConditionCode(TConnection& C) {
  if (C.State < 3) return TWCC_SEQERROR;
  const TW_UINT16 rc = C.ReturnCode;
  TW_STATUS status;
  const TW_UINT16 got = C.State == 3 ? CallManager(C, DG_CONTROL, DAT_STATUS, MSG_GET, &status)
                                     : CallSource(C, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
  C.ReturnCode = rc;
  return got == TWRC_SUCCESS ? status.ConditionCode : TWCC_BUMMER;
}

void RecordError(TConnection& C) {
  if (C.Error.Set) return;
  C.Error.Set = true;
  C.Error.State = C.State;
  if (C.State >= 2 && C.State <= 5) {
    C.Error.ReturnCode = C.ReturnCode;
    C.Error.ConditionCode = ConditionCode(C);
  }
}

// ---- the state table

// One step of the table: on success the connection enters NewState, a
// failure is recorded.
bool Step(TConnection& C, TW_UINT16 Rc, int NewState) {
  if (Rc == TWRC_SUCCESS) {
    C.State = NewState;
    return true;
  }
  RecordError(C);
  return false;
}

QObject* EnsureProxy(TRvTWainShared& Shared, QWidget* Parent) {
  if (!Shared.ProxyWindow) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
      Shared.ProxyWindow = new QObject();
    } else {
      auto* proxy = new QWidget(Parent, Qt::Window | Qt::Tool);
      proxy->setWindowTitle(QStringLiteral("Acquire Proxy"));
      proxy->setAttribute(Qt::WA_DontShowOnScreen);
      Shared.ProxyWindow = proxy;
    }
    Shared.ProxyWindow->setObjectName(QStringLiteral("AcquireProxy"));
  }
  return Shared.ProxyWindow;
}

void SetProxyEnabled(QObject* Proxy, bool Enabled) {
  if (auto* w = qobject_cast<QWidget*>(Proxy)) w->setEnabled(Enabled);
}

// The manager of Shared's jobs, loaded by the first.
bool LoadSharedManager(TRvTWainShared& shared) {
  if (shared.Module == nullptr) {
    shared.Module = TwainLoadManager();
    if (shared.Module == nullptr) return false;
    shared.Entry = TwainManagerEntry(shared.Module);
    if (shared.Entry == nullptr) {
      TwainFreeManager(shared.Module);
      shared.Module = nullptr;
      return false;
    }
  }
  return true;
}

bool LoadManager(TConnection& C) {
  if (!LoadSharedManager(*C.Shared)) return false;
  // The sources hold no more of a page than the library would take.
  TwainSetPixelLimit(RvMaxPixels());
  C.Entry = C.Shared->Entry;
  C.State = 2;
  return true;
}

bool OpenManager(TConnection& C) {
  QObject* proxy = C.Shared->ProxyWindow.data();
  return Step(C, CallManager(C, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &proxy), 3);
}

bool OpenSource(TConnection& C, const std::string& Selected) {
  C.Source = TW_IDENTITY();
  if (!Selected.empty()) {
    TW_IDENTITY id;
    TW_UINT16 rc = CallManager(C, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id);
    while (rc == TWRC_SUCCESS) {
      if (Selected == id.ProductName) {
        C.Source = id;
        break;
      }
      rc = CallManager(C, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id);
    }
  }
  return Step(C, CallManager(C, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &C.Source), 4);
}

bool EnableSource(TConnection& C) {
  C.UI.ShowUI = C.HideUI ? 0 : 1;
  C.UI.ModalUI = 1;
  C.UI.hParent = C.Shared->ProxyWindow.data();
  const TW_UINT16 rc = CallSource(C, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &C.UI);
  if (rc == TWRC_SUCCESS) {
    C.State = 5;
    return true;
  }
  if (rc == TWRC_FAILURE) RecordError(C);
  return false;
}

void DisableSource(TConnection& C) {
  if (C.State == 5) Step(C, CallSource(C, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &C.UI), 4);
}

void CloseSource(TConnection& C) {
  if (C.State == 5) DisableSource(C);
  if (C.State == 4) Step(C, CallManager(C, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &C.Source), 3);
}

void CloseManager(TConnection& C) {
  if (C.State != 3) return;
  QObject* proxy = C.Shared->ProxyWindow.data();
  Step(C, CallManager(C, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &proxy), 2);
}

// Not forced: the shared module stays loaded for the next job.
void Unload(TConnection& C) {
  C.Entry = nullptr;
  C.State = 1;
}

void EndJob(TConnection& C) {
  CloseSource(C);
  CloseManager(C);
  Unload(C);
  C.Shared->LastError = C.Error;
}

// ---- capabilities

// A capability read with a container of any kind; the caller frees it.
class TCapRead {
public:
  TCapRead(TConnection& C, TW_UINT16 Cap) {
    FCap.Cap = Cap;
    FCap.ConType = TWON_DONTCARE16;
    FOk = CallSource(C, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &FCap) == TWRC_SUCCESS &&
          FCap.hContainer != nullptr;
  }
  ~TCapRead() { TwainFree(FCap.hContainer); }
  TCapRead(const TCapRead&) = delete;
  TCapRead& operator=(const TCapRead&) = delete;
  bool Ok() const { return FOk; }
  const TW_CAPABILITY& Cap() const { return FCap; }

private:
  TW_CAPABILITY FCap;
  bool FOk = false;
};

double ItemAsDouble(TW_UINT32 Item, TW_UINT16 Type) {
  switch (Type) {
  case TWTY_FIX32: return TwainFromFix32(TwainFix32FromBits(Item));
  case TWTY_INT8:
  case TWTY_INT16:
  case TWTY_INT32: return static_cast<TW_INT32>(Item);
  default: return Item;
  }
}

// Fills List from the container; Resolution turns a negative one value
// into 300.
template <typename T>
bool ReadList(TConnection& C, TW_UINT16 Cap, TRvValueList<T>& List, bool Resolution = false) {
  TCapRead read(C, Cap);
  if (!read.Ok()) return false;
  const TW_CAPABILITY& cap = read.Cap();
  auto value = [](TW_UINT32 item, TW_UINT16 type) { return static_cast<T>(ItemAsDouble(item, type)); };
  switch (cap.ConType) {
  case TWON_ARRAY: {
    const auto* a = static_cast<const TW_ARRAY*>(cap.hContainer);
    if (TwainItemSize(a->ItemType) == 0) return false;
    List.Clear();
    for (TW_UINT32 i = 0; i < a->NumItems; ++i) List.Add(value(TwainReadItem(a->ItemList, a->ItemType, i), a->ItemType));
    break;
  }
  case TWON_ENUMERATION: {
    const auto* e = static_cast<const TW_ENUMERATION*>(cap.hContainer);
    if (TwainItemSize(e->ItemType) == 0) return false;
    List.Clear();
    for (TW_UINT32 i = 0; i < e->NumItems; ++i) List.Add(value(TwainReadItem(e->ItemList, e->ItemType, i), e->ItemType));
    if (e->CurrentIndex < e->NumItems) List.SetCurrent(List.Items(static_cast<int>(e->CurrentIndex)));
    break;
  }
  case TWON_ONEVALUE: {
    const auto* o = static_cast<const TW_ONEVALUE*>(cap.hContainer);
    if (TwainItemSize(o->ItemType) == 0) return false;
    T v = value(TwainReadItem(reinterpret_cast<const TW_UINT8*>(&o->Item), o->ItemType, 0), o->ItemType);
    if (Resolution && v < 0) v = static_cast<T>(300);
    List.Clear();
    List.Add(v);
    List.SetCurrent(v);
    break;
  }
  case TWON_RANGE: {
    const auto* r = static_cast<const TW_RANGE*>(cap.hContainer);
    if (TwainItemSize(r->ItemType) == 0) return false;
    List.Clear();
    List.SetRangeMin(value(r->MinValue, r->ItemType));
    List.SetRangeMax(value(r->MaxValue, r->ItemType));
    List.SetRangeStep(value(r->StepSize, r->ItemType));
    List.SetCurrent(value(r->CurrentValue, r->ItemType));
    break;
  }
  default: return false;
  }
  // What the source said is no edit of ours.
  List.SetFlags(0);
  return true;
}

bool ReadCurrent(TConnection& C, TW_UINT16 Cap, double& Value) {
  TCapRead read(C, Cap);
  TW_UINT32 item = 0;
  TW_UINT16 type = 0;
  if (!read.Ok() || !TwainCurrentItem(read.Cap(), item, type)) return false;
  Value = ItemAsDouble(item, type);
  return true;
}

bool ReadBool(TConnection& C, TW_UINT16 Cap, bool& Value) {
  double v = 0;
  if (!ReadCurrent(C, Cap, v)) return false;
  Value = v != 0;
  return true;
}

bool SetContainer(TConnection& C, TW_UINT16 Cap, TW_UINT16 ConType, TW_HANDLE Container) {
  TW_CAPABILITY cap;
  cap.Cap = Cap;
  cap.ConType = ConType;
  cap.hContainer = Container;
  const bool ok = Container != nullptr &&
                  CallSource(C, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap) == TWRC_SUCCESS;
  TwainFree(Container);
  return ok;
}

bool SetOneValue(TConnection& C, TW_UINT16 Cap, TW_UINT16 Type, TW_UINT32 Item) {
  return SetContainer(C, Cap, TWON_ONEVALUE, TwainMakeOneValue(Type, Item));
}

// Sets after a successful read, as a source that cannot read a
// capability cannot set it either.
bool SetOneValueIfReadable(TConnection& C, TW_UINT16 Cap, TW_UINT16 Type, TW_UINT32 Item) {
  if (!TCapRead(C, Cap).Ok()) return false;
  return SetOneValue(C, Cap, Type, Item);
}

TW_UINT32 ItemOf(double V, TW_UINT16 Type) {
  if (Type == TWTY_FIX32) return TwainFix32Bits(TwainToFix32(V));
  return static_cast<TW_UINT32>(static_cast<TW_INT32>(std::lround(V)));
}

// Sends what the caller edited; true when nothing needed sending.
template <typename T>
bool WriteList(TConnection& C, TW_UINT16 Cap, TRvValueList<T>& List, TW_UINT16 Type) {
  const std::uint32_t flags = List.Flags();
  if ((flags & (rvlfItemsChanged | rvlfCurrentChanged | rvlfRangeChanged)) == 0) return true;
  if (!TCapRead(C, Cap).Ok()) return false;
  if ((flags & rvlfItemsChanged) != 0) {
    std::vector<TW_UINT32> items;
    for (int i = 0; i < List.Count(); ++i) items.push_back(ItemOf(List.Items(i), Type));
    const int at = List.IndexOf(List.Current());
    const auto index = static_cast<TW_UINT32>(at < 0 ? 0 : at);
    return SetContainer(C, Cap, TWON_ENUMERATION, TwainMakeEnumeration(Type, items, index, index));
  }
  if ((flags & rvlfCurrentChanged) != 0) return SetOneValue(C, Cap, Type, ItemOf(List.Current(), Type));
  const TW_UINT32 current = ItemOf(List.Current(), Type);
  return SetContainer(C, Cap, TWON_RANGE,
                      TwainMakeRange(Type, ItemOf(List.RangeMin(), Type), ItemOf(List.RangeMax(), Type),
                                     ItemOf(List.RangeStep(), Type), current, current));
}

void SetUnitsToInches(TConnection& C) {
  double units = 0;
  if (ReadCurrent(C, ICAP_UNITS, units) && units != TWUN_INCHES)
    SetOneValue(C, ICAP_UNITS, TWTY_UINT16, TWUN_INCHES);
}

void Negotiate(TConnection& C) {
  TRvTWainParams& p = *C.Params;
  SetUnitsToInches(C);
  SetOneValue(C, ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_CHOCOLATE);
  double flavour = TWPF_CHOCOLATE;
  C.Vanilla = ReadCurrent(C, ICAP_PIXELFLAVOR, flavour) && flavour == TWPF_VANILLA;
  if (p.UndefinedImageSize()) SetOneValue(C, ICAP_UNDEFINEDIMAGESIZE, TWTY_BOOL, 1);
  WriteList(C, ICAP_CONTRAST, p.Contrast(), TWTY_FIX32);
  WriteList(C, ICAP_BRIGHTNESS, p.Brightness(), TWTY_FIX32);
  if (p.Threshold() != 128)
    SetOneValueIfReadable(C, ICAP_THRESHOLD, TWTY_FIX32, ItemOf(p.Threshold(), TWTY_FIX32));
  WriteList(C, ICAP_XRESOLUTION, p.XResolution(), TWTY_FIX32);
  WriteList(C, ICAP_YRESOLUTION, p.YResolution(), TWTY_FIX32);
  WriteList(C, ICAP_XSCALING, p.XScaling(), TWTY_FIX32);
  WriteList(C, ICAP_YSCALING, p.YScaling(), TWTY_FIX32);

  TRvIntegerList& types = p.PixelType();
  if (types.Current() > TWPT_RGB) types.SetCurrent(TWPT_RGB);
  bool written = WriteList(C, ICAP_PIXELTYPE, types, TWTY_UINT16);
  double planar = TWPC_CHUNKY;
  if (ReadCurrent(C, ICAP_PLANARCHUNKY, planar) && planar != TWPC_CHUNKY && written &&
      types.Current() == TWPT_RGB)
    written = SetOneValue(C, ICAP_PLANARCHUNKY, TWTY_UINT16, TWPC_CHUNKY);

  if (C.Buffered && written) {
    TRvIntegerList mechs;
    if (ReadList(C, ICAP_XFERMECH, mechs) && mechs.IndexOf(TWSX_MEMORY) >= 0) {
      if (!SetOneValue(C, ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY)) C.Buffered = false;
    } else {
      C.Buffered = false;
    }
    double mech = TWSX_NATIVE;
    if (!ReadCurrent(C, ICAP_XFERMECH, mech) || mech != TWSX_MEMORY) C.Buffered = false;
  } else {
    C.Buffered = false;
  }

  const bool feeder = p.FeederEnabled();
  SetOneValueIfReadable(C, CAP_FEEDERENABLED, TWTY_BOOL, feeder ? 1 : 0);
  if (feeder) SetOneValueIfReadable(C, CAP_AUTOFEED, TWTY_BOOL, p.AutoFeed() ? 1 : 0);
  WriteList(C, ICAP_ORIENTATION, p.Orientation(), TWTY_UINT16);
  WriteList(C, ICAP_SUPPORTEDSIZES, p.StandardSize(), TWTY_UINT16);
  SetOneValueIfReadable(C, CAP_INDICATORS, TWTY_BOOL, p.ProgressIndicators() ? 1 : 0);
  SetOneValueIfReadable(C, CAP_DUPLEXENABLED, TWTY_BOOL, p.DuplexEnabled() ? 1 : 0);
  if (p.AcquireFrameEnabled()) {
    TW_IMAGELAYOUT layout;
    layout.Frame.Left = TwainToFix32(p.AcquireFrame(0));
    layout.Frame.Top = TwainToFix32(p.AcquireFrame(1));
    layout.Frame.Right = TwainToFix32(p.AcquireFrame(2));
    layout.Frame.Bottom = TwainToFix32(p.AcquireFrame(3));
    CallSource(C, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout);
  }
}

// ---- the transfer

// Copies a strip's rows into Image, clipped to its size.
void CopyStrip(TRvBitmap& Image, int BitsPerPixel, const std::uint8_t* Data, TW_UINT32 BytesPerRow,
               TW_UINT32 Columns, TW_UINT32 Rows, TW_UINT32 XOffset, TW_UINT32 YOffset) {
  const auto width = static_cast<TW_UINT32>(Image.Width());
  const auto height = static_cast<TW_UINT32>(Image.Height());
  if (XOffset >= width) return;
  const int columns = static_cast<int>(std::min(Columns, width - XOffset));
  for (TW_UINT32 r = 0; r < Rows; ++r) {
    const TW_UINT32 y = YOffset + r;
    // Rows past the size the source announced have no place to go.
    if (y >= height || y < YOffset) break;
    const std::uint8_t* src = Data + static_cast<std::size_t>(r) * BytesPerRow;
    std::uint8_t* dst = Image.Scanline(static_cast<int>(y));
    if (BitsPerPixel == 24) {
      RvCopyBGRToRGB(dst + 3 * static_cast<std::size_t>(XOffset), src, columns);
    } else if (BitsPerPixel == 8) {
      std::uint8_t* d = dst + 3 * static_cast<std::size_t>(XOffset);
      for (int x = 0; x < columns; ++x, d += 3) d[0] = d[1] = d[2] = src[x];
    } else {
      RvCopyBits(dst, src, XOffset, BytesPerRow, columns, 0);
    }
  }
}

bool StripFits(TW_UINT32 BytesPerRow, TW_UINT32 Columns, TW_UINT32 Rows, int BitsPerPixel, TW_UINT32 Length) {
  const std::uint64_t need = BitsPerPixel == 1 ? (static_cast<std::uint64_t>(Columns) + 7) / 8
                                               : static_cast<std::uint64_t>(Columns) * (BitsPerPixel / 8);
  return BytesPerRow >= need && static_cast<std::uint64_t>(BytesPerRow) * Rows <= Length;
}

// The description of the coming picture; false ends the transfer.
bool DescribeImage(TConnection& C) {
  TW_IMAGEINFO info;
  if (CallSource(C, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS) {
    RecordError(C);
    return false;
  }
  int bits = info.BitsPerPixel;
  if (bits >= 1 && bits <= 8 && info.PixelType == TWPT_BW) bits = 1;
  if (bits != 1 && bits != 8 && bits != 24) {
    // Depths we cannot place ourselves come as a native picture.
    C.Buffered = false;
  }
  C.BitsPerPixel = bits;
  if (C.IOParams != nullptr) {
    TIOParamsVals& io = *C.IOParams;
    if (info.BitsPerPixel >= 1 && info.BitsPerPixel <= 8) {
      io.BitsPerSample = info.BitsPerPixel;
      io.SamplesPerPixel = 1;
    } else if (info.BitsPerPixel == 24) {
      io.BitsPerSample = 8;
      io.SamplesPerPixel = 3;
    }
    io.DpiX = RvRound(TwainFromFix32(info.XResolution));
    io.DpiY = RvRound(TwainFromFix32(info.YResolution));
    io.Width = info.ImageWidth;
    io.Height = info.ImageLength;
    io.FreeColorMap();
  }
  if (info.ImageWidth < 0 || info.ImageLength < 0) C.UndefinedSize = true;
  if (info.ImageWidth == 0 || info.ImageLength == 0) return false;
  if (info.PixelType > TWPT_RGB || info.Planar != 0) C.Buffered = false;
  C.Image = std::make_unique<TRvBitmap>();
  if (!C.UndefinedSize) {
    const std::int64_t pixels = static_cast<std::int64_t>(info.ImageWidth) * info.ImageLength;
    if (pixels > RvMaxPixels()) return false;
    try {
      C.Image->Allocate(info.ImageWidth, info.ImageLength, bits == 1 ? rvpf1Bit : rvpf24Bit);
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (C.Progress != nullptr) C.Progress->Per = 100.0 / info.ImageLength;
  }
  return true;
}

void ReportStrip(TConnection& C, TW_UINT32 YOffset, TW_UINT32 Rows) {
  if (C.Progress == nullptr || !C.Progress->OnProgress || C.UndefinedSize) return;
  C.Progress->OnProgress(C.Progress->Sender,
                         static_cast<int>((static_cast<double>(YOffset) + Rows) * C.Progress->Per));
}

// Places the strips kept for a page whose size came only with its end.
bool PlaceKeptStrips(TConnection& C) {
  TW_UINT32 width = 0, height = 0;
  for (const TKeptStrip& s : C.Kept) {
    width = std::max(width, s.XOffset + s.Columns);
    height = std::max(height, s.YOffset + s.Rows);
  }
  if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return false;
  try {
    C.Image->Allocate(static_cast<int>(width), static_cast<int>(height),
                      C.BitsPerPixel == 1 ? rvpf1Bit : rvpf24Bit);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (const TKeptStrip& s : C.Kept)
    CopyStrip(*C.Image, C.BitsPerPixel, s.Data.data(), s.BytesPerRow, s.Columns, s.Rows, s.XOffset, s.YOffset);
  C.Kept.clear();
  if (C.IOParams != nullptr) {
    C.IOParams->Width = static_cast<int>(width);
    C.IOParams->Height = static_cast<int>(height);
  }
  return true;
}

void TransferNative(TConnection& C) {
  TW_HANDLE dib = nullptr;
  const TW_UINT16 rc = CallSource(C, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib);
  if (rc == TWRC_XFERDONE && dib != nullptr) {
    // The block's length follows from its header.
    platform::TBitmapInfoHeader h;
    std::memcpy(&h, dib, sizeof h);
    const std::uint64_t colours =
        h.biBitCount <= 8 ? (h.biClrUsed != 0 ? h.biClrUsed : (1ull << h.biBitCount)) : 0;
    const std::uint64_t rows = static_cast<std::uint64_t>(h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight);
    const std::uint64_t stride = (static_cast<std::uint64_t>(h.biWidth > 0 ? h.biWidth : 0) * h.biBitCount + 31) / 32 * 4;
    const std::uint64_t size = 40 + 4 * colours + stride * rows;
    const bool ok = size < (1ull << 40) &&
                    RvVideoFrameToBitmap(dib, static_cast<std::size_t>(size), C.Image.get(), nullptr, 0) != 0;
    TwainFree(dib);
    C.State = 7;
    C.Acquired = ok && C.Image->Width() > 0;
    if (C.Acquired && C.IOParams != nullptr) {
      C.IOParams->Width = C.Image->Width();
      C.IOParams->Height = C.Image->Height();
    }
    return;
  }
  TwainFree(dib);
  if (rc == TWRC_CANCEL) {
    C.State = 7;
  } else {
    if (rc == TWRC_FAILURE) RecordError(C);
    C.State = 6;
  }
  if ((rc == TWRC_CANCEL || rc == TWRC_FAILURE) && C.HideUI) C.CloseAfterTransfer = true;
}

bool StartMemoryTransfer(TConnection& C) {
  TW_SETUPMEMXFER setup;
  if (CallSource(C, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS || setup.Preferred == 0) {
    RecordError(C);
    return false;
  }
  C.BufferSize = setup.Preferred;
  C.Buffer = TwainAlloc(C.BufferSize);
  C.Kept.clear();
  C.KeptPixels = 0;
  return C.Buffer != nullptr;
}

// Takes strips until the deadline; true when the transfer has ended.
bool TransferStrips(TConnection& C, std::chrono::steady_clock::time_point Deadline) {
  for (;;) {
    TW_IMAGEMEMXFER xfer;
    xfer.Compression = TWON_DONTCARE16;
    xfer.BytesPerRow = xfer.Columns = xfer.Rows = xfer.XOffset = xfer.YOffset = xfer.BytesWritten =
        TWON_DONTCARE32;
    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_HANDLE;
    xfer.Memory.Length = C.BufferSize;
    xfer.Memory.TheMem = C.Buffer;
    const TW_UINT16 rc = CallSource(C, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
    C.TransferResult = rc;
    if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) {
      if (rc == TWRC_FAILURE) RecordError(C);
      return true;
    }
    C.State = 7;
    const auto* data = static_cast<const std::uint8_t*>(C.Buffer);
    if (!StripFits(xfer.BytesPerRow, xfer.Columns, xfer.Rows, C.BitsPerPixel, C.BufferSize)) {
      // A strip that does not fit its buffer is not read.
      C.TransferResult = TWRC_FAILURE;
      return true;
    }
    if (C.UndefinedSize) {
      // Kept until the size is known, but never beyond what a picture may hold.
      const std::int64_t pixels = static_cast<std::int64_t>(xfer.Columns) * xfer.Rows;
      if (C.KeptPixels + pixels <= RvMaxPixels()) {
        C.KeptPixels += pixels;
        C.Kept.push_back({xfer.BytesPerRow, xfer.Columns, xfer.Rows, xfer.XOffset, xfer.YOffset,
                          std::vector<std::uint8_t>(data, data + static_cast<std::size_t>(xfer.BytesPerRow) * xfer.Rows)});
      }
    } else {
      CopyStrip(*C.Image, C.BitsPerPixel, data, xfer.BytesPerRow, xfer.Columns, xfer.Rows, xfer.XOffset,
                xfer.YOffset);
    }
    ReportStrip(C, xfer.YOffset, xfer.Rows);
    if (rc == TWRC_XFERDONE) return true;
    if (C.Progress != nullptr && C.Progress->IsAborting()) {
      C.TransferResult = TWRC_CANCEL;
      return true;
    }
    if (std::chrono::steady_clock::now() >= Deadline) return false;
  }
}

void FinishMemoryTransfer(TConnection& C) {
  TwainFree(C.Buffer);
  C.Buffer = nullptr;
  if (C.TransferResult == TWRC_XFERDONE) {
    C.Acquired = !C.UndefinedSize || PlaceKeptStrips(C);
  } else if (C.TransferResult == TWRC_CANCEL && C.State == 6) {
    C.State = 7;
  }
  C.Kept.clear();
  if ((C.TransferResult == TWRC_CANCEL || C.TransferResult == TWRC_FAILURE) && C.HideUI)
    C.CloseAfterTransfer = true;
}

void EndTransfer(TConnection& C) {
  TW_PENDINGXFERS pending;
  if (C.State >= 6 && Step(C, CallSource(C, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), 5) &&
      pending.Count != 0)
    C.State = 6;
  if (C.State == 6) {
    if (CallSource(C, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending) == TWRC_SUCCESS) C.State = 5;
  }
  // Without the source's window nobody could ask for a second picture.
  if (C.HideUI) C.CloseAfterTransfer = true;
  C.TransferRunning = false;
  if (C.CloseAfterTransfer) DisableSource(C);
}

// The message loop of an acquisition: every event that reaches the proxy
// is first offered to the source.
class TAcquireLoop : public QObject {
public:
  TAcquireLoop(TConnection& C, QObject* Proxy) : FC(C), FProxy(Proxy) {
    static const int type = QEvent::registerEventType();
    FContinueType = type;
    Proxy->installEventFilter(this);
  }
  ~TAcquireLoop() override {
    if (FProxy) FProxy->removeEventFilter(this);
  }

  void Run() {
    if (Done()) return;
    FLoop.exec();
  }

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Watched != FProxy) return false;
    if (Event->type() == FContinueType) {
      ContinueTransfer();
      return true;
    }
    TW_EVENT e;
    e.pEvent = Event;
    e.TWMessage = MSG_NULL;
    if (CallSource(FC, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &e) != TWRC_DSEVENT) return false;
    switch (e.TWMessage) {
    case MSG_XFERREADY:
      if (!FC.TransferRunning) {
        FC.State = 6;
        StartTransfer();
      }
      break;
    case MSG_CLOSEDSREQ: DisableSource(FC); break;
    default: break;
    }
    if (Done()) FLoop.quit();
    return true;
  }

private:
  bool Done() const { return FC.State < 5 || FC.Acquired; }

  void StartTransfer() {
    FC.TransferRunning = true;
    FC.Image.reset();
    FC.UndefinedSize = false;
    if (!DescribeImage(FC)) {
      if (FC.HideUI) FC.CloseAfterTransfer = true;
      EndTransfer(FC);
      return;
    }
    if (!FC.Buffered) {
      TransferNative(FC);
      EndTransfer(FC);
      return;
    }
    if (!StartMemoryTransfer(FC)) {
      FC.TransferResult = TWRC_FAILURE;
      FinishMemoryTransfer(FC);
      EndTransfer(FC);
      return;
    }
    PostContinue();
  }

  void PostContinue() {
    QCoreApplication::postEvent(FProxy, new QEvent(static_cast<QEvent::Type>(FContinueType)));
  }

  // A page is taken in slices, so that the caller's windows keep being
  // served while a large one comes in.
  void ContinueTransfer() {
    if (!FC.TransferRunning) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(3);
    if (!TransferStrips(FC, deadline)) {
      PostContinue();
      return;
    }
    FinishMemoryTransfer(FC);
    EndTransfer(FC);
    if (Done()) FLoop.quit();
  }

  TConnection& FC;
  QPointer<QObject> FProxy;
  QEventLoop FLoop;
  int FContinueType = 0;
};

void PutIdentity(TConnection& C, const TRvTWainParams& P) {
  SetText(C.App.Version.Info, P.VersionInfo());
  SetText(C.App.Manufacturer, P.Manufacturer());
  SetText(C.App.ProductFamily, P.ProductFamily());
  SetText(C.App.ProductName, P.ProductName());
}

// Gives the target the acquired picture's pixels.
void Deliver(TConnection& C, TRvBitmap* Target) {
  Target->RemoveAlphaChannel();
  if (Target->Location() == rvlTBitmap)
    Target->Assign(C.Image.get());
  else
    C.Image->MoveStorageTo(Target);
  C.Image.reset();
  if (Target->PixelFormat() == rvpf1Bit && C.Vanilla) RvNegativeBits(Target);
}

} // namespace

// ------------------------------------------------------------ jobs

bool TwainSelectSource(std::string& Name, TRvTWainShared& Shared, QWidget* ParentWindow) {
  TConnection c;
  InitConnection(c, Shared, ParentWindow);
  QPointer<QWidget> active = QApplication::activeWindow();
  EnsureProxy(Shared, ParentWindow);
  bool result = false;
  if (LoadManager(c) && OpenManager(c)) {
    TW_IDENTITY chosen;
    if (CallManager(c, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &chosen) == TWRC_SUCCESS) {
      Name = chosen.ProductName;
      result = true;
    }
  }
  EndJob(c);
  if (active) active->activateWindow();
  return result;
}

void TwainListSources(std::vector<TW_IDENTITY>& List, TRvTWainShared& Shared, QWidget* ParentWindow) {
  List.clear();
  TConnection c;
  InitConnection(c, Shared, ParentWindow);
  QPointer<QWidget> active = QApplication::activeWindow();
  EnsureProxy(Shared, ParentWindow);
  if (LoadManager(c) && OpenManager(c)) {
    TW_IDENTITY id;
    TW_UINT16 rc = CallManager(c, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id);
    while (rc == TWRC_SUCCESS) {
      if (id.ProductName[0] != '\0') List.push_back(id);
      rc = CallManager(c, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id);
    }
  }
  EndJob(c);
  if (active) active->activateWindow();
}

void TwainReadSourcesAhead(TRvTWainShared& Shared) {
  // No connection: the proxy window is made on the user-interface thread,
  // by the job.
  if (LoadSharedManager(Shared)) TwainReadDevicesAhead(Shared.Module);
}

void TwainForgetSourcesAhead() { TwainForgetDevicesAhead(); }

void TwainReadCapabilities(TRvTWainParams& P, TRvTWainShared& Shared, QWidget* ParentWindow) {
  TConnection c;
  InitConnection(c, Shared, ParentWindow);
  EnsureProxy(Shared, ParentWindow);
  if (LoadManager(c) && OpenManager(c) && OpenSource(c, P.SelectedSourceName())) {
    SetUnitsToInches(c);
    ReadList(c, ICAP_XRESOLUTION, P.FXResolution, true);
    ReadList(c, ICAP_YRESOLUTION, P.FYResolution, true);
    ReadList(c, ICAP_XSCALING, P.FXScaling);
    ReadList(c, ICAP_YSCALING, P.FYScaling);
    ReadList(c, ICAP_CONTRAST, P.FContrast);
    ReadList(c, ICAP_BRIGHTNESS, P.FBrightness);
    double threshold = 0;
    if (ReadCurrent(c, ICAP_THRESHOLD, threshold)) P.FThreshold = static_cast<int>(threshold);
    ReadList(c, ICAP_PIXELTYPE, P.FPixelType);
    ReadCurrent(c, ICAP_GAMMA, P.FGamma);
    ReadCurrent(c, ICAP_PHYSICALHEIGHT, P.FPhysicalHeight);
    ReadCurrent(c, ICAP_PHYSICALWIDTH, P.FPhysicalWidth);
    ReadBool(c, CAP_FEEDERENABLED, P.FFeederEnabled);
    ReadBool(c, CAP_AUTOFEED, P.FAutoFeed);
    ReadBool(c, CAP_FEEDERLOADED, P.FFeederLoaded);
    ReadBool(c, CAP_PAPERDETECTABLE, P.FPaperDetectable);
    ReadBool(c, CAP_DUPLEXENABLED, P.FDuplexEnabled);
    ReadBool(c, CAP_DUPLEX, P.FDuplexSupported);
    ReadList(c, ICAP_ORIENTATION, P.FOrientation);
    ReadList(c, ICAP_SUPPORTEDSIZES, P.FStandardSize);
    ReadBool(c, CAP_INDICATORS, P.FProgressIndicators);
    if (P.FAcquireFrameEnabled) {
      TW_IMAGELAYOUT layout;
      if (CallSource(c, DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout) == TWRC_SUCCESS) {
        P.FAcquireFrame[0] = TwainFromFix32(layout.Frame.Left);
        P.FAcquireFrame[1] = TwainFromFix32(layout.Frame.Top);
        P.FAcquireFrame[2] = TwainFromFix32(layout.Frame.Right);
        P.FAcquireFrame[3] = TwainFromFix32(layout.Frame.Bottom);
      }
    }
  }
  EndJob(c);
}

bool TwainAcquire(TRvBitmap* Target, TRvTWainParams& Params, QWidget* ParentWindow, TRvTWainShared& Shared,
                  TRvProgressRec& Progress, TIOParamsVals* IOParams) {
  if (Target == nullptr) return false;
  TConnection c;
  InitConnection(c, Shared, ParentWindow);
  PutIdentity(c, Params);
  c.Params = &Params;
  c.IOParams = IOParams;
  c.Progress = &Progress;
  c.HideUI = !Params.VisibleDialog;
  c.Buffered = Params.BufferedTransfer();
  QPointer<QWidget> active = QApplication::activeWindow();
  QObject* proxy = EnsureProxy(Shared, ParentWindow);
  // The caller's record is filled only when a picture arrives.
  TIOParamsVals description;
  if (IOParams != nullptr) {
    description.Assign(*IOParams);
    c.IOParams = &description;
  }
  if (!LoadManager(c) || !OpenManager(c) || !OpenSource(c, Params.SelectedSourceName())) {
    EndJob(c);
    return false;
  }
  Negotiate(c);
  if (!EnableSource(c)) {
    EndJob(c);
    return false;
  }
  SetProxyEnabled(proxy, false);
  {
    TAcquireLoop loop(c, proxy);
    loop.Run();
  }
  SetProxyEnabled(Shared.ProxyWindow, true);
  EndJob(c);
  const bool acquired = c.Acquired && c.Image != nullptr;
  if (acquired) {
    Deliver(c, Target);
    if (IOParams != nullptr) IOParams->Assign(description);
  }
  if (active) active->activateWindow();
  return acquired;
}

void TwainReleaseShared(TRvTWainShared& Shared) {
  delete Shared.ProxyWindow.data();
  Shared.ProxyWindow = nullptr;
  if (Shared.Module != nullptr) TwainFreeManager(Shared.Module);
  Shared.Module = nullptr;
  Shared.Entry = nullptr;
}

} // namespace rv
