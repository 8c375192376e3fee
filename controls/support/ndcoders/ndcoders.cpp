#include "controls/support/ndcoders/ndcoders.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace wn {

namespace {

const char* const Base64Table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char* const XXTable = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

std::string MakeUUTable() {
  std::string Table(1, '`');
  for (int C = 33; C <= 95; ++C) Table += static_cast<char>(C);
  return Table;
}

std::string UpperCase(std::string S) {
  for (char& C : S) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
  return S;
}

bool IsDataEntry(const std::string& Entry) { return Entry.rfind("0;", 0) == 0; }

}  // namespace

// ---------------------------------------------------------------- TNdCoder

TNdCoder::TNdCoder() = default;

std::string TNdCoder::CodeString(const std::string& S) {
  const auto Size = static_cast<std::size_t>(FBufferSize);
  std::size_t Limit = FBuffer.size() < Size ? Size : FBuffer.size() + Size;
  std::size_t Pos = 0;
  while (Pos < S.size()) {
    const std::size_t Take = std::min(S.size() - Pos, Limit - FBuffer.size());
    FBuffer.append(S, Pos, Take);
    Pos += Take;
    FBytesIn += static_cast<std::int64_t>(Take);
    if (FBuffer.size() >= Limit) {
      CodeBuffer();
      // A coder that keeps an unfinished line must not be called again for
      // every further byte.
      Limit = FBuffer.size() < Size ? Size : FBuffer.size() + Size;
    }
  }
  return AutoCompleteInput ? CompletedInput() : GetCodedData();
}

void TNdCoder::CodeBuffer() {
  if (FBuffer.empty()) return;
  FBytesCoded += static_cast<std::int64_t>(FBuffer.size());
  AddCodedPiece(FBuffer);
  FBuffer.clear();
}

void TNdCoder::CodeRest() { CodeBuffer(); }

std::string TNdCoder::CompletedInput() {
  FFinished = true;
  CodeRest();
  return GetCodedData();
}

std::string TNdCoder::GetNotification() {
  auto It = std::find_if(FOutput.begin(), FOutput.end(), [](const std::string& E) { return !IsDataEntry(E); });
  if (It == FOutput.end()) return {};
  std::string Result = std::move(*It);
  FOutput.erase(It);
  return Result;
}

std::string TNdCoder::GetCodedData() {
  if (Cancelled || DiscardOutput) {
    FOutput.clear();
    return {};
  }
  if (FOutput.empty()) return {};
  if (!IsDataEntry(FOutput.front())) {
    std::string Result = std::move(FOutput.front());
    FOutput.erase(FOutput.begin());
    return Result;
  }
  std::string Result = "0;";
  std::size_t N = 0;
  while (N < FOutput.size() && IsDataEntry(FOutput[N])) {
    Result.append(FOutput[N], 2, std::string::npos);
    ++N;
  }
  FOutput.erase(FOutput.begin(), FOutput.begin() + static_cast<std::ptrdiff_t>(N));
  return Result;
}

void TNdCoder::Reset() {
  FBuffer.clear();
  FBuffer.reserve(static_cast<std::size_t>(FBufferSize));
  FFinished = false;
  FBytesIn = 0;
  FBytesCoded = 0;
  FOutput.clear();
}

void TNdCoder::SetText2(const std::string& Value) { FText2 = Value; }

void TNdCoder::SetBufferSize(int Value) {
  FBufferSize = std::max(1, Value);
  FBuffer.reserve(static_cast<std::size_t>(FBufferSize));
}

void TNdCoder::AddCodedPiece(const std::string& Text) {
  std::string Piece = AddCRLF ? Text + "\r\n" : Text;
  if (UseEvent && OnCodedData)
    OnCodedData(Piece);
  else
    FOutput.push_back("0;" + Piece);
}

void TNdCoder::AddNotification(int Kind, const std::string& Text) {
  if (UseEvent && OnNotification)
    OnNotification(Kind, Text);
  else
    FOutput.push_back(std::to_string(Kind) + ";" + Text);
}

// ----------------------------------------------------------- TNdASCIICoder

