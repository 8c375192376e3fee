#include "image/views/rastrum.h"

namespace rv {

TRastrum::TRastrum(QWidget* AOwner)
    : TRastrumView(AOwner), FInOut(GetIO()), FProcessing(GetProc()) {}

void TRastrum::SetMsgLanguage(TMsgLanguage Value) {
  FProcessing->MsgLanguage = Value;
  FInOut->MsgLanguage = Value;
}

void TRastrum::SetPreviewFont(const platform::TFont& Value) {
  FInOut->SetPreviewFont(Value);
  FProcessing->SetPreviewFont(Value);
}

void TRastrum::LoadFromFile(const std::string& FileName) { FInOut->LoadFromFile(FileName); }
void TRastrum::SaveToFile(const std::string& FileName) { FInOut->SaveToFile(FileName); }
void TRastrum::ParamsFromFile(const std::string& FileName) { FInOut->ParamsFromFile(FileName); }
void TRastrum::ParamsFromStream(platform::TStream& Stream) { FInOut->ParamsFromStream(Stream); }

void TRastrum::ParamsFromFileFormat(const std::string& FileName, TRvFileType Format) {
  FInOut->ParamsFromFileFormat(FileName, Format);
}

void TRastrum::ParamsFromStreamFormat(platform::TStream& Stream, TRvFileType Format) {
  FInOut->ParamsFromStreamFormat(Stream, Format);
}

void TRastrum::Assign(const TRastrumView* Source) {
  if (const auto* other = dynamic_cast<const TRastrum*>(Source); other != nullptr && other != this)
    FInOut->AssignParams(&other->IOParams());
  TRastrumView::Assign(Source);
}

void TRastrum::Assign(const TRastrumIO* Source) {
  if (Source != nullptr) FInOut->AssignParams(Source);
}

} // namespace rv
