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
  std::string v = "\x06" + std::string(1, static_cast<char>(Name.size())) + Name;
  return std::vector<std::uint8_t>(v.begin(), v.end());
}

// The stored form of a table: name, active flag, the pairs given, list end.
std::vector<std::uint8_t> StoredForm(const std::string& Name, bool Active, const std::vector<std::uint8_t>& Pairs) {
  std::vector<std::uint8_t> v = NameBytes(Name);
  v.push_back(Active ? 9 : 8);
  v.push_back(1);
  v.insert(v.end(), Pairs.begin(), Pairs.end());
  v.push_back(0);
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

TEST(QoCommands, QtKeysAndModifiersMapToTheRecordsBytes) {
  const std::pair<int, int> keys[] = {
      {Qt::Key_0, '0'},        {Qt::Key_9, '9'},      {Qt::Key_A, 'A'},        {Qt::Key_Z, 'Z'},      {Qt::Key_Slash, 0},
      {Qt::Key_Colon, 0},      {Qt::Key_At, 0},       {Qt::Key_BracketLeft, 0}, {Qt::Key_F1, 112},    {Qt::Key_F2, 113},
      {Qt::Key_F24, 135},      {Qt::Key_F25, 0},      {Qt::Key_Backspace, 8},  {Qt::Key_Tab, 9},      {Qt::Key_Backtab, 9},
      {Qt::Key_Return, 13},    {Qt::Key_Enter, 13},   {Qt::Key_Escape, 27},    {Qt::Key_Space, 32},   {Qt::Key_PageUp, 33},
      {Qt::Key_PageDown, 34},  {Qt::Key_End, 35},     {Qt::Key_Home, 36},      {Qt::Key_Left, 37},    {Qt::Key_Up, 38},
      {Qt::Key_Right, 39},     {Qt::Key_Down, 40},    {Qt::Key_Insert, 45},    {Qt::Key_Delete, 46},  {Qt::Key_Eacute, 0}};
  for (auto [qt, vk] : keys) EXPECT_EQ(wn::QtKeyToVirtualKey(qt), vk) << std::hex << qt;
  const std::pair<Qt::KeyboardModifiers, int> modifiers[] = {
      {Qt::NoModifier, 0}, {Qt::ShiftModifier, 2}, {Qt::ControlModifier, 4}, {Qt::AltModifier, 8},
      {Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, 14}, {Qt::KeypadModifier | Qt::MetaModifier, 0}};
  for (auto [m, bits] : modifiers) EXPECT_EQ(wn::QtModifiersToShiftState(m), bits) << m;

  EXPECT_EQ(CtrlQS.Keys(), 0x80530451u);
  EXPECT_EQ(TQoCmdRec::FromKeys(0x80530451u, 42), CtrlQS);
  TQoCommandProcessor p;
  QKeyEvent ctrlZ(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier);
  const TQoCmdRec probe{wn::QtKeyToVirtualKey(ctrlZ.key()), wn::QtModifiersToShiftState(ctrlZ.modifiers()), 0, 0, 0};
  EXPECT_EQ(p.Table(0).GetRec(p.Table(0).FindKeys(probe)).Command, 72);
}

TEST(QoCommands, NewProcessorHoldsTheBuiltInMaps) {
  TQoCommandProcessor p;
  ASSERT_EQ(p.TableCount(), 3);
  const struct {
    const char* Name;
    bool Active;
    int Count;
  } tables[] = {{"Default", true, 64}, {"WordStar", false, 40}, {"Grid", false, 38}};
  for (int t = 0; t < 3; ++t) {
    EXPECT_EQ(p.Table(t).Name, tables[t].Name);
    EXPECT_EQ(p.Table(t).Active, tables[t].Active);
    ASSERT_EQ(p.Table(t).Count(), tables[t].Count);
    // Each built-in map has every key once.
    for (int i = 0; i < p.Table(t).Count(); ++i) EXPECT_EQ(p.Table(t).FindKeys(p.Table(t).GetRec(i)), i);
  }
  const struct {
    int Table, Index;
    TQoCmdRec Rec;
  } entries[] = {
      {0, 0, {37, 0, 0, 0, 46}},   {0, 8, {8, 2, 0, 0, 1}},      {0, 13, {8, 8, 0, 0, 54}},  {0, 43, {'Z', 6, 0, 0, 53}},
      {1, 0, {'S', 4, 0, 0, 46}},  {1, 10, CtrlQS},              {1, 19, {'Q', 4, 'L', 128, 54}},
      {2, 2, {37, 4, 0, 0, 49}},   {2, 37, {113, 0, 0, 0, 69}}};
  for (const auto& e : entries) EXPECT_EQ(p.Table(e.Table).GetRec(e.Index), e.Rec) << e.Table << ":" << e.Index;
  // The digit keys: Ctrl, Ctrl+Shift, Ctrl+Q and Ctrl+K with 0 to 9.
  for (std::uint8_t d = 0; d <= 9; ++d) {
    const std::uint8_t key = static_cast<std::uint8_t>('0' + d);
    const std::uint16_t low = static_cast<std::uint16_t>(32 + d), high = static_cast<std::uint16_t>(58 + d);
    EXPECT_EQ(p.Table(0).GetRec(44 + d), (TQoCmdRec{key, 4, 0, 0, low}));
    EXPECT_EQ(p.Table(0).GetRec(54 + d), (TQoCmdRec{key, 6, 0, 0, high}));
    EXPECT_EQ(p.Table(1).GetRec(20 + d), (TQoCmdRec{'Q', 4, key, 128, low}));
    EXPECT_EQ(p.Table(1).GetRec(30 + d), (TQoCmdRec{'K', 4, key, 128, high}));
  }
  EXPECT_THROW(p.Table(-1), wn::ETableNotFound);
  EXPECT_THROW(p.Table(3), wn::ETableNotFound);
}

TEST(QoCommands, TableEditingAndIndexesAtTheirLimits) {
  TQoCommandTable t;
  EXPECT_EQ(t.Name, "(Unknown)");
  EXPECT_EQ(t.AddRec(CtrlQS), 0);
  EXPECT_EQ(t.AddRec(TQoCmdRec{3, 0, 0, 0, 3}), 1); // no duplicate check
  t.InsertRec(1, TQoCmdRec{2, 0, 0, 0, 2});
  t.InsertRec(3, TQoCmdRec{4, 0, 0, 0, 4}); // at the count: appended
  t.InsertRec(0, TQoCmdRec{1, 0, 0, 0, 1});
  ASSERT_EQ(t.Count(), 5);
  for (int i = 1; i < 5; ++i) EXPECT_EQ(t.GetRec(i).Key1, i == 1 ? 81 : i) << i;
  EXPECT_EQ(t.FindKeys(TQoCmdRec{2, 0, 0, 0, 99}), 2); // keys alone decide
  EXPECT_EQ(t.FindKeys(TQoCmdRec{2, 0, 0, 1, 2}), -1);
  t.ReplaceRec(4, TQoCmdRec{9, 0, 0, 0, 6});
  t.ReplaceRec(0, TQoCmdRec{8, 0, 0, 0, 6});
  EXPECT_EQ(t.GetRec(4).Key1, 9);
  EXPECT_EQ(t.GetRec(0).Key1, 8);
  t.DeleteRec(4);
  t.DeleteRec(0);
  ASSERT_EQ(t.Count(), 3);
  EXPECT_EQ(t.GetRec(0), CtrlQS);
  for (int bad : {-1, 3}) {
    EXPECT_THROW(t.GetRec(bad), wn::EQoException) << bad;
    EXPECT_THROW(t.ReplaceRec(bad, CtrlQS), wn::EQoException) << bad;
    EXPECT_THROW(t.DeleteRec(bad), wn::EQoException) << bad;
  }
  EXPECT_THROW(t.InsertRec(-1, CtrlQS), wn::EQoException);
  EXPECT_THROW(t.InsertRec(4, CtrlQS), wn::EQoException);
  EXPECT_EQ(t.Count(), 3);
  t.ClearRecs();
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
  EXPECT_THROW(p.AddToTable("Default", TQoCmdRec{37, 0, 0, 0, 1}), wn::EDuplicateCommand); // the first record
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
  p.AddToTable("WordStar", TQoCmdRec{255, 255, 255, 255, 65535});
  p.WriteTableToTextFile("wordstar", Path("ws.txt"));
  p.WriteTableToTextFile("Nothing", Path("none.txt"));
  EXPECT_FALSE(QFile::exists(dir.filePath("none.txt")));
  const int i = p.ReadTableFromTextFile(Path("ws.txt"));
  EXPECT_EQ(i, 3);
  EXPECT_EQ(p.Table(i).Name, "WordStar1");
  ASSERT_EQ(p.Table(i).Count(), 41);
  for (int k = 0; k < 41; ++k) EXPECT_EQ(p.Table(i).GetRec(k), p.Table(1).GetRec(k));

  // A file of 4097 bytes: its last byte comes in a read of its own.
  std::string big = "Big\n";
  for (int k = 0; k < 177; ++k) big += "   1   0   0   0   123\n";
  big += "   2   0   0   0     7";
  ASSERT_EQ(big.size(), 4097u);
  WriteText(Path("big.txt"), big);
  TQoCommandTable t;
  t.ReadFromTextFile(Path("big.txt"));
  ASSERT_EQ(t.Count(), 178);
  EXPECT_EQ(t.GetRec(177), (TQoCmdRec{2, 0, 0, 0, 7}));
}

TEST_F(QoCommandFiles, EachRecordLineIsCheckedAndABadOneChangesNothing) {
  const struct {
    const char* Text;
    bool Read;
  } cases[] = {
      {"X\n1 2 3 4 5\n", true}, {"X\r\n 1 2 3 4 5\r\n1\t2 3 4 5\r\n\r\n", true}, {"X\n+1 2 3 4 +5\n", true},
      {"X\n1 2 3 4 5 6\n", true}, {"X\n1 2 3 4\n", false}, {"X\n1 2 3 4 x\n", false}, {"X\n1 2 3 4 5x\n", false},
      {"X\n256 0 0 0 1\n", false}, {"X\n1 0 0 256 1\n", false}, {"X\n1 0 0 0 65536\n", false},
      {"X\n-1 0 0 0 1\n", false}, {"X\n1 2 3 4 -5\n", false}, {"X\n1 2 3 4 +\n", false},
      {"X\n1 2 3 4 5\n1 2\n", false}};
  TQoCommandProcessor p;
  EXPECT_THROW(p.ReadTableFromTextFile(Path("missing.txt")), platform::EStreamError);
  for (const auto& c : cases) {
    WriteText(Path("t.txt"), c.Text);
    TQoCommandTable t;
    t.Name = "Kept";
    t.AddRec(CtrlQS);
    if (c.Read) {
      t.ReadFromTextFile(Path("t.txt"));
      EXPECT_EQ(t.Name, "X");
      EXPECT_EQ(t.GetRec(t.Count() - 1), (TQoCmdRec{1, 2, 3, 4, 5})) << c.Text;
      continue;
    }
    EXPECT_THROW(t.ReadFromTextFile(Path("t.txt")), platform::EStreamError) << c.Text;
    EXPECT_THROW(p.ReadTableFromTextFile(Path("t.txt")), platform::EStreamError) << c.Text;
    EXPECT_EQ(t.Name, "Kept");
    EXPECT_EQ(t.Count(), 1);
    EXPECT_EQ(p.TableCount(), 3);
  }
}

TEST(QoCommandStore, IntegersTakeTheShortestForm) {
  const struct {
    std::uint32_t Keys;
    std::vector<std::uint8_t> Stored; // the keys as stored; a command of the same value alike
  } cases[] = {
      {127, {2, 0x7F}},  {128, {3, 0x80, 0}},     {255, {3, 0xFF, 0}},      {32767, {3, 0xFF, 0x7F}},
      {32768, {4, 0, 0x80, 0, 0}}, {65535, {4, 0xFF, 0xFF, 0, 0}}, {0xFFFFFF80u, {2, 0x80}},
      {0xFFFFFF7Fu, {3, 0x7F, 0xFF}}, {0xFFFF8000u, {3, 0, 0x80}}, {0xFFFF7FFFu, {4, 0xFF, 0x7F, 0xFF, 0xFF}}};
  for (const auto& c : cases) {
    TQoCommandTable t;
    t.Name = "Mine";
    const std::uint16_t command = c.Keys <= 0xFFFF ? static_cast<std::uint16_t>(c.Keys) : 1;
    t.AddRec(TQoCmdRec::FromKeys(c.Keys, command));
    std::vector<std::uint8_t> pairs = c.Stored;
    for (std::uint8_t b : c.Keys <= 0xFFFF ? c.Stored : Bytes({2, 1})) pairs.push_back(b);
    const std::vector<std::uint8_t> expected = StoredForm("Mine", true, pairs);
    EXPECT_EQ(Stored(t), expected) << c.Keys;
    TQoCommandTable back;
    TBytesStream in(expected.data(), static_cast<std::int64_t>(expected.size()));
    back.ReadCommandList(in);
    ASSERT_EQ(back.Count(), 1);
    EXPECT_EQ(back.GetRec(0), t.GetRec(0)) << c.Keys;
  }
  // Names up to 255 bytes take one length byte, longer ones four.
  for (std::size_t length : {255u, 256u}) {
    TQoCommandTable t;
    t.Name = std::string(length, 'n');
    const std::vector<std::uint8_t> stored = Stored(t);
    const std::vector<std::uint8_t> head = length == 255 ? Bytes({6, 255}) : Bytes({12, 0, 1, 0, 0});
    EXPECT_EQ(std::vector<std::uint8_t>(stored.begin(), stored.begin() + static_cast<long>(head.size())), head);
    EXPECT_EQ(stored.size(), head.size() + length + 3);
    TQoCommandTable back;
    TBytesStream in(stored.data(), static_cast<std::int64_t>(stored.size()));
    back.ReadCommandList(in);
    EXPECT_EQ(back.Name, t.Name);
  }
}

TEST(QoCommandStore, BuiltInTablesStoreOnlyTheirDifferences) {
  TQoCommandProcessor p;
  EXPECT_EQ(Stored(p.Table(0)), StoredForm("Default", true, {}));
  // Ctrl+Z (keys 0x045A) now runs command 99: one pair.
  TQoCommandTable& d = p.Table(0);
  d.ReplaceRec(d.FindKeys(TQoCmdRec{'Z', 4, 0, 0, 0}), TQoCmdRec{'Z', 4, 0, 0, 99});
  EXPECT_EQ(Stored(d), StoredForm("Default", true, {3, 0x5A, 0x04, 2, 99}));
  // Left deleted: its keys with command 0 come first.
  d.DeleteRec(0);
  EXPECT_EQ(Stored(d), StoredForm("Default", true, {2, 37, 2, 0, 3, 0x5A, 0x04, 2, 99}));

  TQoCommandTable back;
  TMemoryStream s;
  d.WriteCommandList(s);
  s.SetPosition(0);
  back.ReadCommandList(s);
  EXPECT_EQ(back.Name, "Default");
  EXPECT_TRUE(back.Active);
  ASSERT_EQ(back.Count(), 63);
  for (int i = 0; i < 63; ++i) EXPECT_EQ(back.GetRec(i), d.GetRec(i));
  // Other tables store every record.
  TQoCommandTable t;
  t.Name = "Mine";
  t.Active = false;
  t.AddRec(CtrlQS);
  t.AddRec(CtrlQS);
  EXPECT_EQ(Stored(t), StoredForm("Mine", false, {4, 0x51, 0x04, 0x53, 0x80, 2, 42, 4, 0x51, 0x04, 0x53, 0x80, 2, 42}));
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
  refused(Bytes({6, 3, 'A', 'B'}));
  refused(Bytes({6, 1, 'A', 2}));                                    // not a boolean
  refused(Bytes({6, 1, 'A', 9, 2}));                                 // no list
  refused(Bytes({6, 1, 'A', 9, 1, 6, 0, 2, 1, 0}));                  // keys are not a string
  refused(Bytes({6, 1, 'A', 9, 1, 2, 1, 4, 0, 0, 0x01, 0, 0}));      // command 65536
  refused(Bytes({6, 1, 'A', 9, 1, 2, 1, 2, -1, 0}));                 // command -1
  refused(Bytes({6, 1, 'A', 9, 1, 2, 1, 2, 1}));                     // no list end
}

}  // namespace