void TNdASCIICoder::SetCodingTable(const std::string& Value) {
  FCodingTable = Value;
  // A short table would be indexed past its end.
  if (FCodingTable.size() < static_cast<std::size_t>(FTableLength))
    FCodingTable.resize(static_cast<std::size_t>(FTableLength), ' ');
  std::fill(std::begin(FIndex), std::end(FIndex), -1);
  for (int I = static_cast<int>(FCodingTable.size()) - 1; I >= 0; --I)
    FIndex[static_cast<unsigned char>(FCodingTable[static_cast<std::size_t>(I)])] = I;
}

int TNdASCIICoder::TableIndex(char C) const {
  const int Index = FIndex[static_cast<unsigned char>(C)];
  if (Index < 0 || Index >= FTableLength) throw ENdTableNotFound();
  return Index;
}

// ------------------------------------------------------------ TNd3To4Coder

void TNd3To4Coder::EncodeBlock(std::string& Out, std::uint8_t B0, std::uint8_t B1, std::uint8_t B2) const {
  Out += FCodingTable[B0 >> 2];
  Out += FCodingTable[((B0 & 3) << 4) | (B1 >> 4)];
  Out += FCodingTable[((B1 & 15) << 2) | (B2 >> 6)];
  Out += FCodingTable[B2 & 63];
}

void TNd3To4Coder::DecodeBlock(std::string& Out, const char* Chars, int Count) const {
  const int I0 = TableIndex(Chars[0]);
  const int I1 = TableIndex(Chars[1]);
  const int I2 = Count > 1 ? TableIndex(Chars[2]) : 0;
  const int I3 = Count > 2 ? TableIndex(Chars[3]) : 0;
  Out += static_cast<char>((I0 << 2) | (I1 >> 4));
  if (Count > 1) Out += static_cast<char>(((I1 & 15) << 4) | (I2 >> 2));
  if (Count > 2) Out += static_cast<char>(((I2 & 3) << 6) | I3);
}

// -------------------------------------------------------- TNdBase64Encoder

TNdBase64Encoder::TNdBase64Encoder() { SetCodingTable(Base64Table); }

void TNdBase64Encoder::CodeBuffer() {
  // Only whole blocks: the rest waits, so pieces join into one base64 text
  // whatever the buffer size.
  const std::size_t N = FBuffer.size() / 3 * 3;
  if (N == 0) return;
  std::string Piece;
  Piece.reserve(N / 3 * 4);
  const auto* B = reinterpret_cast<const std::uint8_t*>(FBuffer.data());
  for (std::size_t I = 0; I < N; I += 3) EncodeBlock(Piece, B[I], B[I + 1], B[I + 2]);
  FBuffer.erase(0, N);
  FBytesCoded += static_cast<std::int64_t>(N);
  AddCodedPiece(Piece);
}

void TNdBase64Encoder::CodeRest() {
  const std::size_t Whole = FBuffer.size() / 3 * 3;
  const std::size_t Left = FBuffer.size() - Whole;
  if (FBuffer.empty()) return;
  std::string Piece;
  const auto* B = reinterpret_cast<const std::uint8_t*>(FBuffer.data());
  for (std::size_t I = 0; I < Whole; I += 3) EncodeBlock(Piece, B[I], B[I + 1], B[I + 2]);
  if (Left > 0) {
    EncodeBlock(Piece, B[Whole], Left > 1 ? B[Whole + 1] : 0, 0);
    Piece.replace(Piece.size() - (Left == 1 ? 2 : 1), std::string::npos, Left == 1 ? "==" : "=");
  }
  FBytesCoded += static_cast<std::int64_t>(FBuffer.size());
  FBuffer.clear();
  AddCodedPiece(Piece);
}

// -------------------------------------------------------- TNdBase64Decoder

TNdBase64Decoder::TNdBase64Decoder() { SetCodingTable(Base64Table); }

void TNdBase64Decoder::Reset() {
  TNd3To4Coder::Reset();
  FPending.clear();
}

void TNdBase64Decoder::CodeBuffer() { DecodeHeld(false); }

void TNdBase64Decoder::CodeRest() { DecodeHeld(true); }

