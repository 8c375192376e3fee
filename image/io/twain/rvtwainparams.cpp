#include "image/io/twain/rvtwainparams.h"

#include <cctype>

namespace rv {

TRvTWainParams::TRvTWainParams(TRvTWainOwnerKind OwnerKind) : FOwnerKind(OwnerKind) { SetDefaults(); }

TRvTWainParams::~TRvTWainParams() {
  TwainReleaseShared(FShared);
  SetDefaults();
}

void TRvTWainParams::SetDefaults() {
  const bool multi = FOwnerKind == rvtoMultiIO;
  VisibleDialog = true;
  FSources.clear();
  FSelectedSource = 0;
  FSourcesListed = false;
  FCapabilitiesRead = false;
  for (TRvList* list : {static_cast<TRvList*>(&FXResolution), static_cast<TRvList*>(&FYResolution),
                        static_cast<TRvList*>(&FXScaling), static_cast<TRvList*>(&FYScaling),
                        static_cast<TRvList*>(&FPixelType), static_cast<TRvList*>(&FOrientation),
                        static_cast<TRvList*>(&FContrast), static_cast<TRvList*>(&FBrightness),
                        static_cast<TRvList*>(&FStandardSize)})
    list->Clear();
  FGamma = 2.2;
  FPhysicalHeight = FPhysicalWidth = 0;
  FFeederEnabled = multi;
  FProgressIndicators = true;
  for (double& side : FAcquireFrame) side = 0;
  FBufferedTransfer = true;
  FDuplexEnabled = multi;
  FAcquireFrameEnabled = false;
  FFeederLoaded = FDuplexSupported = FPaperDetectable = false;
  FThreshold = 128;
  FUndefinedImageSize = false;
  FAutoFeed = multi;
  FVersionInfo.clear();
  FManufacturer.clear();
  FProductFamily.clear();
  FProductName.clear();
}

// ---- capabilities

TRvDoubleList& TRvTWainParams::XResolution() { ReadCapabilities(); return FXResolution; }
TRvDoubleList& TRvTWainParams::YResolution() { ReadCapabilities(); return FYResolution; }
TRvDoubleList& TRvTWainParams::XScaling() { ReadCapabilities(); return FXScaling; }
TRvDoubleList& TRvTWainParams::YScaling() { ReadCapabilities(); return FYScaling; }
TRvDoubleList& TRvTWainParams::Contrast() { ReadCapabilities(); return FContrast; }
TRvDoubleList& TRvTWainParams::Brightness() { ReadCapabilities(); return FBrightness; }
TRvIntegerList& TRvTWainParams::PixelType() { ReadCapabilities(); return FPixelType; }
TRvIntegerList& TRvTWainParams::Orientation() { ReadCapabilities(); return FOrientation; }
TRvIntegerList& TRvTWainParams::StandardSize() { ReadCapabilities(); return FStandardSize; }
int TRvTWainParams::Threshold() { ReadCapabilities(); return FThreshold; }
bool TRvTWainParams::FeederEnabled() { ReadCapabilities(); return FFeederEnabled; }
bool TRvTWainParams::AutoFeed() { ReadCapabilities(); return FAutoFeed; }
bool TRvTWainParams::DuplexEnabled() { ReadCapabilities(); return FDuplexEnabled; }
bool TRvTWainParams::AcquireFrameEnabled() { ReadCapabilities(); return FAcquireFrameEnabled; }
bool TRvTWainParams::ProgressIndicators() { ReadCapabilities(); return FProgressIndicators; }

double TRvTWainParams::AcquireFrame(int Side) {
  ReadCapabilities();
  return Side >= 0 && Side < 4 ? FAcquireFrame[Side] : 0;
}

void TRvTWainParams::SetAcquireFrame(int Side, double Value) {
  if (Side >= 0 && Side < 4) FAcquireFrame[Side] = Value;
}

// ---- identity

namespace {

std::string First32(const std::string& Value) { return Value.substr(0, 32); }

std::string Upper(std::string Text) {
  for (char& c : Text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return Text;
}

} // namespace

void TRvTWainParams::SetVersionInfo(const std::string& Value) { FVersionInfo = First32(Value); }
void TRvTWainParams::SetManufacturer(const std::string& Value) { FManufacturer = First32(Value); }
void TRvTWainParams::SetProductFamily(const std::string& Value) { FProductFamily = First32(Value); }
void TRvTWainParams::SetProductName(const std::string& Value) { FProductName = First32(Value); }

// ---- sources

void TRvTWainParams::ReadCapabilities() {
  if (FCapabilitiesRead) return;
  // Set first: a getter used while the capabilities are being read must
  // not start another reading.
  FCapabilitiesRead = true;
  TwainReadCapabilities(*this, FShared, OwnerWindowHandle());
}

void TRvTWainParams::FillSourceList() {
  if (FSourcesListed) return;
  FSources.clear();
  TwainListSources(FSources, FShared, OwnerWindowHandle());
  FSourcesListed = true;
}

int TRvTWainParams::SourceCount() {
  FillSourceList();
  return static_cast<int>(FSources.size());
}

std::string TRvTWainParams::SourceName(int N) {
  FillSourceList();
  if (N < 0 || N >= static_cast<int>(FSources.size())) return {};
  return FSources[static_cast<std::size_t>(N)].ProductName;
}

std::string TRvTWainParams::SelectedSourceName() const {
  if (!FSourcesListed || FSelectedSource < 0 || FSelectedSource >= static_cast<int>(FSources.size()))
    return {};
  return FSources[static_cast<std::size_t>(FSelectedSource)].ProductName;
}

bool TRvTWainParams::SetSourceByName(const std::string& Name) {
  // Every name begins with the empty text: it names no source.
  if (Name.empty()) return false;
  FillSourceList();
  const std::string wanted = Upper(Name);
  for (std::size_t i = 0; i < FSources.size(); ++i) {
    if (Upper(std::string(FSources[i].ProductName).substr(0, wanted.size())) != wanted) continue;
    if (static_cast<int>(i) != FSelectedSource) SetSelectedSource(static_cast<int>(i));
    return true;
  }
  return false;
}

void TRvTWainParams::SetSelectedSource(int N) {
  if (N == FSelectedSource) return;
  FSelectedSource = N;
  FCapabilitiesRead = false;
  ReadCapabilities();
}

} // namespace rv
