#include "image/model/rvviewlink.h"

#include <algorithm>
#include <utility>

namespace rv {

TImage::~TImage() {
  // Each watcher is told once and forgotten before its call, so a watcher
  // that removes itself meanwhile changes nothing.
  while (!FNotify.empty()) {
    TEntry entry = std::move(FNotify.front());
    FNotify.erase(FNotify.begin());
    if (entry.Callback) entry.Callback(this);
  }
}

void TImage::Modified() {
  if (OnChange) OnChange(this);
}

int TImage::FreeNotification(std::function<void(TImage*)> Callback) {
  const int handle = FNextHandle++;
  FNotify.push_back({handle, std::move(Callback)});
  return handle;
}

void TImage::RemoveFreeNotification(int Handle) {
  auto it = std::find_if(FNotify.begin(), FNotify.end(),
                         [Handle](const TEntry& e) { return e.Handle == Handle; });
  if (it != FNotify.end()) FNotify.erase(it);
}

} // namespace rv