void TNdBase64Decoder::DecodeHeld(bool AtEnd) {
  // Line ends only separate lines; blocks of four continue across them, so
  // a line longer than the buffer still drains.
  std::string Out;
  for (char C : FBuffer) {
    if (C == '\r' || C == '\n') continue;
    FPending += C;
    if (FPending.size() < 4) continue;
    const std::size_t Pad = FPending.find('=');
    if (Pad == std::string::npos)
      DecodeBlock(Out, FPending.data(), 3);
    else if (Pad >= 2)
      DecodeBlock(Out, FPending.data(), static_cast<int>(Pad) - 1);
    FPending.clear();
  }
  FBytesCoded += static_cast<std::int64_t>(FBuffer.size());
  FBuffer.clear();
  if (AtEnd) {
    const std::size_t Valid = std::min(FPending.find('='), FPending.size());
    if (Valid >= 2) DecodeBlock(Out, FPending.data(), static_cast<int>(Valid) - 1);
    FPending.clear();
  }
  if (!Out.empty()) AddCodedPiece(Out);
}

// ------------------------------------------------------------ TNdUUEncoder

TNdUUEncoder::TNdUUEncoder() {
  SetCodingTable(MakeUUTable());
  AddCRLF = true;
  SetBufferSize(LineBufferSize);
}

void TNdUUEncoder::SetCodingTable(const std::string& Value) {
  std::string Table = Value;
  Table.resize(static_cast<std::size_t>(FTableLength), ' ');
  TNd3To4Coder::SetCodingTable(Table);
}

void TNdUUEncoder::Reset() {
  TNd3To4Coder::Reset();
  FHeaderWritten = false;
}

void TNdUUEncoder::WriteHeader() {
  if (WriteTable) {
    const std::size_t Half = static_cast<std::size_t>(FTableLength) / 2;
    AddCodedPiece("TABLE");
    AddCodedPiece(FCodingTable.substr(0, Half));
    AddCodedPiece(FCodingTable.substr(Half, Half));
  }
  char Digits[16];
  std::snprintf(Digits, sizeof Digits, "%03d", Privilege);
  AddCodedPiece(std::string("BEGIN ") + Digits + " " + FileName);
  FHeaderWritten = true;
}

void TNdUUEncoder::WriteDataLine() {
  const std::size_t N = FBuffer.size();
  std::string Line(1, FCodingTable[N]);
  const auto* B = reinterpret_cast<const std::uint8_t*>(FBuffer.data());
  for (std::size_t I = 0; I < N; I += 3)
    EncodeBlock(Line, B[I], I + 1 < N ? B[I + 1] : 0, I + 2 < N ? B[I + 2] : 0);
  FBytesCoded += static_cast<std::int64_t>(N);
  FBuffer.clear();
  AddCodedPiece(Line);
}

void TNdUUEncoder::CodeBuffer() {
  if (!FHeaderWritten) WriteHeader();
  // A line's byte count must stay inside the table.
  while (FBuffer.size() > static_cast<std::size_t>(FTableLength - 1)) {
    const std::string Tail = FBuffer.substr(static_cast<std::size_t>(FTableLength - 1));
    FBuffer.resize(static_cast<std::size_t>(FTableLength - 1));
    WriteDataLine();
    FBuffer = Tail;
  }
  if (!FBuffer.empty()) WriteDataLine();
}

void TNdUUEncoder::CodeRest() {
  CodeBuffer();
  AddCodedPiece(std::string(1, FCodingTable[0]));
  AddCodedPiece("END");
}

TNdXXEncoder::TNdXXEncoder() { SetCodingTable(XXTable); }

// ------------------------------------------------------------ TNdUUDecoder

TNdUUDecoder::TNdUUDecoder() : FDefaultTable(MakeUUTable()) { SetCodingTable(FDefaultTable); }

void TNdUUDecoder::SetCodingTable(const std::string& Value) {
  std::string Table = Value;
  Table.resize(static_cast<std::size_t>(FTableLength), ' ');
  TNd3To4Coder::SetCodingTable(Table);
}

