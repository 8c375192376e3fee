// How an input/output component acquires from a scanner: which source, its
// window or none, the capability values to send, the transfer mode and the
// identity announced to the source manager. It also keeps what the selected
// source offers, read once on first need and again after another source is
// selected.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "image/io/twain/rvtwain.h"
#include "image/model/rvlists.h"

class QWidget;

namespace rv {

// The multi-image component scans from the feeder, both sides, by default.
enum TRvTWainOwnerKind : std::uint8_t { rvtoIO, rvtoMultiIO };

class TRvTWainParams {
public:
  explicit TRvTWainParams(TRvTWainOwnerKind OwnerKind = rvtoIO);
  // Releases the shared manager and window.
  virtual ~TRvTWainParams();
  TRvTWainParams(const TRvTWainParams&) = delete;
  TRvTWainParams& operator=(const TRvTWainParams&) = delete;

  // Every field back to its default; the source list is emptied.
  void SetDefaults();

  // The window that parents the scanner's windows (the owner's).
  std::function<QWidget*()> OwnerWindow;
  QWidget* OwnerWindowHandle() const { return OwnerWindow ? OwnerWindow() : nullptr; }

  // Show the source's own window while acquiring.
  bool VisibleDialog = true;

  // ---- Capabilities: each getter first reads the source's capabilities
  // when that has not happened yet.
  TRvDoubleList& XResolution();
  TRvDoubleList& YResolution();
  TRvDoubleList& XScaling();
  TRvDoubleList& YScaling();
  TRvDoubleList& Contrast();
  TRvDoubleList& Brightness();
  TRvIntegerList& PixelType();
  TRvIntegerList& Orientation();
  TRvIntegerList& StandardSize();
  // Sent only when not 128.
  int Threshold();
  void SetThreshold(int Value) { FThreshold = Value; }
  bool FeederEnabled();
  void SetFeederEnabled(bool Value) { FFeederEnabled = Value; }
  bool AutoFeed();
  void SetAutoFeed(bool Value) { FAutoFeed = Value; }
  bool DuplexEnabled();
  void SetDuplexEnabled(bool Value) { FDuplexEnabled = Value; }
  bool AcquireFrameEnabled();
  void SetAcquireFrameEnabled(bool Value) { FAcquireFrameEnabled = Value; }
  bool ProgressIndicators();
  void SetProgressIndicators(bool Value) { FProgressIndicators = Value; }
  // Side 0 left, 1 top, 2 right, 3 bottom, in inches; others give 0.
  double AcquireFrame(int Side);
  void SetAcquireFrame(int Side, double Value);

  bool UndefinedImageSize() const { return FUndefinedImageSize; }
  void SetUndefinedImageSize(bool Value) { FUndefinedImageSize = Value; }
  bool BufferedTransfer() const { return FBufferedTransfer; }
  void SetBufferedTransfer(bool Value) { FBufferedTransfer = Value; }

  // Read from the source only.
  double Gamma() const { return FGamma; }
  double PhysicalWidth() const { return FPhysicalWidth; }
  double PhysicalHeight() const { return FPhysicalHeight; }
  bool FeederLoaded() const { return FFeederLoaded; }
  bool DuplexSupported() const { return FDuplexSupported; }
  bool PaperDetectable() const { return FPaperDetectable; }

  // ---- The identity announced to the manager, each cut to 32 characters.
  const std::string& VersionInfo() const { return FVersionInfo; }
  const std::string& Manufacturer() const { return FManufacturer; }
  const std::string& ProductFamily() const { return FProductFamily; }
  const std::string& ProductName() const { return FProductName; }
  void SetVersionInfo(const std::string& Value);
  void SetManufacturer(const std::string& Value);
  void SetProductFamily(const std::string& Value);
  void SetProductName(const std::string& Value);

  // ---- Sources
  void ReadCapabilities();
  void FillSourceList();
  int SourceCount();
  // Empty when N is not a source.
  std::string SourceName(int N);
  // Selects the first source whose name begins with Name in any letter
  // case; false when none does.
  bool SetSourceByName(const std::string& Name);
  int SelectedSource() const { return FSelectedSource; }
  // Another source has its capabilities read at once.
  void SetSelectedSource(int N);
  // The product name of the selected source when the list was filled and
  // the index is in it; empty otherwise (the manager's default source).
  std::string SelectedSourceName() const;

  TRvTWainShared& Shared() { return FShared; }

private:
  friend void TwainReadCapabilities(TRvTWainParams&, TRvTWainShared&, QWidget*);
  friend bool TwainAcquire(TRvBitmap*, TRvTWainParams&, QWidget*, TRvTWainShared&,
                           TRvProgressRec&, TIOParamsVals*);

  TRvTWainOwnerKind FOwnerKind;
  std::vector<platform::TW_IDENTITY> FSources;
  int FSelectedSource = 0;
  bool FSourcesListed = false;
  bool FCapabilitiesRead = false;
  TRvDoubleList FXResolution, FYResolution, FXScaling, FYScaling;
  TRvIntegerList FPixelType;
  double FGamma = 2.2;
  double FPhysicalHeight = 0;
  double FPhysicalWidth = 0;
  bool FFeederEnabled = false;
  TRvIntegerList FOrientation;
  bool FProgressIndicators = true;
  double FAcquireFrame[4] = {0, 0, 0, 0};
  bool FBufferedTransfer = true;
  bool FDuplexEnabled = false;
  bool FAcquireFrameEnabled = false;
  bool FFeederLoaded = false;
  bool FDuplexSupported = false;
  bool FPaperDetectable = false;
  TRvDoubleList FContrast, FBrightness;
  int FThreshold = 128;
  bool FUndefinedImageSize = false;
  TRvIntegerList FStandardSize;
  bool FAutoFeed = false;
  std::string FVersionInfo, FManufacturer, FProductFamily, FProductName;
  TRvTWainShared FShared;
};

} // namespace rv
