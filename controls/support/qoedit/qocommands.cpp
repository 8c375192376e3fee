#include "controls/support/qoedit/qocommands.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <limits>

namespace wn {

namespace {

using platform::EStreamError;
using platform::TStream;

constexpr std::uint8_t ssS = qssShift, ssC = qssCtrl, ssA = qssAlt, ssCS = qssCtrl | qssShift;

TQoCmdRec Key(std::uint8_t Key1, std::uint8_t Shift1, std::uint16_t Command) {
  return TQoCmdRec{Key1, Shift1, 0, 0, Command};
}

TQoCmdRec Sequence(std::uint8_t Key1, std::uint8_t Key2, std::uint16_t Command) {
  return TQoCmdRec{Key1, qssCtrl, Key2, qssSequence, Command};
}

std::vector<TQoCmdRec> DefaultCommands() {
  std::vector<TQoCmdRec> r = {
      Key(vkLeft, 0, 46),      Key(vkRight, 0, 55),     Key(vkLeft, ssC, 74),     Key(vkRight, ssC, 75),
      Key(vkHome, 0, 42),      Key(vkEnd, 0, 16),       Key(vkDelete, 0, 10),     Key(vkBack, 0, 1),
      Key(vkBack, ssS, 1),     Key(vkPrior, ssC, 71),   Key(vkNext, ssC, 2),      Key(vkInsert, 0, 44),
      Key('Z', ssC, 72),       Key(vkBack, ssA, 54),    Key(vkUp, 0, 73),         Key(vkDown, 0, 15),
      Key(vkReturn, ssC, 47),  Key(vkLeft, ssS, 20),    Key(vkRight, ssS, 23),    Key(vkHome, ssS, 19),
      Key(vkEnd, ssS, 18),     Key(vkLeft, ssCS, 29),   Key(vkRight, ssCS, 30),   Key(vkPrior, ssS, 22),
      Key(vkNext, ssS, 21),    Key(vkUp, ssS, 24),      Key(vkDown, ssS, 17),     Key(vkHome, ssCS, 26),
      Key(vkEnd, ssCS, 27),    Key(vkPrior, ssCS, 28),  Key(vkNext, ssCS, 25),    Key(vkDelete, ssS, 8),
      Key('X', ssC, 8),        Key(vkInsert, ssC, 6),   Key('C', ssC, 6),         Key(vkInsert, ssS, 51),
      Key('V', ssC, 51),       Key(vkPrior, 0, 52),     Key(vkNext, 0, 48),       Key(vkHome, ssC, 31),
      Key(vkEnd, ssC, 45),     Key(vkTab, 0, 68),       Key(vkTab, ssC, 68),      Key('Z', ssCS, 53),
  };
  for (int i = 0; i <= 9; ++i) r.push_back(Key(std::uint8_t('0' + i), ssC, std::uint16_t(32 + i)));
  for (int i = 0; i <= 9; ++i) r.push_back(Key(std::uint8_t('0' + i), ssCS, std::uint16_t(58 + i)));
  return r;
}

std::vector<TQoCmdRec> WordStarCommands() {
  std::vector<TQoCmdRec> r = {
      Key('S', ssC, 46),        Key('D', ssC, 55),        Key('E', ssC, 73),  Key('X', ssC, 15),
      Key('R', ssC, 52),        Key('C', ssC, 48),        Key('W', ssC, 57),  Key('Z', ssC, 56),
      Key('A', ssC, 74),        Key('F', ssC, 75),        Sequence('Q', 'S', 42), Sequence('Q', 'D', 16),
      Key('G', ssC, 10),        Key('H', ssC, 1),         Key('Y', ssC, 13),  Sequence('Q', 'Y', 12),
      Key('V', ssC, 44),        Key('T', ssC, 14),        Key('P', ssC, 7),   Sequence('Q', 'L', 54),
  };
  for (int i = 0; i <= 9; ++i) r.push_back(Sequence('Q', std::uint8_t('0' + i), std::uint16_t(32 + i)));
  for (int i = 0; i <= 9; ++i) r.push_back(Sequence('K', std::uint8_t('0' + i), std::uint16_t(58 + i)));
  return r;
}

std::vector<TQoCmdRec> GridCommands() {
  return {
      Key(vkLeft, 0, 46),     Key(vkRight, 0, 55),    Key(vkLeft, ssC, 49),   Key(vkRight, ssC, 50),
      Key(vkHome, 0, 42),     Key(vkEnd, 0, 16),      Key(vkDelete, 0, 10),   Key(vkBack, 0, 1),
      Key(vkNext, ssC, 2),    Key(vkPrior, ssC, 71),  Key(vkInsert, 0, 44),   Key('Z', ssC, 54),
      Key(vkUp, 0, 73),       Key(vkDown, 0, 15),     Key(vkLeft, ssS, 20),   Key(vkRight, ssS, 23),
      Key(vkHome, ssS, 19),   Key(vkEnd, ssS, 18),    Key(vkLeft, ssCS, 29),  Key(vkRight, ssCS, 30),
      Key(vkPrior, ssS, 22),  Key(vkNext, ssS, 21),   Key(vkUp, ssS, 24),     Key(vkDown, ssS, 17),
      Key(vkHome, ssCS, 26),  Key(vkEnd, ssCS, 27),   Key(vkPrior, ssCS, 28), Key(vkNext, ssCS, 25),
      Key('X', ssC, 8),       Key('C', ssC, 6),       Key('V', ssC, 51),      Key(vkPrior, 0, 52),
      Key(vkHome, ssC, 31),   Key(vkNext, 0, 48),     Key(vkEnd, ssC, 45),    Key(vkUp, ssC, 70),
      Key(vkDown, ssC, 3),    Key(vkF2, 0, 69),
  };
}

std::string UpperCase(std::string S) {
  for (char& c : S) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return S;
}

// The class library's value-stream tags used by the key maps.
enum : std::uint8_t { vaNull = 0, vaList = 1, vaInt8 = 2, vaInt16 = 3, vaInt32 = 4, vaString = 6,
                      vaFalse = 8, vaTrue = 9, vaLString = 12 };

class TValueWriter {
 public:
  explicit TValueWriter(TStream& S) : FStream(S) {}
  void WriteByte(std::uint8_t B) { FStream.WriteBuffer(&B, 1); }
  void WriteListBegin() { WriteByte(vaList); }
  void WriteListEnd() { WriteByte(vaNull); }
  void WriteBoolean(bool B) { WriteByte(B ? vaTrue : vaFalse); }
  void WriteInteger(std::int32_t V) {
    if (V >= INT8_MIN && V <= INT8_MAX) {
      WriteByte(vaInt8);
      WriteLittle(static_cast<std::uint32_t>(V), 1);
    } else if (V >= INT16_MIN && V <= INT16_MAX) {
      WriteByte(vaInt16);
      WriteLittle(static_cast<std::uint32_t>(V), 2);
    } else {
      WriteByte(vaInt32);
      WriteLittle(static_cast<std::uint32_t>(V), 4);
    }
  }
  void WriteString(const std::string& S) {
    if (S.size() <= 255) {
      WriteByte(vaString);
      WriteByte(static_cast<std::uint8_t>(S.size()));
    } else {
      if (S.size() > static_cast<std::size_t>(INT32_MAX)) throw EStreamError("String too long to store");
      WriteByte(vaLString);
      WriteLittle(static_cast<std::uint32_t>(S.size()), 4);
    }
    FStream.WriteBuffer(S.data(), static_cast<std::int64_t>(S.size()));
  }