void TNdUUDecoder::Reset() {
  TNd3To4Coder::Reset();
  FState = 0;
  FPrivilege = 0;
  FError = false;
  FInData = false;
  FEnded = false;
  FTableHalf.clear();
  FErrors.clear();
  SetCodingTable(FDefaultTable);
}

void TNdUUDecoder::AddError(const std::string& Message) {
  FError = true;
  FErrors.push_back(Message);
}

void TNdUUDecoder::CodeBuffer() { TakeLines(false); }

void TNdUUDecoder::CodeRest() {
  TakeLines(true);
  if (!FEnded) AddError(" Data ended without an END statment");
}

void TNdUUDecoder::TakeLines(bool AtEnd) {
  std::size_t Pos = 0;
  for (;;) {
    const std::size_t Eol = FBuffer.find_first_of("\r\n", Pos);
    if (Eol == std::string::npos) break;
    const std::string Line = FBuffer.substr(Pos, Eol - Pos);
    Pos = Eol + 1;
    FBytesCoded += static_cast<std::int64_t>(Line.size() + 1);
    if (!Line.empty()) DecodeLine(Line);
  }
  std::string Rest = FBuffer.substr(Pos);
  FBuffer.clear();
  if (AtEnd) {
    FBytesCoded += static_cast<std::int64_t>(Rest.size());
    if (!Rest.empty()) DecodeLine(Rest);
  } else if (FState == 0) {
    // While searching, only text that may begin "TABLE" or "BEGIN" is kept.
    const std::size_t Start = Rest.find_first_of("TBtb");
    FBytesCoded += static_cast<std::int64_t>(std::min(Start, Rest.size()));
    FBuffer = Start == std::string::npos ? std::string() : Rest.substr(Start);
  } else {
    FBuffer = std::move(Rest);
  }
}

void TNdUUDecoder::BeginLine(const std::string& Line, std::size_t Pos) {
  AddNotification(NdKindBegin, Line);
  FState = 5;
  FInData = false;
  FEnded = false;
  const std::size_t Space = Line.find(' ', Pos);
  const std::string Digits = Line.substr(Pos, Space == std::string::npos ? std::string::npos : Space - Pos);
  std::string Problem;
  if (Digits.size() > 3)
    Problem = "Too many chars for three-digit Privilege";
  else if (Digits.size() < 3)
    Problem = "Not enough chars for three-digit Privilege";
  else if (!std::all_of(Digits.begin(), Digits.end(), [](char C) { return C >= '0' && C <= '9'; }))
    Problem = "Privilege chars not numeric";
  if (Problem.empty()) {
    FPrivilege = std::stoi(Digits);
    AddNotification(NdKindPrivilege, Digits);
  } else {
    AddNotification(NdKindBadPrivilege, Digits);
    AddError(Problem);
  }
  FState = 6;
  FileName = Space == std::string::npos ? std::string() : Line.substr(Space + 1);
  AddNotification(NdKindFileName, FileName);
  FState = 7;
  FInData = true;
}

void TNdUUDecoder::DecodeLine(const std::string& Line) {
  const std::size_t Half = static_cast<std::size_t>(FTableLength) / 2;
  const std::string Upper = UpperCase(Line);
  switch (FState) {
    case 0: {
      const std::size_t Begin = Upper.find("BEGIN ");
      // A header naming a file such as "table.txt" is a header, not a table.
      if (Begin == std::string::npos && Upper.find("TABLE") != std::string::npos) {
        AddNotification(NdKindTable, Line);
        FState = 1;
      } else if (Begin != std::string::npos) {
        BeginLine(Line, Begin + 6);
      }
      break;
    }
    case 1:
      FTableHalf = Line.substr(0, Half);
      FState = 2;
      break;
    case 2:
      SetCodingTable(FTableHalf + Line.substr(0, Half));
      FState = 3;
      break;
    case 3: {
      const std::size_t Begin = Upper.find("BEGIN ");
      if (Begin != std::string::npos) {
        BeginLine(Line, Begin + 6);
      } else {
        AddNotification(NdKindNoBegin, Line);
        AddError("No BEGIN statement followed a TABLE");
        FState = 0;
      }
      break;
    }
    default: {
      std::size_t Last = Upper.find_last_not_of(' ');
      if (Last != std::string::npos && Upper.compare(0, Last + 1, "END") == 0) {
        FInData = false;
        FEnded = true;
        FState = 0;
        break;
      }
      const int Count = TableIndex(Line[0]);
      if (Count == 0) break;
      // Mail may strip trailing blanks: missing characters count as zero.
      const std::size_t Needed = (static_cast<std::size_t>(Count) + 2) / 3 * 4;
      std::string Chars = Line.substr(1);
      Chars.resize(std::max(Chars.size(), Needed), FCodingTable[0]);
      std::string Out;
      for (std::size_t I = 0; I < Needed; I += 4) DecodeBlock(Out, Chars.data() + I, 3);
      Out.resize(static_cast<std::size_t>(Count));
      AddCodedPiece(Out);
      break;
    }
  }
}

