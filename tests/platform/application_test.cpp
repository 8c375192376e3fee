#include "platform/application.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace platform;

TEST(ApplicationErrors, AnExceptionFromAnEventReachesTheHandler) {
  auto* app = dynamic_cast<TApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  QString seen;
  app->OnException = [&](std::exception_ptr e) { seen = TApplication::ExceptionMessage(e); };
  QObject target;
  QTimer::singleShot(0, &target, [] { throw std::runtime_error("Disk full"); });
  for (int i = 0; i < 20 && seen.isEmpty(); ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  app->OnException = nullptr;
  EXPECT_EQ(seen, "Disk full");
}

TEST(ApplicationErrors, ExceptionMessageOfAnyType) {
  EXPECT_EQ(TApplication::ExceptionMessage(std::make_exception_ptr(42)), "Unknown error");
}

TEST(ApplicationErrors, AnAbortIsSilent) {
  auto* app = dynamic_cast<TApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  bool called = false;
  app->OnException = [&](std::exception_ptr) { called = true; };
  app->HandleException(std::make_exception_ptr(EAbort()));
  app->OnException = nullptr;
  EXPECT_FALSE(called);
}

TEST(ApplicationErrors, GuardedWorkHandsItsExceptionToTheHandler) {
  auto* app = dynamic_cast<TApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  QStringList seen;
  app->OnException = [&](std::exception_ptr e) { seen << TApplication::ExceptionMessage(e); };
  bool ran = false;
  EXPECT_NO_THROW(TApplication::Guarded([&] { ran = true; }));
  EXPECT_NO_THROW(TApplication::Guarded([] { throw std::runtime_error("Folder gone"); }));
  EXPECT_NO_THROW(TApplication::Guarded([] { throw EAbort(); }));
  app->OnException = nullptr;
  EXPECT_TRUE(ran);
  EXPECT_EQ(seen, QStringList{"Folder gone"});
}