 private:
  void WriteLittle(std::uint32_t V, int Bytes) {
    std::uint8_t b[4];
    for (int i = 0; i < Bytes; ++i) b[i] = static_cast<std::uint8_t>(V >> (8 * i));
    FStream.WriteBuffer(b, Bytes);
  }
  TStream& FStream;
};

class TValueReader {
 public:
  explicit TValueReader(TStream& S) : FStream(S) {}
  std::uint8_t ReadByte() {
    std::uint8_t b = 0;
    if (FStream.Read(&b, 1) != 1) throw EStreamError("Stream read error");
    return b;
  }
  void ReadListBegin() { Expect(vaList); }
  void ReadListEnd() { Expect(vaNull); }
  bool EndOfList() {
    const std::uint8_t tag = ReadByte();
    FStream.Seek(-1, platform::soCurrent);
    return tag == vaNull;
  }
  bool ReadBoolean() {
    const std::uint8_t tag = ReadByte();
    if (tag == vaTrue) return true;
    if (tag == vaFalse) return false;
    throw EStreamError("Invalid property value");
  }
  std::int32_t ReadInteger() {
    switch (ReadByte()) {
      case vaInt8: return static_cast<std::int8_t>(ReadLittle(1));
      case vaInt16: return static_cast<std::int16_t>(ReadLittle(2));
      case vaInt32: return static_cast<std::int32_t>(ReadLittle(4));
      default: throw EStreamError("Invalid property value");
    }
  }
  std::string ReadString() {
    std::uint32_t length = 0;
    switch (ReadByte()) {
      case vaString: length = ReadByte(); break;
      case vaLString: length = ReadLittle(4); break;
      default: throw EStreamError("Invalid property value");
    }
    // The length comes from the data: never trust it beyond what is there.
    if (static_cast<std::int64_t>(length) > FStream.Size() - FStream.Position())
      throw EStreamError("Stream read error");
    std::string s(length, '\0');
    FStream.ReadBuffer(s.data(), length);
    return s;
  }

