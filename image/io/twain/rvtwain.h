// Scanners and cameras through the platform's scanner source manager: pick
// a source, list the sources, read a source's capabilities and acquire one
// picture, each job walking the protocol's states from the manager's
// loading to the transfer and back.
#pragma once

#include <QPointer>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/twain.h"
#include "platform/twainsane.h"

class QWidget;

namespace rv {

class TRvBitmap;
class TIOParamsVals;
class TRvTWainParams;
struct TRvProgressRec;

// The first error of the last job: the state it happened in, the return
// code and the condition code (both 0 outside states 2 to 5).
struct TRvTWainError {
  bool Set = false;
  int State = 0;
  platform::TW_UINT16 ReturnCode = 0;
  platform::TW_UINT16 ConditionCode = 0;
};

// What every job of one parameter object shares: the loaded manager and
// the hidden proxy window that parents the manager's windows and receives
// the source's messages (a plain object in a program without widgets).
struct TRvTWainShared {
  platform::TTwainManager* Module = nullptr;
  platform::DSMENTRYPROC Entry = nullptr;
  QPointer<QObject> ProxyWindow;
  TRvTWainError LastError;
};

// Shows the manager's selection window; true when a source was chosen,
// whose product name is then in Name (unchanged otherwise).
bool TwainSelectSource(std::string& Name, TRvTWainShared& Shared, QWidget* ParentWindow);
// List becomes the identity of every source with a name.
void TwainListSources(std::vector<platform::TW_IDENTITY>& List, TRvTWainShared& Shared,
                      QWidget* ParentWindow);
// Loads the manager and has it read its sources now, on the calling thread:
// a worker's, while the window answers. The jobs after it take that list
// instead of reading their own, until TwainForgetSourcesAhead.
void TwainReadSourcesAhead(TRvTWainShared& Shared);
void TwainForgetSourcesAhead();
// Fills the capability lists and values of Params from its source; a value
// that cannot be read stays as it was.
void TwainReadCapabilities(TRvTWainParams& Params, TRvTWainShared& Shared, QWidget* ParentWindow);
// One acquisition. True when a picture was transferred; Target and
// IOParams change only then.
bool TwainAcquire(TRvBitmap* Target, TRvTWainParams& Params, QWidget* ParentWindow,
                  TRvTWainShared& Shared, TRvProgressRec& Progress, TIOParamsVals* IOParams);
// Destroys the proxy window and unloads the manager.
void TwainReleaseShared(TRvTWainShared& Shared);

} // namespace rv
