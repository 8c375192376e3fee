// Our scanner source manager: it answers the triplets of twain.h from SANE.
// Sources are SANE's devices, capabilities are SANE options, and a scan
// runs sane_read on a worker thread while the caller's event loop runs;
// when the page is in, the source posts its ready message to the caller's
// proxy object, which hands it back through MSG_PROCESSEVENT.
#pragma once

#include <cstdint>

#include "platform/twain.h"

namespace platform {

// A loaded source manager. Every successful load needs one free.
struct TTwainManager;

// Loads the installed manager (SANE is started on the first load); nullptr
// when none is installed or it cannot start.
TTwainManager* TwainLoadManager();
DSMENTRYPROC TwainManagerEntry(const TTwainManager* Manager);
void TwainFreeManager(TTwainManager* Manager);

// Which manager counts as installed: Entry, or none for nullptr. Tests
// drive the library through a manager of their own this way.
void TwainInstallManager(DSMENTRYPROC Entry);
// Back to the SANE manager.
void TwainInstallSaneManager();

// The SANE manager's entry.
TW_UINT16 TwainSaneEntry(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 DG, TW_UINT16 DAT,
                         TW_UINT16 MSG, TW_MEMREF pData);

// Reads SANE's device list now, on the calling thread, for the jobs that
// follow: SANE may take seconds over it (its network backends wait for
// hosts that do not answer), so a window reads it on a worker while it
// answers. Until TwainForgetDevicesAhead, the jobs take this list instead of
// reading their own. Nothing for a manager other than SANE's.
void TwainReadDevicesAhead(const TTwainManager* Manager);
void TwainForgetDevicesAhead();

// Most pixels a source holds of one page; a page of unknown length ends
// there. Default 2^28.
void TwainSetPixelLimit(std::int64_t Pixels);
std::int64_t TwainPixelLimit();

// Object names of the manager's windows, for those who look for them.
inline constexpr const char* TwainSelectDialogName = "TwainSelectSource";
inline constexpr const char* TwainSourceDialogName = "TwainSourceDialog";
inline constexpr const char* TwainProgressName = "TwainProgress";

} // namespace platform
