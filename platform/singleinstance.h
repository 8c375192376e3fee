// Named mutex and DDE conversations, as one program instance sees them.
//
// The mutex is a lock on a per-user file: the kernel drops it when its owner
// dies, so a crashed instance never blocks the next start. The conversation
// is a per-user local socket named after service and topic; the server
// listens from the moment it exists and holds what arrives until somebody
// takes it, so a second start never loses its message while the first one is
// still building its windows. A macro is taken off its socket whole and acted
// on later from the event loop, one at a time and never while a modal window
// runs: the handler may show messages of its own without the socket, or the
// next macro, coming back into it.
#pragma once

#include <QObject>
#include <QByteArray>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;
class QTimer;

namespace platform {

// Per-user folder for locks and sockets ($XDG_RUNTIME_DIR, else a private
// folder under /tmp).
std::string RuntimeFolder();

class TNamedMutex {
public:
  explicit TNamedMutex(const std::string& name);
  ~TNamedMutex();
  TNamedMutex(const TNamedMutex&) = delete;
  TNamedMutex& operator=(const TNamedMutex&) = delete;

  // False when another process holds the mutex or it could not be created.
  bool Owned() const { return FFd >= 0; }
  void Close();

private:
  int FFd = -1;
};

// Socket path of a conversation.
std::string DdeSocketPath(const std::string& service, const std::string& topic);

class TDdeServerConv : public QObject {
public:
  TDdeServerConv(const std::string& service, const std::string& topic, QObject* parent = nullptr);
  ~TDdeServerConv() override;

  // Starts listening; an old socket left behind is replaced (only the
  // mutex's owner creates a server, so nobody else can be using it).
  bool Listen();
  bool Listening() const;

  // Receives each execute-macro as its lines, in order, from the event loop;
  // macros that arrived before the handler was set are held until then.
  // A line is the bytes sent: a path need not be UTF-8.
  void SetOnExecuteMacro(std::function<void(const std::vector<std::string>&)> handler);

private:
  void Accept();
  void ReadFrom(QLocalSocket* socket);
  void ScheduleDelivery(int delayMs);
  void DeliverHeld();

  std::string FPath;
  QLocalServer* FServer = nullptr;
  std::map<QLocalSocket*, QByteArray> FBuffers;
  std::function<void(const std::vector<std::string>&)> FOnExecuteMacro;
  std::deque<std::vector<std::string>> FHeld;
  QTimer* FDeliveryTimer = nullptr;
  bool FDelivering = false;
};

class TDdeClientConv {
public:
  TDdeClientConv();
  ~TDdeClientConv();

  void SetLink(const std::string& service, const std::string& topic);
  // Connects, retrying for timeoutMs while a starting server is not yet
  // listening. False when nobody answers.
  bool OpenLink(int timeoutMs = 5000);
  void CloseLink();
  // Sends one macro's bytes; answers once they are handed to the server.
  bool ExecuteMacro(const std::string& macro);

private:
  std::string FPath;
  QLocalSocket* FSocket = nullptr;
};

// The frame one macro travels in: "DDE1 <length>\n" and its bytes as they
// are (a path's bytes, whatever its encoding).
QByteArray EncodeMacroFrame(const std::string& macro);
// Takes complete frames off the front of buffer; false on a damaged stream.
bool DecodeMacroFrames(QByteArray& buffer, std::vector<std::string>& macros);

} // namespace platform
