#include "platform/singleinstance.h"
#include "support/tempfolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QLocalServer>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

namespace {

class SingleInstance : public ::testing::Test {
protected:
  void SetUp() override {
    FOld = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", FTemp.QPath().toUtf8());
  }
  void TearDown() override { qputenv("XDG_RUNTIME_DIR", FOld); }

  static void SpinUntil(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  testing_support::TTempFolder FTemp;
  QByteArray FOld;
};

} // namespace

TEST_F(SingleInstance, MutexIsOwnedOnceAndFreedWithItsOwner) {
  TNamedMutex first("TestMutex");
  ASSERT_TRUE(first.Owned());
  // Another process cannot own it while we do.
  pid_t child = fork();
  if (child == 0) {
    TNamedMutex other("TestMutex");
    _exit(other.Owned() ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  first.Close();
  TNamedMutex again("TestMutex");
  EXPECT_TRUE(again.Owned());
}

TEST_F(SingleInstance, ACrashedOwnerLeavesNoMutexBehind) {
  pid_t child = fork();
  if (child == 0) {
    TNamedMutex held("CrashMutex");
    if (!held.Owned()) _exit(1);
    abort(); // dies holding it
  }
  int status = 0;
  waitpid(child, &status, 0);
  TNamedMutex mine("CrashMutex");
  EXPECT_TRUE(mine.Owned());
}

TEST_F(SingleInstance, MacrosArriveAsLinesAndAreHeldUntilAHandlerExists) {
  TDdeServerConv server("TestService", "Topic");
  ASSERT_TRUE(server.Listen());
  {
    TDdeClientConv client;
    client.SetLink("TestService", "Topic");
    ASSERT_TRUE(client.OpenLink(2000));
    ASSERT_TRUE(client.ExecuteMacro("/pictures/one.jpg"));
    ASSERT_TRUE(client.ExecuteMacro("EXIT"));
    ASSERT_TRUE(client.ExecuteMacro(""));
    // A path is its bytes: Latin-1 is no UTF-8.
    ASSERT_TRUE(client.ExecuteMacro("/pictures/caf\xe9.jpg"));
    client.CloseLink();
  }
  // Nothing is lost while nobody listens for macros yet.
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  std::vector<std::vector<std::string>> got;
  server.SetOnExecuteMacro([&](const std::vector<std::string>& lines) { got.push_back(lines); });
  SpinUntil([&] { return got.size() >= 4; });
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0], std::vector<std::string>{"/pictures/one.jpg"});
  EXPECT_EQ(got[1], std::vector<std::string>{"EXIT"});
  EXPECT_TRUE(got[2].empty());
  EXPECT_EQ(got[3], std::vector<std::string>{"/pictures/caf\xe9.jpg"});
}

// A handler that runs a modal loop of its own (a message about the file)
// while its client has gone and the next macro arrives: the socket is not
// freed under the reading code, and the handler is not entered again.
TEST_F(SingleInstance, AHandlerRunningItsOwnLoopIsNeverReentered) {
  TDdeServerConv server("Nested", "Topic");
  ASSERT_TRUE(server.Listen());
  auto send = [](const std::string& macro) {
    TDdeClientConv client;
    client.SetLink("Nested", "Topic");
    ASSERT_TRUE(client.OpenLink(2000));
    ASSERT_TRUE(client.ExecuteMacro(macro));
  };
  std::vector<std::string> got;
  int depth = 0, deepest = 0;
  server.SetOnExecuteMacro([&](const std::vector<std::string>& lines) {
    deepest = std::max(deepest, ++depth);
    got.push_back(lines.empty() ? std::string() : lines.front());
    if (got.size() == 1) {
      send("/second.png");
      QEventLoop loop;
      QTimer::singleShot(400, &loop, &QEventLoop::quit);
      loop.exec(); // the message's loop: the first client's hang-up and the second macro arrive here
    }
    --depth;
  });
  send("/first.txt");
  SpinUntil([&] { return got.size() >= 2; });
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(got, (std::vector<std::string>{"/first.txt", "/second.png"}));
}

TEST_F(SingleInstance, AStaleSocketFileIsReplaced) {
  const QString path = QString::fromStdString(DdeSocketPath("Stale", "Topic"));
  {
    // A socket file nobody serves, as a crash leaves it.
    QLocalServer dead;
    dead.setSocketOptions(QLocalServer::UserAccessOption);
    ASSERT_TRUE(dead.listen(path));
  }
  QFile stale(path);
  stale.open(QIODevice::WriteOnly);
  stale.close();
  TDdeServerConv server("Stale", "Topic");
  EXPECT_TRUE(server.Listen());
  TDdeClientConv client;
  client.SetLink("Stale", "Topic");
  EXPECT_TRUE(client.OpenLink(2000));
}

TEST_F(SingleInstance, ClientWithoutServerGivesUp) {
  TDdeClientConv client;
  client.SetLink("Nobody", "Topic");
  QElapsedTimer t;
  t.start();
  EXPECT_FALSE(client.OpenLink(300));
  EXPECT_LT(t.elapsed(), 3000);
}

TEST(MacroFrames, SplitAcrossReadsAndDamagedStreams) {
  QByteArray stream = EncodeMacroFrame("a") + EncodeMacroFrame("/bilder/grüße.png");
  std::vector<std::string> macros;
  QByteArray buffer = stream.left(9);
  ASSERT_TRUE(DecodeMacroFrames(buffer, macros));
  buffer += stream.mid(9);
  ASSERT_TRUE(DecodeMacroFrames(buffer, macros));
  ASSERT_EQ(macros.size(), 2u);
  EXPECT_EQ(macros[1], "/bilder/grüße.png");
  EXPECT_TRUE(buffer.isEmpty());

  QByteArray bad = "HELLO 5\nworld";
  EXPECT_FALSE(DecodeMacroFrames(bad, macros));
  QByteArray huge = "DDE1 99999999\n";
  EXPECT_FALSE(DecodeMacroFrames(huge, macros));
}
