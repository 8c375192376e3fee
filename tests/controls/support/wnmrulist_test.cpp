#include "controls/support/wnmrulist/wnmrulist.h"

#include "support/tempkeystore.h"

#include <QAction>
#include <QMenu>
#include <gtest/gtest.h>

#include <map>

using namespace wn;

namespace {

const std::string RecentKey = "Software\\Halvenworth\\Pictrova 3\\RecentFolders\\";

using TValues = std::map<std::string, std::string>;

class MruList : public ::testing::Test {
 protected:
  static TValues Stored() { return testing_support::KeyValueTexts("\\" + RecentKey); }

  // The main window's list: capacity 20 unless told.
  static void Configure(TWnMruList& List, int MaxItems = 20) {
    List.SetSubKey(RecentKey);
    List.SetMaxItems(static_cast<TMRUCount>(MaxItems));
    List.SetActive(false);
    List.Open();
  }

  static std::vector<std::string> Items(TWnMruList& List) {
    std::vector<std::string> Texts;
    for (int i = 0; i < List.GetItemsCount(); ++i)
      if (List.ReadItem(i, false)) Texts.push_back(List.ItemText());
    return Texts;
  }

  testing_support::TTempKeyStore FKeyStore;
};

}  // namespace

TEST_F(MruList, ListDescription) {
  struct TCase {
    TWnDataType Kind;
    bool Delayed;
    TWnHKey Root;
    std::uint32_t Flags;
    platform::HKEY Key;
  };
  const TCase Cases[] = {
      {dtString, false, hkCurrentUser, 0, platform::HKEY_CURRENT_USER},
      {dtBinary, false, hkClassesRoot, 1, platform::HKEY_CLASSES_ROOT},
      {dtString, true, hkLocalMachine, 2, platform::HKEY_LOCAL_MACHINE},
      {dtBinary, true, hkUsers, 3, 0x80000003u},
      {dtString, false, hkCurrentConfig, 0, 0x80000005u},
  };
  for (const auto& Case : Cases) {
    TWnMruList Described;
    Described.SetSubKey("Software\\X");
    Described.SetMaxItems(30);
    Described.SetDataType(Case.Kind);
    Described.SetDelayedWrite(Case.Delayed);
    try {
      Described.SetRootKey(Case.Root);
    } catch (const EMruException&) {
      EXPECT_GE(Case.Root, hkUsers) << "only roots the key store lacks fail";
    }
    const TMruListDesc Desc = Described.ListDescription();
    EXPECT_EQ(Desc, (TMruListDesc{4, 30, Case.Flags, Case.Key, "Software\\X", nullptr}));
  }
}

TEST_F(MruList, MostRecentFirstAndStoredBySlot) {
  TWnMruList List;
  Configure(List);
  for (const char* Folder : {"/p/one", "/p/two", "/p/three"}) EXPECT_TRUE(List.AddString(Folder));
  EXPECT_EQ(Items(List), (std::vector<std::string>{"/p/three", "/p/two", "/p/one"}));
  EXPECT_EQ(Stored(), (TValues{{"a", "/p/one"}, {"b", "/p/two"}, {"c", "/p/three"}, {"MRUList", "cba"}}));

  EXPECT_TRUE(List.AddString("/p/one"));
  EXPECT_EQ(Items(List), (std::vector<std::string>{"/p/one", "/p/three", "/p/two"}));
  EXPECT_EQ(Stored().at("MRUList"), "acb");
  EXPECT_EQ(List.FindString("/p/two"), 2);
  EXPECT_EQ(List.FindString("/P/TWO"), -1) << "names differing in case are different folders";
  EXPECT_TRUE(List.AddPChar("/p/four\0ignored"));
  EXPECT_EQ(List.FindString("/p/four"), 0);

  TWnMruList Small;
  Configure(Small, 3);
  for (const char* Text : {"4", "5"}) Small.AddString(Text);
  EXPECT_EQ(Stored(), (TValues{{"a", "5"}, {"c", "4"}, {"d", "/p/four"}, {"MRUList", "acd"}}))
      << "the oldest beyond three went at the open; the new ones took the oldest's slots";
}

