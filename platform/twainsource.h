// One open source of the SANE manager: a SANE device with its options seen
// as capabilities, its scan worker, its windows and its transfers. Used by
// the manager only (twainsane.cpp).
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sane/sane.h>

#include "platform/twain.h"

class QDialog;
class QProgressDialog;

namespace platform::twainsane {

// A page as the source hands it out: rows of BytesPerRow bytes, top row
// first; 1 bit (most significant bit leftmost), 8-bit gray or red, green,
// blue.
struct TPage {
  int Width = 0;
  int Height = 0;
  int BitsPerPixel = 0;
  int BytesPerRow = 0;
  double DpiX = 0;
  double DpiY = 0;
  // The device did not know the page's length before the scan.
  bool UnknownLength = false;
  std::vector<std::uint8_t> Rows;
};

// SANE's options by name, with numbers as doubles.
class TSaneOptions {
public:
  explicit TSaneOptions(SANE_Handle Handle) : FHandle(Handle) {}
  // -1 when the device has no such option.
  int Find(const char* Name) const;
  const SANE_Option_Descriptor* Descriptor(int Index) const;
  // The option exists, is active and can be set by software.
  bool Usable(int Index) const;
  bool GetNumber(int Index, double& Value) const;
  bool SetNumber(int Index, double Value);
  bool GetString(int Index, std::string& Value) const;
  bool SetString(int Index, const std::string& Value);
  // The range of a numeric option (step 0 when none), or its word list.
  bool Range(int Index, double& Min, double& Max, double& Step) const;
  std::vector<double> WordList(int Index) const;
  std::vector<std::string> StringList(int Index) const;
  // A millimetre option in inches (pixel units through the resolution).
  bool GetInches(int Index, double& Inches) const;
  bool SetInches(int Index, double Inches);
  double CurrentDpi() const;

private:
  SANE_Handle FHandle;
};

// What the worker reads; shared between it and the source.
struct TScanJob {
  SANE_Handle Handle = nullptr;
  bool Chocolate = true;
  std::int64_t PixelLimit = 0;
  double DpiX = 0;
  double DpiY = 0;
  std::atomic<bool> Cancelled{false};
  // The worker's thread id, once it runs.
  std::atomic<int> Worker{0};
  std::atomic<int> Percent{0};
  SANE_Status Status = SANE_STATUS_GOOD;
  TPage Page;
};

// Runs one scan on the worker: sane_start, sane_read to the end of the
// last frame, sane_cancel. Rows are converted to the page's layout as they
// come; the status ends in Job.Status.
void RunScan(TScanJob& Job);

// Cancels the job's pass; from any thread.
void CancelPass(TScanJob& Job);

// The condition code a SANE failure stands for.
TW_UINT16 ConditionOfStatus(SANE_Status Status);

class TSaneSource {
public:
  TSaneSource(TW_UINT32 Id, std::string Device, SANE_Handle Handle);
  ~TSaneSource();
  TSaneSource(const TSaneSource&) = delete;
  TSaneSource& operator=(const TSaneSource&) = delete;

  TW_UINT32 Id() const { return FId; }
  const std::string& Device() const { return FDevice; }
  SANE_Handle Handle() const { return FHandle; }
  int State() const { return FState; }
  TW_UINT16 Condition() const { return FCondition; }

  TW_UINT16 Capability(TW_UINT16 MSG, TW_CAPABILITY& Cap);
  TW_UINT16 ImageLayout(TW_UINT16 MSG, TW_IMAGELAYOUT& Layout);
  TW_UINT16 Enable(const TW_USERINTERFACE& UI, const std::string& Title);
  TW_UINT16 Disable();
  TW_UINT16 ProcessEvent(TW_EVENT& Event);
  TW_UINT16 ImageInfo(TW_IMAGEINFO& Info);
  TW_UINT16 SetupMemXfer(TW_SETUPMEMXFER& Setup);
  TW_UINT16 MemXfer(TW_IMAGEMEMXFER& Xfer);
  TW_UINT16 NativeXfer(TW_HANDLE* Handle);
  TW_UINT16 PendingXfers(TW_UINT16 MSG, TW_PENDINGXFERS& Pending);

  // Used by the source's own window.
  TSaneOptions& Options() { return FOptions; }
  std::vector<TW_UINT16> PixelTypes() const;
  TW_UINT16 CurrentPixelType() const;
  bool SetPixelType(TW_UINT16 Type);
  void StartScan();
  void CancelScan();
  bool Scanning() const { return FWorker.joinable(); }
  int ScanPercent() const { return FJob ? FJob->Percent.load() : 0; }
  // The user closed the source's window.
  void RequestClose();

  // The event type of the source's messages to the application.
  static int MessageEventType();

private:
  TW_UINT16 Fail(TW_UINT16 ConditionCode);
  TW_UINT16 Succeed();
  TW_UINT16 GetCapability(TW_CAPABILITY& Cap);
  TW_UINT16 SetCapability(TW_CAPABILITY& Cap);
  TW_UINT16 ResolutionCapability(TW_CAPABILITY& Cap, bool X);
  TW_UINT16 RangeCapability(TW_CAPABILITY& Cap, const char* Option);
  TW_UINT16 ThresholdCapability(TW_CAPABILITY& Cap);
  TW_UINT16 Bool(TW_CAPABILITY& Cap, bool Value);
  TW_UINT16 Enumeration(TW_CAPABILITY& Cap, const std::vector<TW_UINT32>& Items, TW_UINT32 Current);
  int SourceIndex(const char* Kind) const;
  bool SelectSource(const char* Kind, bool On);
  void ScanFinished();
  void Post(TW_UINT16 Message);
  void CloseWindows();
  void JoinWorker();

  TW_UINT32 FId;
  std::string FDevice;
  SANE_Handle FHandle;
  TSaneOptions FOptions;
  int FState = 4;
  TW_UINT16 FCondition = TWCC_SUCCESS;

  // Capabilities the source keeps itself.
  bool FChocolate = false;
  bool FIndicators = true;
  bool FAutoFeed = false;
  bool FUndefinedSize = false;
  TW_UINT16 FXferMech = TWSX_NATIVE;

  // The application's proxy and the messages waiting for it.
  QPointer<QObject> FProxy;
  std::deque<TW_UINT16> FMessages;
  bool FShowUI = false;
  QPointer<QDialog> FDialog;
  QPointer<QProgressDialog> FProgress;
  // Queued calls from the worker land here; it goes with the source.
  std::unique_ptr<QObject> FNotifier;

  std::unique_ptr<TScanJob> FJob;
  std::thread FWorker;
  // The page of the running transfer.
  std::unique_ptr<TPage> FPage;
  SANE_Status FScanStatus = SANE_STATUS_GOOD;
  int FNextRow = 0;
};

// The source's own windows.
QDialog* MakeSourceDialog(TSaneSource& Source, QWidget* Parent, const std::string& Title);
// Refreshes the dialog after a scan ended (Error empty on success).
void SourceDialogScanEnded(QDialog* Dialog, const QString& Error);
void SourceDialogProgress(QDialog* Dialog, int Percent);
// The selection list; answers the chosen index or -1.
int RunSelectDialog(QWidget* Parent, const std::vector<std::string>& Names, int Current);

} // namespace platform::twainsane