 private:
  void Expect(std::uint8_t Tag) {
    if (ReadByte() != Tag) throw EStreamError("Invalid property value");
  }
  std::uint32_t ReadLittle(int Bytes) {
    std::uint8_t b[4] = {};
    FStream.ReadBuffer(b, Bytes);
    std::uint32_t v = 0;
    for (int i = 0; i < Bytes; ++i) v |= std::uint32_t(b[i]) << (8 * i);
    return v;
  }
  TStream& FStream;
};

void WriteTable(TValueWriter& W, const std::string& Name, bool Active, const std::vector<TQoCmdRec>& Recs) {
  W.WriteString(Name);
  W.WriteBoolean(Active);
  W.WriteListBegin();
  const std::vector<TQoCmdRec>& builtIn = QoBuiltInCommands(Name);
  if (builtIn.empty()) {
    for (const TQoCmdRec& r : Recs) {
      W.WriteInteger(static_cast<std::int32_t>(r.Keys()));
      W.WriteInteger(r.Command);
    }
  } else {
    auto findIn = [](const std::vector<TQoCmdRec>& List, std::uint32_t Keys) -> const TQoCmdRec* {
      for (const TQoCmdRec& r : List)
        if (r.Keys() == Keys) return &r;
      return nullptr;
    };
    for (const TQoCmdRec& b : builtIn)
      if (!findIn(Recs, b.Keys())) {
        W.WriteInteger(static_cast<std::int32_t>(b.Keys()));
        W.WriteInteger(0);
      }
    for (const TQoCmdRec& r : Recs) {
      const TQoCmdRec* b = findIn(builtIn, r.Keys());
      if (b && b->Command == r.Command) continue;
      W.WriteInteger(static_cast<std::int32_t>(r.Keys()));
      W.WriteInteger(r.Command);
    }
  }
  W.WriteListEnd();
}

std::unique_ptr<TQoCommandTable> ReadTable(TValueReader& R) {
  auto t = std::make_unique<TQoCommandTable>();
  t->Name = R.ReadString();
  t->Active = R.ReadBoolean();
  const std::vector<TQoCmdRec>& builtIn = QoBuiltInCommands(t->Name);
  for (const TQoCmdRec& b : builtIn) t->AddRec(b);
  R.ReadListBegin();
  while (!R.EndOfList()) {
    const std::uint32_t keys = static_cast<std::uint32_t>(R.ReadInteger());
    const std::int32_t command = R.ReadInteger();
    // A command wider than its 16 bits would be cut to another command.
    if (command < 0 || command > 0xFFFF) throw EStreamError("Invalid property value");
    const TQoCmdRec rec = TQoCmdRec::FromKeys(keys, static_cast<std::uint16_t>(command));
    const int index = builtIn.empty() ? -1 : t->FindKeys(rec);
    if (index < 0)
      t->AddRec(rec);
    else if (command != 0)
      t->ReplaceRec(index, rec);
    else
      t->DeleteRec(index);
  }
  R.ReadListEnd();
  return t;
}

std::string ReadWholeFile(const std::string& FileName) {
  platform::TFileStream f(FileName, platform::fmOpenRead);
  std::string text;
  char buffer[4096];
  for (;;) {
    const std::int64_t n = f.Read(buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

// One number of a record line: decimal with an optional sign, within Max.
bool ParseField(const std::string& Token, long Max, long& Value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < Token.size() && (Token[i] == '+' || Token[i] == '-')) negative = Token[i++] == '-';
  if (i == Token.size()) return false;
  long v = 0;
  for (; i < Token.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(Token[i]))) return false;
    v = v * 10 + (Token[i] - '0');
    if (v > Max) return false;
  }
  Value = negative ? -v : v;
  return Value >= 0;
}

}  // namespace

ETableNotFound::ETableNotFound() : EQoException(GetQoMessage(30170)) {}
EDuplicateCommand::EDuplicateCommand() : EQoException(GetQoMessage(30169)) {}

std::uint8_t QtKeyToVirtualKey(int QtKey) {
  if ((QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9) || (QtKey >= Qt::Key_A && QtKey <= Qt::Key_Z))
    return static_cast<std::uint8_t>(QtKey);
  if (QtKey >= Qt::Key_F1 && QtKey <= Qt::Key_F24) return static_cast<std::uint8_t>(112 + (QtKey - Qt::Key_F1));
  switch (QtKey) {
    case Qt::Key_Backspace: return vkBack;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return vkTab;
    case Qt::Key_Return:
    case Qt::Key_Enter: return vkReturn;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return vkPrior;
    case Qt::Key_PageDown: return vkNext;
    case Qt::Key_End: return vkEnd;
    case Qt::Key_Home: return vkHome;
    case Qt::Key_Left: return vkLeft;
    case Qt::Key_Up: return vkUp;
    case Qt::Key_Right: return vkRight;
    case Qt::Key_Down: return vkDown;
    case Qt::Key_Insert: return vkInsert;
    case Qt::Key_Delete: return vkDelete;
    default: return 0;
  }
}

std::uint8_t QtModifiersToShiftState(Qt::KeyboardModifiers Modifiers) {
  std::uint8_t s = 0;
  if (Modifiers & Qt::ShiftModifier) s |= qssShift;
  if (Modifiers & Qt::ControlModifier) s |= qssCtrl;
  if (Modifiers & Qt::AltModifier) s |= qssAlt;
  return s;
}

TQoCmdRec TQoCmdRec::FromKeys(std::uint32_t Keys, std::uint16_t Command) {
  return TQoCmdRec{static_cast<std::uint8_t>(Keys), static_cast<std::uint8_t>(Keys >> 8),
                   static_cast<std::uint8_t>(Keys >> 16), static_cast<std::uint8_t>(Keys >> 24), Command};
}

const std::vector<TQoCmdRec>& QoBuiltInCommands(const std::string& TableName) {
  static const std::vector<TQoCmdRec> defaults = DefaultCommands();
  static const std::vector<TQoCmdRec> wordStar = WordStarCommands();
  static const std::vector<TQoCmdRec> grid = GridCommands();
  static const std::vector<TQoCmdRec> none;
  const std::string name = UpperCase(TableName);
  if (name == UpperCase(GetQoMessage(30275))) return defaults;
  if (name == UpperCase(GetQoMessage(30276))) return wordStar;
  if (name == UpperCase(GetQoMessage(30266))) return grid;
  return none;
}

// ---- TQoCommandTable

TQoCommandTable::TQoCommandTable() : Name(GetQoMessage(30277)) {}

int TQoCommandTable::AddRec(const TQoCmdRec& Rec) {
  FRecs.push_back(Rec);
  return Count() - 1;
}

int TQoCommandTable::FindKeys(const TQoCmdRec& Rec) const {
  const std::uint32_t keys = Rec.Keys();
  for (int i = 0; i < Count(); ++i)
    if (FRecs[static_cast<std::size_t>(i)].Keys() == keys) return i;
  return -1;
}

TQoCmdRec TQoCommandTable::GetRec(int Index) const {
  if (Index < 0 || Index >= Count()) throw EQoException(GetQoMessage(30179));
  return FRecs[static_cast<std::size_t>(Index)];
}

void TQoCommandTable::InsertRec(int Index, const TQoCmdRec& Rec) {
  if (Index < 0 || Index > Count()) throw EQoException(GetQoMessage(30179));
  FRecs.insert(FRecs.begin() + Index, Rec);
}

void TQoCommandTable::ReplaceRec(int Index, const TQoCmdRec& Rec) {
  if (Index < 0 || Index >= Count()) throw EQoException(GetQoMessage(30179));
  FRecs[static_cast<std::size_t>(Index)] = Rec;
}

void TQoCommandTable::DeleteRec(int Index) {
  if (Index < 0 || Index >= Count()) throw EQoException(GetQoMessage(30179));
  FRecs.erase(FRecs.begin() + Index);
}

void TQoCommandTable::ClearRecs() { FRecs.clear(); }

void TQoCommandTable::WriteToTextFile(const std::string& FileName) const {
  std::string text = Name + "\n";
  char line[64];
  for (const TQoCmdRec& r : FRecs) {
    std::snprintf(line, sizeof line, "%4u%4u%4u%4u%6u\n", unsigned(r.Key1), unsigned(r.Shift1), unsigned(r.Key2),
                  unsigned(r.Shift2), unsigned(r.Command));
    text += line;
  }
  platform::TFileStream f(FileName, platform::fmCreate);
  f.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

void TQoCommandTable::ReadFromTextFile(const std::string& FileName) {
  const std::string text = ReadWholeFile(FileName);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  std::string name = lines.empty() ? std::string() : lines[0];
  std::vector<TQoCmdRec> recs;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> tokens;
    std::size_t p = 0;
    const std::string& line = lines[i];
    while (tokens.size() < 5) {
      p = line.find_first_not_of(" \t", p);
      if (p == std::string::npos) break;
      const std::size_t q = std::min(line.find_first_of(" \t", p), line.size());
      tokens.push_back(line.substr(p, q - p));
      p = q;
    }
    if (tokens.empty()) continue;  // a blank line, as at the end of the file
    if (tokens.size() < 5) throw EStreamError("Invalid numeric input in " + FileName);
    long v[5] = {};
    // Values beyond a byte (or the 16-bit command) would be cut to other keys.
    for (int k = 0; k < 5; ++k)
      if (!ParseField(tokens[static_cast<std::size_t>(k)], k < 4 ? 255 : 0xFFFF, v[k]))
        throw EStreamError("Invalid numeric input in " + FileName);
    recs.push_back(TQoCmdRec{std::uint8_t(v[0]), std::uint8_t(v[1]), std::uint8_t(v[2]), std::uint8_t(v[3]),
                             std::uint16_t(v[4])});
  }
  Name = std::move(name);
  FRecs = std::move(recs);
}

void TQoCommandTable::WriteCommandList(platform::TStream& Stream) const {
  TValueWriter w(Stream);
  WriteTable(w, Name, Active, FRecs);
}

void TQoCommandTable::ReadCommandList(platform::TStream& Stream) {
  TValueReader r(Stream);
  // Read into a new table first so that damaged data leaves this one whole.
  std::unique_ptr<TQoCommandTable> t = ReadTable(r);
  Name = std::move(t->Name);
  Active = t->Active;
  FRecs = std::move(t->FRecs);
}

// ---- TQoCommandProcessor

TQoCommandProcessor::TQoCommandProcessor() {
  const std::string names[] = {GetQoMessage(30275), GetQoMessage(30276), GetQoMessage(30266)};
  for (int i = 0; i < 3; ++i) {
    NewTable(names[i], i == 0);
    for (const TQoCmdRec& r : QoBuiltInCommands(names[i])) AddToTable(names[i], r);
  }
  ClearPendingKeys();
}

TQoCommandProcessor::~TQoCommandProcessor() { ClearTables(); }

int TQoCommandProcessor::NewTable(const std::string& Name, bool Active) {
  auto t = std::make_unique<TQoCommandTable>();
  t->Name = Name;
  t->Active = Active;
  return AddTableUnderFreeName(std::move(t));
}

TQoCommandTable* TQoCommandProcessor::FindTable(const std::string& Name) const {
  const std::string wanted = UpperCase(Name);
  for (const auto& t : FTables)
    if (UpperCase(t->Name) == wanted) return t.get();
  return nullptr;
}

void TQoCommandProcessor::AddToTable(const std::string& TableName, const TQoCmdRec& Rec) {
  TQoCommandTable* t = FindTable(TableName);
  if (!t) throw ETableNotFound();
  if (t->FindKeys(Rec) >= 0) throw EDuplicateCommand();
  t->AddRec(Rec);
}

int TQoCommandProcessor::AddTableUnderFreeName(std::unique_ptr<TQoCommandTable> Table) {
  std::string base = Table->Name;
  while (base.size() >= 2 && std::isdigit(static_cast<unsigned char>(base.back()))) base.pop_back();
  std::string candidate = base;
  int n = 0;
  while (FindTable(candidate)) candidate = base + std::to_string(++n);
  if (n > 0) Table->Name = candidate;
  FTables.push_back(std::move(Table));
  return TableCount() - 1;
}

void TQoCommandProcessor::ClearTables() { FTables.clear(); }

void TQoCommandProcessor::ClearPendingKeys() { std::fill(std::begin(FPendingKeys), std::end(FPendingKeys), 0); }

TQoCommandTable& TQoCommandProcessor::Table(int Index) const {
  if (Index < 0 || Index >= TableCount()) throw ETableNotFound();
  return *FTables[static_cast<std::size_t>(Index)];
}

int TQoCommandProcessor::ReadTableFromTextFile(const std::string& FileName) {
  auto t = std::make_unique<TQoCommandTable>();
  t->ReadFromTextFile(FileName);
  return AddTableUnderFreeName(std::move(t));
}

void TQoCommandProcessor::WriteTableToTextFile(const std::string& TableName, const std::string& FileName) {
  if (TQoCommandTable* t = FindTable(TableName)) t->WriteToTextFile(FileName);
}

void TQoCommandProcessor::WriteTableList(platform::TStream& Stream) const {
  TValueWriter w(Stream);
  w.WriteListBegin();
  for (const auto& t : FTables) t->WriteCommandList(Stream);
  w.WriteListEnd();
}

void TQoCommandProcessor::ReadTableList(platform::TStream& Stream) {
  TValueReader r(Stream);
  // Every table is read before any is replaced, so damaged data changes nothing.
  std::vector<std::unique_ptr<TQoCommandTable>> read;
  r.ReadListBegin();
  while (!r.EndOfList()) read.push_back(ReadTable(r));
  r.ReadListEnd();
  ClearTables();
  for (auto& t : read) AddTableUnderFreeName(std::move(t));
}

}  // namespace wn
