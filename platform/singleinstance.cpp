#include "platform/singleinstance.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {
// A macro is one path or "EXIT"; anything much longer is not ours.
constexpr qsizetype kMaxMacroBytes = 64 * 1024;
// How often held macros look again whether the modal window has gone.
constexpr int kModalRetryMs = 100;

// The lines of a macro, split at CR LF, LF or CR; no empty last line.
std::vector<std::string> MacroLines(const std::string& macro) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < macro.size()) {
    const std::size_t end = macro.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(macro.substr(start));
      break;
    }
    lines.push_back(macro.substr(start, end - start));
    start = end + (macro.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

bool ModalWindowRuns() {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) && QApplication::activeModalWidget();
}
} // namespace

std::string RuntimeFolder() {
  if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir == '/' && access(dir, W_OK) == 0)
    return dir;
  std::string folder = "/tmp/pictrova-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return "/tmp";
  struct stat st {};
  // Someone else's folder of that name must not receive our socket.
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return "/tmp";
  return folder;
}

TNamedMutex::TNamedMutex(const std::string& name) {
  const std::string path = RuntimeFolder() + "/" + name + ".lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  FFd = fd;
}

TNamedMutex::~TNamedMutex() { Close(); }

void TNamedMutex::Close() {
  if (FFd >= 0) {
    flock(FFd, LOCK_UN);
    ::close(FFd);
    FFd = -1;
  }
}

std::string DdeSocketPath(const std::string& service, const std::string& topic) {
  return RuntimeFolder() + "/" + service + "." + topic + ".dde";
}

QByteArray EncodeMacroFrame(const std::string& macro) {
  return "DDE1 " + QByteArray::number(static_cast<qulonglong>(macro.size())) + "\n" + QByteArray::fromStdString(macro);
}

bool DecodeMacroFrames(QByteArray& buffer, std::vector<std::string>& macros) {
  for (;;) {
    if (buffer.isEmpty()) return true;
    qsizetype eol = buffer.indexOf('\n');
    if (eol < 0) return buffer.size() <= 32 && QByteArray("DDE1 ").startsWith(buffer.left(5));
    QByteArray head = buffer.left(eol);
    if (!head.startsWith("DDE1 ")) return false;
    bool ok = false;
    qlonglong length = head.mid(5).toLongLong(&ok);
    if (!ok || length < 0 || length > kMaxMacroBytes) return false;
    if (buffer.size() - eol - 1 < length) return true;
    macros.push_back(buffer.mid(eol + 1, length).toStdString());
    buffer.remove(0, eol + 1 + length);
  }
}

TDdeServerConv::TDdeServerConv(const std::string& service, const std::string& topic, QObject* parent)
    : QObject(parent), FPath(DdeSocketPath(service, topic)), FDeliveryTimer(new QTimer(this)) {
  FDeliveryTimer->setSingleShot(true);
  connect(FDeliveryTimer, &QTimer::timeout, this, [this] { DeliverHeld(); });
}

TDdeServerConv::~TDdeServerConv() {
  if (FServer) FServer->close();
}

bool TDdeServerConv::Listen() {
  if (!FServer) {
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(FServer, &QLocalServer::newConnection, this, [this] { Accept(); });
  }
  if (FServer->isListening()) return true;
  QLocalServer::removeServer(QString::fromStdString(FPath));
  return FServer->listen(QString::fromStdString(FPath));
}

bool TDdeServerConv::Listening() const { return FServer && FServer->isListening(); }

void TDdeServerConv::Accept() {
  while (QLocalSocket* socket = FServer->nextPendingConnection()) {
    FBuffers[socket];
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadFrom(socket); });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
      ReadFrom(socket);
      FBuffers.erase(socket);
      socket->deleteLater();
    });
    ReadFrom(socket);
  }
}

void TDdeServerConv::ReadFrom(QLocalSocket* socket) {
  auto it = FBuffers.find(socket);
  if (it == FBuffers.end()) return;
  it->second += socket->readAll();
  std::vector<std::string> macros;
  if (!DecodeMacroFrames(it->second, macros)) {
    it->second.clear();
    socket->abort();
  }
  for (const std::string& m : macros) FHeld.push_back(MacroLines(m));
  // Never from here: the handler may run a modal message, and the socket
  // must not be read again or deleted while its signal is still on the stack.
  if (!macros.empty()) ScheduleDelivery(0);
}

void TDdeServerConv::ScheduleDelivery(int delayMs) {
  if (!FDeliveryTimer->isActive() || delayMs == 0) FDeliveryTimer->start(delayMs);
}

void TDdeServerConv::DeliverHeld() {
  if (FDelivering || !FOnExecuteMacro || FHeld.empty()) return;
  if (ModalWindowRuns()) {
    // Acted on once the user has answered the window: not inside its loop.
    ScheduleDelivery(kModalRetryMs);
    return;
  }
  const std::vector<std::string> lines = FHeld.front();
  FHeld.pop_front();
  // The next one comes after this one, also when its handler threw.
  struct TDelivering {
    TDdeServerConv& Server;
    ~TDelivering() {
      Server.FDelivering = false;
      if (!Server.FHeld.empty()) Server.ScheduleDelivery(0);
    }
  } delivering{*this};
  FDelivering = true;
  // A copy: the handler may replace itself.
  const auto handler = FOnExecuteMacro;
  handler(lines);
}

void TDdeServerConv::SetOnExecuteMacro(std::function<void(const std::vector<std::string>&)> handler) {
  FOnExecuteMacro = std::move(handler);
  if (FOnExecuteMacro && !FHeld.empty()) ScheduleDelivery(0);
}

TDdeClientConv::TDdeClientConv() = default;
TDdeClientConv::~TDdeClientConv() { CloseLink(); }

void TDdeClientConv::SetLink(const std::string& service, const std::string& topic) {
  FPath = DdeSocketPath(service, topic);
}

bool TDdeClientConv::OpenLink(int timeoutMs) {
  CloseLink();
  FSocket = new QLocalSocket;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    FSocket->connectToServer(QString::fromStdString(FPath));
    if (FSocket->waitForConnected(1000)) return true;
    FSocket->abort();
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  CloseLink();
  return false;
}

void TDdeClientConv::CloseLink() {
  if (!FSocket) return;
  if (FSocket->state() == QLocalSocket::ConnectedState) {
    FSocket->flush();
    FSocket->disconnectFromServer();
    if (FSocket->state() != QLocalSocket::UnconnectedState) FSocket->waitForDisconnected(1000);
  }
  delete FSocket;
  FSocket = nullptr;
}

bool TDdeClientConv::ExecuteMacro(const std::string& macro) {
  if (!FSocket || FSocket->state() != QLocalSocket::ConnectedState) return false;
  QByteArray frame = EncodeMacroFrame(macro);
  if (FSocket->write(frame) != frame.size()) return false;
  while (FSocket->bytesToWrite() > 0)
    if (!FSocket->waitForBytesWritten(2000)) return false;
  return true;
}

} // namespace platform
