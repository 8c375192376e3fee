// The main window's question about the shown picture's edit, in one place:
// whether it is up (or its answer is being acted on), the close that waits
// for its answer or for a command waiting for the picture it acts on, and the
// answer that lets the edit go unsaved. That answer covers the step, the edit
// and the file it was given for: a new step of the user's, a change of the
// picture or of its edit leave it nothing to cover, so nothing has to forget
// it.
#pragma once

#include "app/pictureutil.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QEventLoop;

namespace app {

class TEditQuestion {
public:
  // Held while the question is up or its answer is acted on (a save, the
  // save-as dialog). Scopes nest; when the last of them and of the read
  // waits ends, a close that waited runs. An exception leaves nothing set.
  class TAsking {
  public:
    explicit TAsking(TEditQuestion& Question);
    ~TAsking();
    TAsking(const TAsking&) = delete;
    TAsking& operator=(const TAsking&) = delete;

  private:
    TEditQuestion& FQuestion;
  };

  // Held while a command waits in Loop for the picture it acts on.
  class TReadWait {
  public:
    TReadWait(TEditQuestion& Question, QEventLoop& Loop);
    ~TReadWait();
    TReadWait(const TReadWait&) = delete;
    TReadWait& operator=(const TReadWait&) = delete;

  private:
    TEditQuestion& FQuestion;
    QEventLoop& FLoop;
  };

  bool Asking() const { return FAsking > 0; }
  // Ends the current turn of every read wait: each looks again at what it
  // waits for.
  void WakeReadWaits();

  // ---- The close
  // A close came: true when it waits, for the answer of the question up or
  // for the command that waits for a read; it runs once they are done.
  bool CloseMustWait();
  bool CloseWaits() const { return FCloseWaits; }
  // The answer of the question the close waited for; LetsGo: it let the
  // picture go.
  void AnswerClose(bool LetsGo);
  // For the close that runs now: whether the answer it waited for lets the
  // picture go as it is now. Taken once.
  bool TakeCloseAnswer();
  // Runs the close that waited (the window queues it).
  std::function<void()> RunClose;
  // Runs, when no close waits, each time the question and the commands that
  // waited for a read are all done (the window queues what waited).
  std::function<void()> RunSettled;
  // A termination signal's close is on its way.
  bool SessionEnding() const { return FSessionEnding; }
  void SetSessionEnding(bool Ending) { FSessionEnding = Ending; }

  // ---- Steps and the answer
  // A step of the user's begins (input, a hand-off, a close): an answer of an
  // earlier one covers it no more. Nothing begins while the question is up.
  void NewStep();
  // The picture shown or its edit changed (read, saved, cleared, edited).
  void PictureChanged();
  // The user lets the edit go unsaved, for this step and this edit, the file
  // at Path being as it is now.
  void LetGo(const std::string& Path);
  // The answer given was for a delete or a move of the file: it covers later
  // steps too, once the file at its path is no longer the one it was given
  // for.
  void LetGoWithFile();
  // Whether an answer lets the edit of the picture shown from Path go.
  bool LetsGo(const std::string& Path) const;

private:
  void Settle();

  int FAsking = 0;
  // The loops of the read waits, innermost last.
  std::vector<QEventLoop*> FReadWaits;
  bool FCloseWaits = false;
  bool FSessionEnding = false;
  unsigned FStep = 0;
  unsigned FPicture = 0;
  struct TAnswer {
    unsigned Step;
    unsigned Picture;
    TFileIdentity File;
    bool TakesFile;
  };
  std::optional<TAnswer> FAnswer;
  // The picture the close's answer was given for.
  std::optional<unsigned> FCloseAnswer;
};

} // namespace app