TNdXXDecoder::TNdXXDecoder() {
  FDefaultTable = XXTable;
  SetCodingTable(FDefaultTable);
}

// ---------------------------------------------------------------- registry

void TNdCoderCollection::Add(TNdCoderItem Item) { FItems.push_back(std::move(Item)); }

const TNdCoderItem* TNdCoderCollection::Find(const std::string& TransferEncoding, std::uint8_t Direction) const {
  const std::string Wanted = UpperCase(TransferEncoding);
  const TNdCoderItem* Best = nullptr;
  for (const TNdCoderItem& Item : FItems)
    if (Item.Direction == Direction && UpperCase(Item.TransferEncoding) == Wanted &&
        (!Best || Item.Priority > Best->Priority))
      Best = &Item;
  return Best;
}

namespace {

template <class T>
TNdCoderItem MakeItem(const char* ClassName, std::uint8_t Direction, std::uint8_t Priority, const char* Encoding,
                      const char* ContentType) {
  return TNdCoderItem{ClassName, [] { return std::unique_ptr<TNdCoder>(new T()); }, Direction, Priority, Encoding,
                      ContentType};
}

}  // namespace

TNdCoderCollection& NdCoders() {
  static TNdCoderCollection Coders = [] {
    TNdCoderCollection C;
    C.Add(MakeItem<TNdCoder>("TNdCoder", TNdCoderItem::Encoder, 0, "", NdOctetStream));
    C.Add(MakeItem<TNdCoder>("TNdCoder", TNdCoderItem::Decoder, 0, "", NdOctetStream));
    C.Add(MakeItem<TNdBase64Encoder>("TNdBase64Encoder", TNdCoderItem::Encoder, 8, "base64", ""));
    C.Add(MakeItem<TNdBase64Decoder>("TNdBase64Decoder", TNdCoderItem::Decoder, 8, "base64", ""));
    C.Add(MakeItem<TNdUUEncoder>("TNdUUEncoder", TNdCoderItem::Encoder, 8, "x-uu", ""));
    C.Add(MakeItem<TNdUUDecoder>("TNdUUDecoder", TNdCoderItem::Decoder, 8, "x-uu", ""));
    C.Add(MakeItem<TNdXXEncoder>("TNdXXEncoder", TNdCoderItem::Encoder, 8, "x-xx", ""));
    C.Add(MakeItem<TNdXXDecoder>("TNdXXDecoder", TNdCoderItem::Decoder, 8, "x-xx", ""));
    return C;
  }();
  return Coders;
}

// ------------------------------------------------------- Base64EncodeString

std::string Base64EncodeString(const std::string& s) {
  TNdBase64Encoder Encoder;
  Encoder.AddCRLF = false;
  Encoder.UseEvent = false;
  Encoder.Reset();
  auto Text = [](const std::string& Entry) { return Entry.size() > 2 ? Entry.substr(2) : std::string(); };
  // What is coded while the input is taken in belongs to the result too;
  // dropping it would lose every full 4 KB buffer of a long string.
  std::string Result = Text(Encoder.CodeString(s));
  Result += Text(Encoder.CompletedInput());
  return Result;
}

}  // namespace wn
