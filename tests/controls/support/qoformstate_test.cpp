#include "controls/support/qoformstate/qoformstate.h"

#include "platform/application.h"
#include "support/tempkeystore.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QScreen>
#include <gtest/gtest.h>

#include <map>

using namespace wn;

namespace {

const std::string WinStateKey = "Software\\Halvenworth\\Pictrova 3\\WinState";
const std::string SectionKey = "\\" + WinStateKey + "\\MainForm";

using TValues = std::map<std::string, std::string>;

class FormState : public ::testing::Test {
 protected:
  static TValues Stored() { return testing_support::KeyValueTexts(SectionKey); }

  static void Store(const TValues& Values) {
    platform::TRegistry Registry;
    ASSERT_TRUE(Registry.OpenKey(SectionKey, true));
    for (const auto& [Name, Text] : Values) Registry.WriteString(Name, Text);
  }

  testing_support::TTempKeyStore FKeyStore;
};

// A form with the main window's state components, hooked as at creation.
// Frameless, so that a frame kept on screen moves no window.
template <class TForm = QMainWindow>
struct THookedForm {
  explicit THookedForm(QRect Geometry = QRect(100, 120, 640, 480), TQoFormStateOptions Options = {fsState, fsPosition}) {
    Form.setWindowFlag(Qt::FramelessWindowHint);
    Form.setGeometry(Geometry);
    Store = new TQoRegistryStore(&Form);
    Store->SetKeyName(WinStateKey);
    State = new TQoFormState(&Form);
    State->Options = Options;
    State->SetSection("MainForm");
    State->SetStorage(Store);
    State->Loaded();
  }
  TForm Form;
  TQoRegistryStore* Store;
  TQoFormState* State;
};

// A store whose every read fails, as a broken registry would.
class TFailingStore : public TQoAbstractStore {
 public:
  std::string ReadString(const std::string&, const std::string&, const std::string&) override {
    throw platform::ERegistryException("broken");
  }
  void WriteString(const std::string&, const std::string&, const std::string&) override {}

 protected:
  void DoOpen() override {}
  void DoClose() override {}
};

}  // namespace

TEST_F(FormState, StoreKeysAndValues) {
  const std::pair<std::string, std::string> Names[] = {
      {"\\Software\\X\\", "Software\\X"}, {"\\\\A\\B\\\\", "A\\B"}, {"", "Software\\pictrova_support_tests"}};
  for (const auto& [Set, Kept] : Names) {
    TQoRegistryStore Named;
    Named.SetKeyName(Set);
    EXPECT_EQ(Named.KeyName(), Kept) << Set;
  }

  TQoRegistryStore Store;
  Store.SetKeyName("\\Software\\T\\");
  Store.Open();
  Store.Open();
  const std::pair<std::string, int> Cases[] = {
      {"12", 12}, {" 7", 7}, {"-5", -5}, {"+3", 3}, {"x", 99}, {"", 99}, {"7 ", 99}, {"2147483648", 99}, {"0x10", 99},
  };
  for (const auto& [Text, Expected] : Cases) {
    Store.WriteString("Sec", "V", Text);
    EXPECT_EQ(Store.ReadInteger("Sec", "V", 99), Expected) << '"' << Text << '"';
  }
  Store.WriteInteger("Sec", "N", -2147483633);
  EXPECT_EQ(Store.ReadString("Sec", "N", ""), "-2147483633");
  EXPECT_EQ(Store.ReadString("Sec", "Missing", "d"), "d");
  EXPECT_EQ(Store.ReadString("NoSection", "V", "d"), "d");
  platform::TRegistry Registry;
  ASSERT_TRUE(Registry.OpenKey("\\Software\\T\\Sec", false));
  Registry.WriteInteger("Dword", 5);
  EXPECT_EQ(Store.ReadInteger("Sec", "Dword", 4), 4) << "another kind reads as missing";
  Store.EraseSection("Sec");
  EXPECT_EQ(Store.ReadString("Sec", "N", "gone"), "gone");
  for (int i = 0; i < 3; ++i) Store.Close();
  EXPECT_EQ(Store.OpenCount(), 0);

  Store.SetRegistryRoot(rrLocalMachine);
  Store.WriteString("S", "V", "m");
  EXPECT_EQ(testing_support::KeyValueTexts("\\Software\\T\\S", platform::HKEY_LOCAL_MACHINE).at("V"), "m");
}

