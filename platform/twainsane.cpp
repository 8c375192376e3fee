#include "platform/twainsane.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <link.h>

#include <sane/sane.h>

#include "platform/twainsource.h"

namespace platform {

struct TTwainManager {
  DSMENTRYPROC Entry = nullptr;
  bool Sane = false;
};

namespace {

// SANE's backends stay in memory once SANE has loaded them: SANE cancels a
// backend's reader thread without waiting for it to end, and a reader still
// ending when SANE exits would run on in unloaded code; what it leaves
// behind stays traceable to its backend too.
void KeepSaneBackendsLoaded() {
  dl_iterate_phdr(
      [](dl_phdr_info* Info, size_t, void*) {
        const char* Name = Info->dlpi_name;
        if (Name && std::strstr(Name, "/sane/libsane-")) dlopen(Name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
        return 0;
      },
      nullptr);
}

using twainsane::TSaneSource;

struct TDevice {
  std::string Name;
  std::string Vendor;
  std::string Model;
  std::string Product;
  TW_UINT32 Id = 0;
};

struct TSession {
  QPointer<QObject> Parent;
  std::size_t NextDevice = 0;
  TW_UINT16 Condition = TWCC_SUCCESS;
  std::vector<std::unique_ptr<TSaneSource>> Sources;
};

struct TOpenDevice {
  SANE_Handle Handle = nullptr;
  int Users = 0;
};

// Everything the manager knows; SANE is one per process, and so is this.
struct TManager {
  DSMENTRYPROC Installed = &TwainSaneEntry;
  int SaneLoads = 0;
  std::int64_t PixelLimit = std::int64_t{1} << 28;
  std::vector<TDevice> Devices;
  bool DevicesRead = false;
  // The list was read ahead for the jobs to come: they do not read it again.
  bool DevicesAhead = false;
  std::map<std::string, TW_UINT32> Ids;
  TW_UINT32 NextSourceId = 1;
  std::string DefaultDevice;
  std::map<TW_UINT32, TSession> Sessions;
  TW_UINT32 NextAppId = 1;
  std::map<std::string, TOpenDevice> Open;
  TW_UINT16 Condition = TWCC_SUCCESS;
};

TManager& Manager() {
  static TManager m;
  return m;
}

// The manager's state is the user-interface thread's, but for a list read
// ahead on a worker: SANE is called by one thread at a time.
std::recursive_mutex& ManagerLock() {
  static std::recursive_mutex lock;
  return lock;
}

void CopyText(TW_STR32& Field, const std::string& Text) {
  std::memset(Field, 0, sizeof(TW_STR32));
  std::memcpy(Field, Text.data(), std::min<std::size_t>(Text.size(), 32));
}

// SANE's devices, named "vendor model"; two of the same kind are told
// apart by their device names.
void ReadDevices() {
  TManager& m = Manager();
  m.Devices.clear();
  const SANE_Device** list = nullptr;
  if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || list == nullptr) list = nullptr;
  for (const SANE_Device** d = list; d != nullptr && *d != nullptr; ++d) {
    TDevice device;
    device.Name = (*d)->name != nullptr ? (*d)->name : "";
    device.Vendor = (*d)->vendor != nullptr ? (*d)->vendor : "";
    device.Model = (*d)->model != nullptr ? (*d)->model : "";
    if (device.Name.empty()) continue;
    auto [it, added] = m.Ids.emplace(device.Name, m.NextSourceId);
    if (added) ++m.NextSourceId;
    device.Id = it->second;
    m.Devices.push_back(device);
  }
  for (TDevice& d : m.Devices) {
    d.Product = d.Vendor.empty() ? d.Model : d.Vendor + " " + d.Model;
    const auto same = std::count_if(m.Devices.begin(), m.Devices.end(), [&d](const TDevice& o) {
      return o.Vendor == d.Vendor && o.Model == d.Model;
    });
    if (same > 1 || d.Product.empty()) d.Product += (d.Product.empty() ? "" : " ") + ("(" + d.Name + ")");
  }
  m.DevicesRead = true;
}

// The device list for a job that wants it as it is now.
void ReadDevicesUnlessAhead() {
  if (!Manager().DevicesAhead || !Manager().DevicesRead) ReadDevices();
}

void FillIdentity(TW_IDENTITY& Identity, const TDevice& Device) {
  Identity = TW_IDENTITY();
  Identity.Id = Device.Id;
  Identity.Version.MajorNum = 1;
  Identity.Version.Language = TWLG_USA;
  Identity.Version.Country = TWCY_USA;
  CopyText(Identity.Version.Info, Device.Name);
  Identity.ProtocolMajor = 1;
  Identity.ProtocolMinor = 9;
  Identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
  CopyText(Identity.Manufacturer, Device.Vendor);
  CopyText(Identity.ProductFamily, Device.Model);
  CopyText(Identity.ProductName, Device.Product);
}

const TDevice* DefaultDevice() {
  TManager& m = Manager();
  for (const TDevice& d : m.Devices)
    if (d.Name == m.DefaultDevice) return &d;
  return m.Devices.empty() ? nullptr : &m.Devices.front();
}

QWidget* DialogParent(QObject* Proxy) {
  // The proxy is a hidden window of the application's window; its dialogs
  // belong to that window.
  auto* w = qobject_cast<QWidget*>(Proxy);
  if (w == nullptr) return nullptr;
  return w->parentWidget() != nullptr ? w->parentWidget()->window() : nullptr;
}

SANE_Handle OpenDevice(const std::string& Name, SANE_Status& Status) {
  TOpenDevice& open = Manager().Open[Name];
  if (open.Users == 0) {
    Status = sane_open(Name.c_str(), &open.Handle);
    if (Status != SANE_STATUS_GOOD) {
      Manager().Open.erase(Name);
      return nullptr;
    }
  }
  ++open.Users;
  Status = SANE_STATUS_GOOD;
  return open.Handle;
}

void ReleaseDevice(const std::string& Name) {
  auto it = Manager().Open.find(Name);
  if (it == Manager().Open.end()) return;
  if (--it->second.Users <= 0) {
    sane_close(it->second.Handle);
    Manager().Open.erase(it);
  }
}

void CloseSource(std::unique_ptr<TSaneSource>& Source) {
  const std::string device = Source->Device();
  Source.reset();
  ReleaseDevice(device);
}

void CloseSession(TSession& Session) {
  for (auto& s : Session.Sources) CloseSource(s);
  Session.Sources.clear();
}

TW_UINT16 ManagerFail(TSession* Session, TW_UINT16 Condition) {
  if (Session != nullptr) Session->Condition = Condition;
  Manager().Condition = Condition;
  return TWRC_FAILURE;
}

TW_UINT16 ManagerSucceed(TSession& Session) {
  Session.Condition = TWCC_SUCCESS;
  return TWRC_SUCCESS;
}

TW_UINT16 OpenSource(TSession& Session, TW_IDENTITY& Identity) {
  TManager& m = Manager();
  if (!m.DevicesRead) ReadDevices();
  const TDevice* device = nullptr;
  for (const TDevice& d : m.Devices)
    if ((Identity.Id != 0 && d.Id == Identity.Id) ||
        (Identity.Id == 0 && Identity.ProductName[0] != '\0' &&
         d.Product.substr(0, 32) == Identity.ProductName))
      device = &d;
  if (device == nullptr && Identity.Id == 0 && Identity.ProductName[0] == '\0') device = DefaultDevice();
  if (device == nullptr) return ManagerFail(&Session, TWCC_NODS);
  for (const auto& s : Session.Sources)
    if (s->Id() == device->Id) return ManagerFail(&Session, TWCC_SEQERROR);
  SANE_Status status = SANE_STATUS_GOOD;
  SANE_Handle handle = OpenDevice(device->Name, status);
  if (handle == nullptr) return ManagerFail(&Session, twainsane::ConditionOfStatus(status));
  Session.Sources.push_back(std::make_unique<TSaneSource>(device->Id, device->Name, handle));
  FillIdentity(Identity, *device);
  return ManagerSucceed(Session);
}

TW_UINT16 ManagerCall(TW_IDENTITY& Origin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
  TManager& m = Manager();
  if (DG == DG_CONTROL && DAT == DAT_PARENT && MSG == MSG_OPENDSM) {
    if (Origin.Id != 0 && m.Sessions.count(Origin.Id) != 0) return ManagerFail(nullptr, TWCC_SEQERROR);
    if (Origin.Id == 0) Origin.Id = m.NextAppId++;
    TSession& session = m.Sessions[Origin.Id];
    session.Parent = pData != nullptr ? *static_cast<QObject**>(pData) : nullptr;
    // Sources plugged in since the last time are seen by the next job.
    if (!m.DevicesAhead) m.DevicesRead = false;
    return ManagerSucceed(session);
  }
  const auto found = m.Sessions.find(Origin.Id);
  if (found == m.Sessions.end()) {
    if (DG == DG_CONTROL && DAT == DAT_STATUS && MSG == MSG_GET && pData != nullptr) {
      static_cast<TW_STATUS*>(pData)->ConditionCode = m.Condition;
      m.Condition = TWCC_SUCCESS;
      return TWRC_SUCCESS;
    }
    return ManagerFail(nullptr, TWCC_SEQERROR);
  }
  TSession& session = found->second;
  if (DG != DG_CONTROL) return ManagerFail(&session, TWCC_BADPROTOCOL);
  if (DAT == DAT_PARENT && MSG == MSG_CLOSEDSM) {
    CloseSession(session);
    m.Sessions.erase(found);
    return TWRC_SUCCESS;
  }
  if (DAT == DAT_STATUS && MSG == MSG_GET) {
    if (pData == nullptr) return ManagerFail(&session, TWCC_BADVALUE);
    static_cast<TW_STATUS*>(pData)->ConditionCode = session.Condition;
    session.Condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  if (DAT != DAT_IDENTITY || pData == nullptr) return ManagerFail(&session, TWCC_BADPROTOCOL);
  auto& identity = *static_cast<TW_IDENTITY*>(pData);
  switch (MSG) {
  case MSG_GETFIRST:
    ReadDevicesUnlessAhead();
    session.NextDevice = 0;
    [[fallthrough]];
  case MSG_GETNEXT:
    if (!m.DevicesRead) ReadDevices();
    if (session.NextDevice >= m.Devices.size()) {
      session.Condition = TWCC_SUCCESS;
      return TWRC_ENDOFLIST;
    }
    FillIdentity(identity, m.Devices[session.NextDevice++]);
    return ManagerSucceed(session);
  case MSG_GETDEFAULT: {
    if (!m.DevicesRead) ReadDevices();
    const TDevice* d = DefaultDevice();
    if (d == nullptr) return ManagerFail(&session, TWCC_NODS);
    FillIdentity(identity, *d);
    return ManagerSucceed(session);
  }
  case MSG_USERSELECT: {
    ReadDevicesUnlessAhead();
    // Without sources there is nothing to show, and without windows no way to.
    if (m.Devices.empty()) return ManagerFail(&session, TWCC_NODS);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
      return ManagerFail(&session, TWCC_OPERATIONERROR);
    std::vector<std::string> names;
    int current = 0;
    for (const TDevice& d : m.Devices) {
      if (d.Name == m.DefaultDevice) current = static_cast<int>(names.size());
      names.push_back(d.Product);
    }
    const int chosen = twainsane::RunSelectDialog(DialogParent(session.Parent), names, current);
    if (chosen < 0 || chosen >= static_cast<int>(m.Devices.size())) {
      session.Condition = TWCC_SUCCESS;
      return TWRC_CANCEL;
    }
    m.DefaultDevice = m.Devices[static_cast<std::size_t>(chosen)].Name;
    FillIdentity(identity, m.Devices[static_cast<std::size_t>(chosen)]);
    return ManagerSucceed(session);
  }
  case MSG_OPENDS: return OpenSource(session, identity);
  case MSG_CLOSEDS: {
    auto it = std::find_if(session.Sources.begin(), session.Sources.end(),
                           [&identity](const auto& s) { return s->Id() == identity.Id; });
    if (it == session.Sources.end()) return ManagerFail(&session, TWCC_NODS);
    CloseSource(*it);
    session.Sources.erase(it);
    return ManagerSucceed(session);
  }
  default: return ManagerFail(&session, TWCC_BADPROTOCOL);
  }
}

TW_UINT16 SourceCall(TW_IDENTITY& Origin, TW_IDENTITY& Dest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                     TW_MEMREF pData) {
  TManager& m = Manager();
  const auto found = m.Sessions.find(Origin.Id);
  if (found == m.Sessions.end()) return ManagerFail(nullptr, TWCC_SEQERROR);
  TSession& session = found->second;
  TSaneSource* source = nullptr;
  for (const auto& s : session.Sources)
    if (s->Id() == Dest.Id) source = s.get();
  if (source == nullptr) return ManagerFail(&session, TWCC_BADDEST);
  if (DG == DG_CONTROL && DAT == DAT_STATUS && MSG == MSG_GET) {
    if (pData == nullptr) return TWRC_FAILURE;
    static_cast<TW_STATUS*>(pData)->ConditionCode = source->Condition();
    return TWRC_SUCCESS;
  }
  if (pData == nullptr) return ManagerFail(&session, TWCC_BADVALUE);
  if (DG == DG_CONTROL) {
    switch (DAT) {
    case DAT_CAPABILITY: return source->Capability(MSG, *static_cast<TW_CAPABILITY*>(pData));
    case DAT_EVENT:
      if (MSG == MSG_PROCESSEVENT) return source->ProcessEvent(*static_cast<TW_EVENT*>(pData));
      break;
    case DAT_USERINTERFACE:
      if (MSG == MSG_ENABLEDS)
        return source->Enable(*static_cast<TW_USERINTERFACE*>(pData), std::string(Dest.ProductName));
      if (MSG == MSG_DISABLEDS) return source->Disable();
      break;
    case DAT_PENDINGXFERS: return source->PendingXfers(MSG, *static_cast<TW_PENDINGXFERS*>(pData));
    case DAT_SETUPMEMXFER:
      if (MSG == MSG_GET) return source->SetupMemXfer(*static_cast<TW_SETUPMEMXFER*>(pData));
      break;
    default: break;
    }
  } else if (DG == DG_IMAGE) {
    switch (DAT) {
    case DAT_IMAGEINFO:
      if (MSG == MSG_GET) return source->ImageInfo(*static_cast<TW_IMAGEINFO*>(pData));
      break;
    case DAT_IMAGELAYOUT: return source->ImageLayout(MSG, *static_cast<TW_IMAGELAYOUT*>(pData));
    case DAT_IMAGEMEMXFER:
      if (MSG == MSG_GET) return source->MemXfer(*static_cast<TW_IMAGEMEMXFER*>(pData));
      break;
    case DAT_IMAGENATIVEXFER:
      if (MSG == MSG_GET) return source->NativeXfer(static_cast<TW_HANDLE*>(pData));
      break;
    default: break;
    }
  }
  return ManagerFail(&session, TWCC_BADPROTOCOL);
}

} // namespace

TW_UINT16 TwainSaneEntry(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 DG, TW_UINT16 DAT,
                         TW_UINT16 MSG, TW_MEMREF pData) {
  if (pOrigin == nullptr) return TWRC_FAILURE;
  if (pDest == nullptr) {
    const std::lock_guard lock(ManagerLock());
    if (Manager().SaneLoads == 0) return TWRC_FAILURE;
    return ManagerCall(*pOrigin, DG, DAT, MSG, pData);
  }
  if (Manager().SaneLoads == 0) return TWRC_FAILURE;
  return SourceCall(*pOrigin, *pDest, DG, DAT, MSG, pData);
}

TTwainManager* TwainLoadManager() {
  const std::lock_guard lock(ManagerLock());
  TManager& m = Manager();
  if (m.Installed == nullptr) return nullptr;
  const bool sane = m.Installed == &TwainSaneEntry;
  if (sane && m.SaneLoads == 0) {
    SANE_Int version = 0;
    if (sane_init(&version, nullptr) != SANE_STATUS_GOOD) return nullptr;
    m.DevicesRead = false;
  }
  if (sane) ++m.SaneLoads;
  return new TTwainManager{m.Installed, sane};
}

DSMENTRYPROC TwainManagerEntry(const TTwainManager* Manager) {
  return Manager != nullptr ? Manager->Entry : nullptr;
}

void TwainFreeManager(TTwainManager* Loaded) {
  if (Loaded == nullptr) return;
  const std::lock_guard lock(ManagerLock());
  TManager& m = Manager();
  if (Loaded->Sane && m.SaneLoads > 0 && --m.SaneLoads == 0) {
    // Whatever the applications left open goes before SANE does.
    for (auto& [id, session] : m.Sessions) CloseSession(session);
    m.Sessions.clear();
    for (auto& [name, open] : m.Open) sane_close(open.Handle);
    m.Open.clear();
    m.Devices.clear();
    m.DevicesRead = false;
    m.DevicesAhead = false;
    KeepSaneBackendsLoaded();
    sane_exit();
  }
  delete Loaded;
}

void TwainReadDevicesAhead(const TTwainManager* Loaded) {
  if (Loaded == nullptr || !Loaded->Sane) return;
  const std::lock_guard lock(ManagerLock());
  if (Manager().SaneLoads == 0) return;
  ReadDevices();
  Manager().DevicesAhead = true;
}

void TwainForgetDevicesAhead() {
  const std::lock_guard lock(ManagerLock());
  Manager().DevicesAhead = false;
}

void TwainInstallManager(DSMENTRYPROC Entry) { Manager().Installed = Entry; }

void TwainInstallSaneManager() { Manager().Installed = &TwainSaneEntry; }

void TwainSetPixelLimit(std::int64_t Pixels) { Manager().PixelLimit = Pixels > 0 ? Pixels : 1; }

std::int64_t TwainPixelLimit() { return Manager().PixelLimit; }

} // namespace platform