TEST_F(MruList, LoweringTheCapacityDropsTheOldest) {
  TWnMruList List;
  Configure(List, 5);
  for (const char* Text : {"A", "B", "C", "D", "E"}) List.AddString(Text);
  List.SetMaxItems(3);
  EXPECT_EQ(Items(List), (std::vector<std::string>{"E", "D", "C"}));
  EXPECT_EQ(Stored(), (TValues{{"c", "C"}, {"d", "D"}, {"e", "E"}, {"MRUList", "edc"}}));

  List.ReadItem(1, false);
  List.SetMaxItems(3);
  EXPECT_EQ(List.ItemIndex(), 1) << "the same capacity does not reopen";

  List.SetMaxItems(0);
  EXPECT_EQ(List.GetItemsCount(), 0);
  EXPECT_FALSE(List.AddString("F"));
  EXPECT_EQ(Stored(), (TValues{{"MRUList", ""}}));

  List.SetMaxItems(30);
  EXPECT_EQ(List.Handle()->Desc().uMax, 30u) << "passed on unchecked";
  for (int i = 0; i < 30; ++i) List.AddString(std::to_string(i));
  EXPECT_EQ(List.GetItemsCount(), 30);
  EXPECT_EQ(Stored().at("MRUList"), "~}|{zyxwvutsrqponmlkjihgfedcba");
  List.SetMaxItems(40);
  List.AddString("30");
  EXPECT_EQ(List.GetItemsCount(), 30) << "the service keeps 30 at most";
}

TEST_F(MruList, DeletingReopens) {
  TWnMruList List;
  Configure(List);
  for (const char* Text : {"A", "B", "C"}) List.AddString(Text);
  ASSERT_TRUE(List.ReadItem(0, false));
  EXPECT_EQ(List.DeleteItem(1), 1);
  EXPECT_EQ(List.ItemIndex(), -1);
  EXPECT_FALSE(List.ItemData().has_value());
  EXPECT_EQ(Items(List), (std::vector<std::string>{"C", "A"}));
  EXPECT_EQ(List.DeleteItem(5), 0);
  for (int i = List.GetItemsCount() - 1; i >= 0; --i) List.DeleteItem(i);
  EXPECT_EQ(List.GetItemsCount(), 0);
  EXPECT_EQ(Stored(), (TValues{{"MRUList", ""}}));
}

TEST_F(MruList, ReadsGrowTheirBufferForLongItems) {
  TWnMruList List;
  Configure(List);
  const std::string Long255(255, 'x');
  const std::string Long256 = std::string(255, 'y') + "z";
  List.AddString(Long255);
  List.AddString(Long256);
  std::vector<std::pair<std::string, int>> Fired;
  List.OnEnumText = [&Fired](TWnMruList*, const std::string& Value, int Index) { Fired.emplace_back(Value, Index); };
  const struct {
    int Index;
    const std::string& Text;
    int Reads;
  } Cases[] = {{1, Long255, 1}, {0, Long256, 2}};
  for (const auto& Case : Cases) {
    const int Before = List.Handle()->ItemReads();
    ASSERT_TRUE(List.GetItem(Case.Index));
    EXPECT_EQ(List.Handle()->ItemReads() - Before, Case.Reads);
    EXPECT_EQ(List.ItemText(), Case.Text);
  }
  EXPECT_EQ(Fired, (std::vector<std::pair<std::string, int>>{{Long255, 1}, {Long256, 0}}));

  EXPECT_FALSE(List.ReadItem(7, true));
  EXPECT_EQ(List.ItemIndex(), 0) << "a failed read keeps the last item";
  EXPECT_EQ(List.ItemText(), Long256);
  EXPECT_EQ(Fired.size(), 2u);

  List.SetWantUnicode(true);
  List.AddString("/home/jo/Bilder/Ärger");
  QString Wide;
  List.OnEnumUnicodeText = [&Wide](TWnMruList*, const QString& Value, int) { Wide = Value; };
  ASSERT_TRUE(List.GetItem(0));
  EXPECT_EQ(Wide, QString::fromUtf8("/home/jo/Bilder/Ärger"));
  EXPECT_EQ(List.ItemData()->size(), 256 * sizeof(char16_t));
}