TEST_F(FormState, ClosingWritesThePlacementValues) {
  THookedForm Hooked;
  Hooked.Form.show();
  EXPECT_TRUE(Hooked.State->Restored()) << "restored when first shown, from nothing";
  EXPECT_EQ(Hooked.Form.geometry(), QRect(100, 120, 640, 480)) << "the first run keeps the designed place";
  EXPECT_TRUE(Hooked.Form.close());
  EXPECT_TRUE(Hooked.State->Saved());
  const TValues Expected = {{"Flags", "0"},
                            {"ShowCmd", "1"},
                            {"NormalPos", "100,120,740,600"},
                            {"PixelsPerInch", std::to_string(Hooked.Form.logicalDpiY())},
                            {"Color", "-2147483633"}};
  EXPECT_EQ(Stored(), Expected);
}

struct TRoundTrip {
  const char* Name;
  std::function<void(QWidget&)> Prepare;
  TValues Written;  // only these values are checked
  QRect Normal;     // the restored form's normal rectangle
  Qt::WindowStates State;
};

TEST_F(FormState, PlacementRoundTrips) {
  const QRect Screen = QGuiApplication::primaryScreen()->availableGeometry();
  const TRoundTrip Cases[] = {
      {"normal", [](QWidget&) {}, {{"ShowCmd", "1"}, {"NormalPos", "100,120,740,600"}}, QRect(100, 120, 640, 480),
       Qt::WindowNoState},
      {"maximised", [](QWidget& F) { F.setWindowState(Qt::WindowMaximized); },
       {{"ShowCmd", "3"}, {"Flags", "0"}, {"NormalPos", "100,120,740,600"}}, QRect(100, 120, 640, 480),
       Qt::WindowMaximized},
      {"minimised from maximised", [](QWidget& F) { F.setWindowState(Qt::WindowMinimized | Qt::WindowMaximized); },
       {{"ShowCmd", "2"}, {"Flags", "2"}}, QRect(100, 120, 640, 480), Qt::WindowMinimized | Qt::WindowMaximized},
      {"off every screen", [&](QWidget& F) { F.move(Screen.right() + 4000, Screen.bottom() + 3000); },
       {{"ShowCmd", "1"}}, QRect(Screen.right() + 1 - 640, Screen.bottom() + 1 - 480, 640, 480), Qt::WindowNoState},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    platform::TRegistry().DeleteKey(SectionKey);
    {
      THookedForm<QWidget> Saved;
      Saved.Form.show();
      Case.Prepare(Saved.Form);
      ASSERT_TRUE(Saved.Form.close());
    }
    const TValues Values = Stored();
    for (const auto& [Name, Text] : Case.Written) EXPECT_EQ(Values.at(Name), Text) << Name;
    THookedForm<QWidget> Restored(QRect(5, 6, 200, 100));
    Restored.Form.show();
    EXPECT_EQ(Restored.Form.normalGeometry(), Case.Normal);
    EXPECT_EQ(Restored.Form.windowState(), Case.State);
  }
}

TEST_F(FormState, MainWindowMinimizesOnceStartUpIsOver) {
  Store({{"PixelsPerInch", "96"}, {"NormalPos", "10,20,300,400"}, {"ShowCmd", "2"}, {"Color", "255"}});
  THookedForm Hooked(QRect(5, 6, 200, 100), {fsState, fsPosition, fsColor});
  Hooked.Form.show();
  EXPECT_EQ(Hooked.Form.geometry(), QRect(10, 20, 290, 380));
  EXPECT_FALSE(Hooked.Form.isMinimized()) << "the minimize waits for the event loop";
  EXPECT_EQ(FormColor(&Hooked.Form), platform::clBtnFace) << "the restore stops at the minimize";
  QCoreApplication::sendPostedEvents();
  EXPECT_TRUE(Hooked.Form.isMinimized());
}

struct TRestoreCase {
  const char* Name;
  TValues Values;
  TQoFormStateOptions Options;
  bool FixedSize;
  QRect Geometry;
  Qt::WindowStates State;
};

