#include "app/editquestion.h"

#include <QEventLoop>

#include <algorithm>

namespace app {

TEditQuestion::TAsking::TAsking(TEditQuestion& Question) : FQuestion(Question) { ++FQuestion.FAsking; }

TEditQuestion::TAsking::~TAsking() {
  --FQuestion.FAsking;
  FQuestion.Settle();
}

TEditQuestion::TReadWait::TReadWait(TEditQuestion& Question, QEventLoop& Loop) : FQuestion(Question), FLoop(Loop) {
  FQuestion.FReadWaits.push_back(&FLoop);
}

TEditQuestion::TReadWait::~TReadWait() {
  std::erase(FQuestion.FReadWaits, &FLoop);
  FQuestion.Settle();
}

void TEditQuestion::WakeReadWaits() {
  for (QEventLoop* Loop : FReadWaits) Loop->quit();
}

bool TEditQuestion::CloseMustWait() {
  if (!Asking() && FReadWaits.empty()) return false;
  FCloseWaits = true;
  return true;
}

void TEditQuestion::AnswerClose(bool LetsGo) {
  if (LetsGo) FCloseAnswer = FPicture;
  else FCloseAnswer.reset();
}

bool TEditQuestion::TakeCloseAnswer() {
  const bool Answered = FCloseAnswer == FPicture;
  FCloseAnswer.reset();
  return Answered;
}

void TEditQuestion::Settle() {
  // A close that came meanwhile runs once the question is answered and the
  // commands that waited are done with the window.
  if (Asking() || !FReadWaits.empty()) return;
  if (!FCloseWaits) {
    if (RunSettled) RunSettled();
    return;
  }
  FCloseWaits = false;
  if (RunClose) RunClose();
}

void TEditQuestion::NewStep() {
  if (!Asking()) ++FStep;
}

void TEditQuestion::PictureChanged() { ++FPicture; }

void TEditQuestion::LetGo(const std::string& Path) { FAnswer = TAnswer{FStep, FPicture, TFileIdentity::Of(Path), false}; }

void TEditQuestion::LetGoWithFile() {
  if (FAnswer && FAnswer->Picture == FPicture) FAnswer->TakesFile = true;
}

bool TEditQuestion::LetsGo(const std::string& Path) const {
  if (!FAnswer || FAnswer->Picture != FPicture) return false;
  if (FAnswer->Step == FStep) return true;
  // The delete or move it was for took the file: the picture has none to
  // save to any more.
  return FAnswer->TakesFile && TFileIdentity::Of(Path) != FAnswer->File;
}

} // namespace app
