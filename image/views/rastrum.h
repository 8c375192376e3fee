// The plain picture control: a picture view whose input/output and
// processing components always exist, so that one control loads, saves,
// processes and shows pictures. Its settings are those of the two
// components.
#pragma once

#include <string>

#include "image/io/rastrumio.h"
#include "image/model/rastrumproc.h"
#include "image/views/rastrumview.h"

namespace platform {
class TStream;
}

namespace rv {

class TRastrum : public TRastrumView {
public:
  explicit TRastrum(QWidget* AOwner = nullptr);

  bool AutoUndo() const { return FProcessing->AutoUndo; }
  void SetAutoUndo(bool Value) { FProcessing->AutoUndo = Value; }
  // Read from the processing component, written to both.
  TMsgLanguage MsgLanguage() const { return FProcessing->MsgLanguage; }
  void SetMsgLanguage(TMsgLanguage Value);
  TPRPreviewsParams ProcPreviewsParams() const { return FProcessing->GetPreviewsParams(); }
  void SetProcPreviewsParams(TPRPreviewsParams Value) { FProcessing->SetPreviewsParams(Value); }
  TIOPreviewsParams IOPreviewsParams() const { return FInOut->GetPreviewsParams(); }
  void SetIOPreviewsParams(TIOPreviewsParams Value) { FInOut->SetPreviewsParams(Value); }
  // Read from the input/output component, written to both.
  const platform::TFont& PreviewFont() const { return FInOut->PreviewFont(); }
  void SetPreviewFont(const platform::TFont& Value);
  bool StreamHeaders() const { return FInOut->StreamHeaders; }
  void SetStreamHeaders(bool Value) { FInOut->StreamHeaders = Value; }
  const TRvPreviewEvent& OnPreview() const { return FProcessing->OnPreview; }
  void SetOnPreview(TRvPreviewEvent Value) { FProcessing->OnPreview = std::move(Value); }
  const TRvIOPreviewEvent& OnIOPreview() const { return FInOut->OnIOPreview; }
  void SetOnIOPreview(TRvIOPreviewEvent Value) { FInOut->OnIOPreview = std::move(Value); }
  TRvDialogsMeasureUnit DialogsMeasureUnit() const { return FInOut->DialogsMeasureUnit; }
  void SetDialogsMeasureUnit(TRvDialogsMeasureUnit Value) { FInOut->DialogsMeasureUnit = Value; }

  TIOParamsVals& IOParams() { return FInOut->Params(); }
  const TIOParamsVals& IOParams() const { return FInOut->Params(); }

  // The input/output component's operations of the same names.
  virtual void LoadFromFile(const std::string& FileName);
  virtual void SaveToFile(const std::string& FileName);
  virtual void ParamsFromFile(const std::string& FileName);
  virtual void ParamsFromStream(platform::TStream& Stream);
  virtual void ParamsFromFileFormat(const std::string& FileName, TRvFileType Format);
  virtual void ParamsFromStreamFormat(platform::TStream& Stream, TRvFileType Format);

  // A TRastrum brings its parameter record along with its picture.
  void Assign(const TRastrumView* Source) override;
  // The component's parameter record only.
  void Assign(const TRastrumIO* Source);
  using TRastrumView::Assign;

private:
  TRastrumIO* FInOut;
  TRastrumProc* FProcessing;
};

} // namespace rv