TEST_F(FormState, RestoreReadsWhatIsThere) {
  const QRect Designed(5, 6, 200, 100);
  const TRestoreCase Cases[] = {
      {"mixed separators", {{"NormalPos", "10, 20,300,400"}}, {fsPosition}, false, QRect(10, 20, 290, 380), {}},
      // Right and bottom fall back to the current left plus width, top plus height.
      {"left and top only", {{"NormalPos", "10,20"}}, {fsPosition}, false, QRect(10, 20, 195, 86), {}},
      {"right not past left", {{"NormalPos", "300,20,300,400"}}, {fsPosition}, false, Designed, {}},
      {"words that are no numbers", {{"NormalPos", "a,b,c,d"}}, {fsPosition}, false, Designed, {}},
      {"fixed size keeps its size", {{"NormalPos", "10,20,300,400"}}, {fsPosition}, true, QRect(10, 20, 200, 100), {}},
      {"no size", {{"NormalPos", "10,20,300,400"}}, {fsPosition, fsNoSize}, false, QRect(10, 20, 200, 100), {}},
      {"other resolution", {{"NormalPos", "10,20,300,400"}, {"ShowCmd", "3"}, {"PixelsPerInch", "120"}},
       {fsPosition, fsState}, false, Designed, {}},
      {"no position, no state", {{"ShowCmd", "3"}}, {fsPosition, fsState}, false, Designed, {}},
      {"state without position", {{"ShowCmd", "3"}}, {fsState}, false, Designed, Qt::WindowMaximized},
      {"show minimized without activating", {{"NormalPos", "10,20,300,400"}, {"ShowCmd", "7"}},
       {fsPosition, fsState}, false, QRect(10, 20, 290, 380), {}},
      {"minimize", {{"NormalPos", "10,20,300,400"}, {"ShowCmd", "6"}}, {fsPosition, fsState}, false,
       QRect(10, 20, 290, 380), Qt::WindowMinimized},
      {"huge", {{"NormalPos", "-2147483648,0,2147483647,2147483647"}}, {fsPosition}, false,
       QGuiApplication::primaryScreen()->availableGeometry(), {}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    platform::TRegistry().DeleteKey(SectionKey);
    Store(Case.Values);
    THookedForm<QWidget> Hooked(Designed, Case.Options);
    if (Case.FixedSize) Hooked.Form.setFixedSize(Designed.size());
    Hooked.Form.show();
    EXPECT_EQ(Hooked.Form.normalGeometry(), Case.Geometry);
    EXPECT_EQ(Hooked.Form.windowState(), Case.State);
  }
}

TEST_F(FormState, ColourMonitorAndFocusRoundTrip) {
  const TQoFormStateOptions All{fsState, fsPosition, fsColor, fsActiveControl, fsDefaultMonitor};
  {
    THookedForm<QWidget> Saved(QRect(100, 120, 640, 480), All);
    new QLineEdit(&Saved.Form);
    auto* Second = new QLineEdit(&Saved.Form);
    Second->setObjectName("Edit2");
    SetFormColor(&Saved.Form, platform::clRed);
    SetFormDefaultMonitor(&Saved.Form, dmPrimary);
    Saved.Form.show();
    Second->setFocus();
    ASSERT_TRUE(Saved.Form.close());
  }
  const TValues Values = Stored();
  EXPECT_EQ(Values.at("Color"), "255");
  EXPECT_EQ(Values.at("DefaultMonitor"), "1");
  EXPECT_EQ(Values.at("ActiveControl"), "Edit2");

  THookedForm<QWidget> Restored(QRect(5, 6, 200, 100), All);
  new QLineEdit(&Restored.Form);
  auto* Second = new QLineEdit(&Restored.Form);
  Second->setObjectName("Edit2");
  Restored.Form.show();
  EXPECT_EQ(FormColor(&Restored.Form), platform::clRed);
  EXPECT_EQ(Restored.Form.palette().color(QPalette::Window), QColor(255, 0, 0));
  EXPECT_EQ(FormDefaultMonitor(&Restored.Form), dmPrimary);
  EXPECT_EQ(Restored.Form.focusWidget(), Second);
}

TEST_F(FormState, RefusedCloseSavesNothingAndDestructionSavesOnce) {
  struct TRefusing : QWidget {
    bool Refuse = true;
    void closeEvent(QCloseEvent* Event) override { Event->setAccepted(!Refuse); }
  };
  {
    THookedForm<TRefusing> Hooked;
    Hooked.Form.show();
    EXPECT_FALSE(Hooked.Form.close());
    EXPECT_TRUE(Stored().empty());
    EXPECT_FALSE(Hooked.State->Saved());
    Hooked.Form.move(30, 40);
  }
  EXPECT_EQ(Stored().at("NormalPos"), "30,40,670,520") << "the form's end saved it";

  platform::TRegistry().DeleteKey(SectionKey);
  {
    THookedForm<TRefusing> Hooked;
    Hooked.Form.Refuse = false;
    Hooked.Form.show();
    EXPECT_TRUE(Hooked.Form.close());
    platform::TRegistry().DeleteKey(SectionKey);
  }
  EXPECT_TRUE(Stored().empty()) << "saved at close, so not again at the end";

  {
    THookedForm Hooked;
    Hooked.Form.show();
    delete Hooked.State;  // the component alone: not the form's end
  }
  EXPECT_TRUE(Stored().empty());
}

TEST_F(FormState, SavingNeedsARestoreFirst) {
  THookedForm Hooked;
  Hooked.State->SaveState();
  EXPECT_TRUE(Stored().empty()) << "active and never restored";
  Hooked.State->SetActive(false);
  Hooked.State->SaveState();
  EXPECT_EQ(Stored().size(), 5u);
}

TEST_F(FormState, OwnerStoreAndHookFailures) {
  QObject NotAWidget;
  try {
    TQoFormState State(&NotAWidget);
    FAIL() << "no exception";
  } catch (const EQoException& E) {
    EXPECT_STREQ(E.what(), "This component can only be used on forms");
  }

  THookedForm Hooked;
  delete Hooked.Store;
  EXPECT_FALSE(Hooked.State->Active());
  EXPECT_EQ(Hooked.State->Storage(), nullptr);

  auto* App = dynamic_cast<platform::TApplication*>(QCoreApplication::instance());
  ASSERT_NE(App, nullptr);
  QString Reported;
  App->OnException = [&Reported](std::exception_ptr E) { Reported = platform::TApplication::ExceptionMessage(E); };
  QWidget Form;
  TFailingStore Failing;
  auto* State = new TQoFormState(&Form);
  State->SetStorage(&Failing);
  State->SetSection("S");
  State->Loaded();
  Form.show();
  App->OnException = nullptr;
  EXPECT_EQ(Reported, "broken");
  EXPECT_TRUE(Form.isVisible()) << "the form opens all the same";
  EXPECT_EQ(Failing.OpenCount(), 0) << "the store was closed after the failure";
}

TEST_F(FormState, ComponentNames) {
  QMainWindow Form;
  Form.setObjectName("MainForm");
  QWidget Unnamed;
  auto* Edit = new QLineEdit(&Form);
  Edit->setObjectName("Edit1");
  auto* Inner = new QLineEdit(&Unnamed);
  Inner->setObjectName("Edit2");
  QObject Component(&Form);
  Component.setObjectName("Store1");
  QObject Loose;
  Loose.setObjectName("Loose");
  const std::pair<const QObject*, std::string> Cases[] = {
      {nullptr, ""},
      {&Form, "QMainWindow"},
      {Edit, "MainForm.Edit1"},
      {Inner, "QWidget.Edit2"},
      {&Component, "QMainWindow.Store1"},
      {&Loose, "Loose"},
  };
  for (const auto& [Object, Name] : Cases) EXPECT_EQ(GetComponentName(Object), Name);
  TQoFormState State(&Form);
  EXPECT_EQ(State.Section(), "QMainWindow");
}

// After a restore, a form that shows keeps a maximised position of minus
// its frame; a hidden one keeps none.
TEST_F(FormState, RestoreResetsTheMaximisedPositionOfAShownForm) {
  Store({{"NormalPos", "10,20,300,400"}});
  {
    THookedForm<QWidget> Hidden;
    Hidden.State->RestoreState();
    EXPECT_FALSE(Hidden.Form.property("MaxPosition").isValid());
    EXPECT_EQ(FormMaxPosition(&Hidden.Form), QPoint(0, 0));
  }
  QWidget Framed;
  Framed.setGeometry(100, 120, 300, 200);
  auto* Registry = new TQoRegistryStore(&Framed);
  Registry->SetKeyName(WinStateKey);
  auto* State = new TQoFormState(&Framed);
  State->SetSection("MainForm");
  State->SetStorage(Registry);
  Framed.show();
  State->RestoreState();
  ASSERT_TRUE(Framed.property("MaxPosition").isValid());
  const QRect Frame = Framed.frameGeometry(), Client = Framed.geometry();
  EXPECT_EQ(FormMaxPosition(&Framed), QPoint(Frame.left() - Client.left(), Client.bottom() - Frame.bottom()));
  EXPECT_EQ(Framed.normalGeometry(), QRect(10, 20, 290, 380));
}