TEST_F(MruList, BinaryItemsAndDamagedStoredForms) {
  {
    platform::TRegistry Registry;
    ASSERT_TRUE(Registry.OpenKey("\\" + RecentKey, true));
    Registry.WriteBinaryData("a", std::vector<std::uint8_t>(3, 7));
    Registry.WriteBinaryData("b", std::vector<std::uint8_t>(2000, 8));
    Registry.WriteBinaryData("c", std::vector<std::uint8_t>(70000, 9));
    Registry.WriteString("d", "text in a binary list");
    Registry.WriteString("MRUList", "bacdb#");
    Registry.WriteString("Other", "left alone");
  }
  TWnMruList List;
  List.SetDataType(dtBinary);
  Configure(List);
  EXPECT_EQ(Stored(), (TValues{{"a", "#3"}, {"b", "#2000"}, {"c", "#70000"}, {"MRUList", "bac"}, {"Other", "left alone"}}))
      << "slots of the wrong kind, repeated or unknown are dropped";
  std::vector<int> Sizes;
  List.OnEnumData = [&Sizes](TWnMruList*, const void*, int Size, int) { Sizes.push_back(Size); };
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(List.GetItem(i));
  EXPECT_EQ(Sizes, (std::vector<int>{2000, 3, 64000})) << "a larger item is cut to the buffer";
  EXPECT_EQ((*List.ItemData())[63999], 9);
  EXPECT_FALSE(List.AddString("text")) << "texts go to text lists only";
}

TEST_F(MruList, ClosedListsAnswerNeutrally) {
  TWnMruList List;
  List.Open();
  EXPECT_FALSE(List.Active()) << "no sub key: nothing opens";
  EXPECT_FALSE(List.AddString("x"));
  EXPECT_EQ(List.FindString("x"), -1);
  EXPECT_EQ(List.DeleteItem(0), 0);
  EXPECT_EQ(List.GetItemsCount(), 0);
  EXPECT_FALSE(List.ReadItem(0, true));

  List.SetSubKey(RecentKey);
  EXPECT_TRUE(List.Active()) << "a new sub key reopens the list";
  try {
    List.SetRootKey(hkUsers);
    FAIL() << "no exception";
  } catch (const EMruException& E) {
    EXPECT_STREQ(E.what(), "Unable to create MRU");
  }
  EXPECT_FALSE(List.Active());
}

TEST_F(MruList, DelayedWriteWaitsForTheClose) {
  TWnMruList List;
  List.SetDelayedWrite(true);
  Configure(List);
  List.AddString("/p/one");
  EXPECT_EQ(Stored(), TValues{}) << "the open itself writes nothing either";
  List.Close();
  EXPECT_EQ(Stored(), (TValues{{"a", "/p/one"}, {"MRUList", "a"}}));
}

// Two runs of the program on one settings folder, each with its own list:
// every write takes the list as stored then, so neither run loses what the
// other added or removed, a delayed write neither.
TEST_F(MruList, TwoRunsKeepEachOthersChanges) {
  TWnMruList First, Second;
  Configure(First);
  First.AddString("/p/shared");
  First.AddString("/p/gone");
  Configure(Second);
  First.AddString("/p/first");
  Second.AddString("/p/second");
  EXPECT_EQ(Items(Second), (std::vector<std::string>{"/p/second", "/p/first", "/p/gone", "/p/shared"}));
  First.DeleteItem(First.FindString("/p/gone"));
  Second.AddString("/p/shared");
  EXPECT_EQ(Items(Second), (std::vector<std::string>{"/p/shared", "/p/second", "/p/first"}));
  EXPECT_EQ(Stored(), (TValues{{"a", "/p/shared"}, {"c", "/p/first"}, {"d", "/p/second"}, {"MRUList", "adc"}}));
  {
    TWnMruList Delayed;
    Delayed.SetDelayedWrite(true);
    Configure(Delayed);
    Delayed.AddString("/p/delayed");
    First.AddString("/p/meanwhile");
  }
  First.Reopen();
  EXPECT_EQ(Items(First),
            (std::vector<std::string>{"/p/delayed", "/p/meanwhile", "/p/shared", "/p/second", "/p/first"}));
}

TEST_F(MruList, MenuItemsKeepTheirText) {
  TWnMruList List;
  Configure(List);
  List.AddString("/p/one");
  List.AddString("/home/jo/R&D");
  QMenu Menu;
  QString Clicked;
  EXPECT_EQ(AddMruMenuItems(Menu, List, [&Clicked](QAction* A) { Clicked = MruMenuItemText(A); }), 2);
  const QList<QAction*> Actions = Menu.actions();
  ASSERT_EQ(Actions.size(), 2);
  EXPECT_EQ(Actions[0]->text(), "/home/jo/R&&D");
  EXPECT_EQ(Actions[1]->text(), "/p/one");
  Actions[0]->trigger();
  EXPECT_EQ(Clicked, "/home/jo/R&D");

  TWnMruList Empty;
  QMenu None;
  EXPECT_EQ(AddMruMenuItems(None, Empty, nullptr), 0);
}
