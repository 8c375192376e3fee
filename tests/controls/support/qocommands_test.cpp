#include "controls/support/qoedit/qocommands.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>

namespace {

using platform::TBytesStream;
using platform::TMemoryStream;
using wn::TQoCmdRec;
using wn::TQoCommandProcessor;
using wn::TQoCommandTable;

std::string ReadText(const std::string& FileName) {
  std::ifstream f(FileName, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteText(const std::string& FileName, const std::string& Text) {
  std::ofstream(FileName, std::ios::binary) << Text;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> List) {
  std::vector<std::uint8_t> v;
  for (int b : List) v.push_back(static_cast<std::uint8_t>(b));
  return v;
}

std::vector<std::uint8_t> NameBytes(const std::string& Name) {
  std::vector<std::uint8_t> v = {6, static_cast<std::uint8_t>(Name.size())};
  v.insert(v.end(), Name.begin(), Name.end());
  return v;
}

std::vector<std::uint8_t> Stored(const TQoCommandTable& Table) {
  TMemoryStream s;
  Table.WriteCommandList(s);
  return s.Data();
}

std::vector<std::uint8_t> Stored(const TQoCommandProcessor& Processor) {
  TMemoryStream s;
  Processor.WriteTableList(s);
  return s.Data();
}

const TQoCmdRec CtrlQS{81, wn::qssCtrl, 83, 128, 42};

TEST(QoCommands, RecordLayoutAndKeys) {
  EXPECT_EQ(sizeof(TQoCmdRec), 6u);
  EXPECT_EQ(CtrlQS.Keys(), 0x80530451u);
  EXPECT_EQ(TQoCmdRec::FromKeys(0x80530451u, 42), CtrlQS);
}

TEST(QoCommands, QtKeysMapToVirtualKeys) {
  EXPECT_EQ(wn::QtKeyToVirtualKey(Qt::Key_Left), 37);
  EXPECT_EQ(wn::QtKeyToVirtualKey(Qt::Key_Down), 40);
  EXPECT_EQ(wn::QtKeyToVirtualKey(Qt::Key_PageUp), 33);
  EXPECT_EQ(wn::QtKeyToVirtualKey(Qt::Key_Backspace), 8);
  EXPECT_EQ(wn::QtKeyToVirtualKey(Qt::Key_Enter), 13);
  EXPECT_EQ(wn::QtKeyToVirtualKey(Qt::Key_F2), 113);
  EXPECT_EQ(wn::QtKeyToVirtualKey(Qt::Key_7), '7');
  EXPECT_EQ(wn::QtKeyToVirtualKey(Qt::Key_Q), 'Q');
  EXPECT_EQ(wn::QtKeyToVirtualKey(Qt::Key_Eacute), 0);
  EXPECT_EQ(wn::QtModifiersToShiftState(Qt::ControlModifier | Qt::ShiftModifier), 6);
  EXPECT_EQ(wn::QtModifiersToShiftState(Qt::AltModifier | Qt::KeypadModifier), 8);

  TQoCommandProcessor p;
  QKeyEvent ctrlZ(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier);
  const TQoCmdRec probe{wn::QtKeyToVirtualKey(ctrlZ.key()), wn::QtModifiersToShiftState(ctrlZ.modifiers()), 0, 0, 0};
  TQoCommandTable* def = p.FindTable("Default");
  ASSERT_NE(def, nullptr);
  const int i = def->FindKeys(probe);
  ASSERT_GE(i, 0);
  EXPECT_EQ(def->GetRec(i).Command, 72);
}

TEST(QoCommands, NewProcessorHoldsTheBuiltInMaps) {
  TQoCommandProcessor p;
  ASSERT_EQ(p.TableCount(), 3);
  EXPECT_EQ(p.Table(0).Name, "Default");
  EXPECT_TRUE(p.Table(0).Active);
  EXPECT_EQ(p.Table(0).Count(), 64);
  EXPECT_EQ(p.Table(1).Name, "WordStar");
  EXPECT_FALSE(p.Table(1).Active);
  EXPECT_EQ(p.Table(1).Count(), 40);
  EXPECT_EQ(p.Table(2).Name, "Grid");
  EXPECT_FALSE(p.Table(2).Active);
  EXPECT_EQ(p.Table(2).Count(), 38);
  EXPECT_THROW(p.Table(3), wn::ETableNotFound);

  const TQoCommandTable& d = p.Table(0);
  EXPECT_EQ(d.GetRec(0), (TQoCmdRec{37, 0, 0, 0, 46}));
  EXPECT_EQ(d.GetRec(8), (TQoCmdRec{8, 2, 0, 0, 1}));       // Shift+Backspace
  EXPECT_EQ(d.GetRec(13), (TQoCmdRec{8, 8, 0, 0, 54}));     // Alt+Backspace
  EXPECT_EQ(d.GetRec(43), (TQoCmdRec{'Z', 6, 0, 0, 53}));   // Ctrl+Shift+Z
  EXPECT_EQ(d.GetRec(44), (TQoCmdRec{'0', 4, 0, 0, 32}));   // Ctrl+0
  EXPECT_EQ(d.GetRec(63), (TQoCmdRec{'9', 6, 0, 0, 67}));   // Ctrl+Shift+9
  const TQoCommandTable& w = p.Table(1);
  EXPECT_EQ(w.GetRec(0), (TQoCmdRec{'S', 4, 0, 0, 46}));
  EXPECT_EQ(w.GetRec(10), CtrlQS);
  EXPECT_EQ(w.GetRec(19), (TQoCmdRec{'Q', 4, 'L', 128, 54}));
  EXPECT_EQ(w.GetRec(20), (TQoCmdRec{'Q', 4, '0', 128, 32}));
  EXPECT_EQ(w.GetRec(39), (TQoCmdRec{'K', 4, '9', 128, 67}));
  const TQoCommandTable& g = p.Table(2);
  EXPECT_EQ(g.GetRec(2), (TQoCmdRec{37, 4, 0, 0, 49}));
  EXPECT_EQ(g.GetRec(37), (TQoCmdRec{113, 0, 0, 0, 69}));
  // Each built-in map has every key once.
  for (int t = 0; t < 3; ++t)
    for (int i = 0; i < p.Table(t).Count(); ++i) EXPECT_EQ(p.Table(t).FindKeys(p.Table(t).GetRec(i)), i);
}

TEST(QoCommands, TableEditing) {
  TQoCommandTable t;
  EXPECT_EQ(t.Name, "(Unknown)");
  EXPECT_TRUE(t.Active);
  EXPECT_EQ(t.AddRec(CtrlQS), 0);
  EXPECT_EQ(t.AddRec(CtrlQS), 1);  // no duplicate check
  t.InsertRec(0, TQoCmdRec{1, 0, 0, 0, 5});
  EXPECT_EQ(t.FindKeys(CtrlQS), 1);
  EXPECT_EQ(t.FindKeys(TQoCmdRec{1, 0, 0, 0, 99}), 0);  // keys alone decide
  EXPECT_EQ(t.FindKeys(TQoCmdRec{2, 0, 0, 0, 5}), -1);
  t.ReplaceRec(0, TQoCmdRec{2, 0, 0, 0, 6});
  EXPECT_EQ(t.GetRec(0).Command, 6);
  t.DeleteRec(1);
  EXPECT_EQ(t.Count(), 2);
  EXPECT_THROW(t.GetRec(2), wn::EQoException);
  EXPECT_THROW(t.DeleteRec(-1), wn::EQoException);
  t.ClearRecs();
  EXPECT_EQ(t.Count(), 0);
  EXPECT_FALSE(t.HasCommandList());
}

TEST(QoCommands, AddToTableRefusesUnknownTablesAndDuplicates) {
  TQoCommandProcessor p;
  try {
    p.AddToTable("Nowhere", CtrlQS);
    FAIL();
  } catch (const wn::ETableNotFound& e) {
    EXPECT_STREQ(e.what(), "Command table not found or command table index out of range");
  }
  try {
    p.AddToTable("wordstar", TQoCmdRec{81, 4, 83, 128, 7});
    FAIL();
  } catch (const wn::EDuplicateCommand& e) {
    EXPECT_STREQ(e.what(), "Duplicate command found while adding a new command to the table");
  }
  EXPECT_EQ(p.FindTable("WordStar")->Count(), 40);
  p.AddToTable("GRID", CtrlQS);
  EXPECT_EQ(p.FindTable("Grid")->Count(), 39);
}

TEST(QoCommands, TablesAreAddedUnderAFreeName) {
  TQoCommandProcessor p;
  EXPECT_EQ(p.FindTable("default"), &p.Table(0));
  EXPECT_EQ(p.FindTable("Missing"), nullptr);
  EXPECT_EQ(p.NewTable("Default", false), 3);
  EXPECT_EQ(p.Table(3).Name, "Default1");
  EXPECT_EQ(p.Table(p.NewTable("Default", false)).Name, "Default2");
  EXPECT_EQ(p.Table(p.NewTable("Grid7", true)).Name, "Grid1");
  EXPECT_EQ(p.Table(p.NewTable("Table2", true)).Name, "Table2");
  EXPECT_EQ(p.Table(p.NewTable("7", true)).Name, "7");
  EXPECT_EQ(p.Table(p.NewTable("7", true)).Name, "71");
  p.ClearTables();
  EXPECT_EQ(p.TableCount(), 0);
  EXPECT_FALSE(p.HasTableList());
}

class QoCommandFiles : public ::testing::Test {
 protected:
  std::string Path(const char* Name) const { return dir.filePath(Name).toStdString(); }
  QTemporaryDir dir;
};

TEST_F(QoCommandFiles, TextLinesAreRightAligned) {
  TQoCommandTable t;
  t.Name = "Mine";
  t.AddRec(CtrlQS);
  t.AddRec(TQoCmdRec{113, 0, 0, 0, 65535});
  t.WriteToTextFile(Path("mine.txt"));
  EXPECT_EQ(ReadText(Path("mine.txt")),
            "Mine\n"
            "  81   4  83 128    42\n"
            " 113   0   0   0 65535\n");
}

TEST_F(QoCommandFiles, TextFileRoundTripAndReadingIntoAProcessor) {
  TQoCommandProcessor p;
  p.WriteTableToTextFile("wordstar", Path("ws.txt"));
  p.WriteTableToTextFile("Nothing", Path("none.txt"));
  EXPECT_FALSE(QFile::exists(dir.filePath("none.txt")));

  const int i = p.ReadTableFromTextFile(Path("ws.txt"));
  EXPECT_EQ(i, 3);
  EXPECT_EQ(p.Table(i).Name, "WordStar1");
  ASSERT_EQ(p.Table(i).Count(), 40);
  for (int k = 0; k < 40; ++k) EXPECT_EQ(p.Table(i).GetRec(k), p.Table(1).GetRec(k));

  // Reading appends without a duplicate check, and takes CR LF line ends.
  WriteText(Path("dup.txt"), "Dup\r\n 1 2 3 4 5\r\n1 2 3 4 5\r\n\r\n");
  TQoCommandTable t;
  t.ReadFromTextFile(Path("dup.txt"));
  EXPECT_EQ(t.Name, "Dup");
  ASSERT_EQ(t.Count(), 2);
  EXPECT_EQ(t.GetRec(1), (TQoCmdRec{1, 2, 3, 4, 5}));
}

TEST_F(QoCommandFiles, BadTextFilesAreRefusedAndChangeNothing) {
  TQoCommandProcessor p;
  EXPECT_THROW(p.ReadTableFromTextFile(Path("missing.txt")), platform::EStreamError);
  EXPECT_EQ(p.TableCount(), 3);

  TQoCommandTable t;
  t.Name = "Kept";
  t.AddRec(CtrlQS);
  for (const char* text : {"X\n1 2 3 4\n", "X\n1 2 3 4 x\n", "X\n256 0 0 0 1\n", "X\n1 0 0 0 65536\n",
                           "X\n-1 0 0 0 1\n", "X\n1 2 3 4 5\n1 2\n"}) {
    WriteText(Path("bad.txt"), text);
    EXPECT_THROW(t.ReadFromTextFile(Path("bad.txt")), platform::EStreamError) << text;
    EXPECT_THROW(p.ReadTableFromTextFile(Path("bad.txt")), platform::EStreamError) << text;
    EXPECT_EQ(t.Name, "Kept");
    EXPECT_EQ(t.Count(), 1);
    EXPECT_EQ(p.TableCount(), 3);
  }
}

TEST(QoCommandStore, BuiltInTablesStoreOnlyTheirDifferences) {
  TQoCommandProcessor p;
  std::vector<std::uint8_t> expected = NameBytes("Default");
  for (int b : {9, 1, 0}) expected.push_back(static_cast<std::uint8_t>(b));
  EXPECT_EQ(Stored(p.Table(0)), expected);

  // Ctrl+Z (keys 0x045A) now runs command 99: one pair.
  TQoCommandTable& d = p.Table(0);
  d.ReplaceRec(d.FindKeys(TQoCmdRec{'Z', 4, 0, 0, 0}), TQoCmdRec{'Z', 4, 0, 0, 99});
  expected = NameBytes("Default");
  for (int b : {9, 1, 3, 0x5A, 0x04, 2, 99, 0}) expected.push_back(static_cast<std::uint8_t>(b));
  EXPECT_EQ(Stored(d), expected);

  // Left deleted: its keys with command 0 come first.
  d.DeleteRec(0);
  expected = NameBytes("Default");
  for (int b : {9, 1, 2, 37, 2, 0, 3, 0x5A, 0x04, 2, 99, 0}) expected.push_back(static_cast<std::uint8_t>(b));
  EXPECT_EQ(Stored(d), expected);

  TQoCommandTable back;
  TMemoryStream s;
  d.WriteCommandList(s);
  s.SetPosition(0);
  back.ReadCommandList(s);
  EXPECT_EQ(back.Name, "Default");
  EXPECT_TRUE(back.Active);
  ASSERT_EQ(back.Count(), 63);
  EXPECT_EQ(back.FindKeys(TQoCmdRec{37, 0, 0, 0, 0}), -1);
  EXPECT_EQ(back.GetRec(back.FindKeys(TQoCmdRec{'Z', 4, 0, 0, 0})).Command, 99);
  for (int i = 0; i < 63; ++i) EXPECT_EQ(back.GetRec(i), d.GetRec(i));
}

TEST(QoCommandStore, OtherTablesStoreEveryRecord) {
  TQoCommandTable t;
  t.Name = "Mine";
  t.Active = false;
  t.AddRec(CtrlQS);
  t.AddRec(CtrlQS);
  std::vector<std::uint8_t> expected = NameBytes("Mine");
  const std::vector<std::uint8_t> tail = Bytes({8, 1, 4, 0x51, 0x04, 0x53, 0x80, 2, 42, 4, 0x51, 0x04, 0x53, 0x80, 2, 42, 0});
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(Stored(t), expected);
}

TEST(QoCommandStore, TableListRoundTripsByteForByte) {
  TQoCommandProcessor p;
  p.Table(1).Active = true;
  p.Table(1).DeleteRec(10);
  p.AddToTable("Grid", TQoCmdRec{'A', 4, 0, 0, 300});
  const int mine = p.NewTable("Mine", false);
  p.Table(mine).AddRec(CtrlQS);
  p.Table(mine).AddRec(TQoCmdRec{'B', 8, 0, 0, 0xFFFF});
  const std::vector<std::uint8_t> first = Stored(p);
  EXPECT_EQ(first.front(), 1);
  EXPECT_EQ(first.back(), 0);

  TQoCommandProcessor q;
  q.ClearTables();
  TBytesStream in(first.data(), static_cast<std::int64_t>(first.size()));
  q.ReadTableList(in);
  ASSERT_EQ(q.TableCount(), 4);
  EXPECT_EQ(Stored(q), first);
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(q.Table(t).Name, p.Table(t).Name);
    EXPECT_EQ(q.Table(t).Active, p.Table(t).Active);
    ASSERT_EQ(q.Table(t).Count(), p.Table(t).Count());
    for (int i = 0; i < p.Table(t).Count(); ++i) EXPECT_EQ(q.Table(t).GetRec(i), p.Table(t).GetRec(i));
  }
}

TEST(QoCommandStore, MalformedDataIsRefusedAndChangesNothing) {
  TQoCommandProcessor source;
  source.Table(0).DeleteRec(3);
  source.NewTable("Extra", true);
  source.AddToTable("Extra", CtrlQS);
  const std::vector<std::uint8_t> good = Stored(source);
  // Every truncation of good data.
  for (std::size_t n = 0; n < good.size(); ++n) {
    TQoCommandProcessor p;
    TBytesStream in(good.data(), static_cast<std::int64_t>(n));
    EXPECT_THROW(p.ReadTableList(in), platform::EStreamError) << n;
    ASSERT_EQ(p.TableCount(), 3);
    EXPECT_EQ(p.Table(0).Count(), 64);
  }

  auto refused = [](const std::vector<std::uint8_t>& Data) {
    TQoCommandTable t;
    t.Name = "Kept";
    TBytesStream in(Data.data(), static_cast<std::int64_t>(Data.size()));
    EXPECT_THROW(t.ReadCommandList(in), platform::EStreamError);
    EXPECT_EQ(t.Name, "Kept");
    EXPECT_EQ(t.Count(), 0);
  };
  refused(Bytes({12, 0xFF, 0xFF, 0xFF, 0x7F, 'A'}));                 // long string beyond the data
  refused(Bytes({6, 1, 'A', 2}));                                    // not a boolean
  refused(Bytes({6, 1, 'A', 9, 2}));                                 // no list
  refused(Bytes({6, 1, 'A', 9, 1, 6, 0, 2, 1, 0}));                  // keys are not a string
  refused(Bytes({6, 1, 'A', 9, 1, 2, 1, 4, 0x70, 0x11, 0x01, 0, 0}));  // command 70000
  refused(Bytes({6, 1, 'A', 9, 1, 2, 1, 2, -1, 0}));                 // command -1
  refused(Bytes({6, 1, 'A', 9, 1, 2, 1, 2, 1}));                     // no list end
}

}  // namespace
