#include "controls/support/ndcoders/ndcoders.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <random>

using namespace wn;

namespace {

std::string Reference64(const std::string& S) {
  return QByteArray(S.data(), static_cast<qsizetype>(S.size())).toBase64().toStdString();
}

std::string RandomBytes(std::size_t N, unsigned Seed) {
  std::mt19937 Gen(Seed);
  std::string S(N, '\0');
  for (char& C : S) C = static_cast<char>(Gen() & 0xFF);
  return S;
}

// Every entry the coder produced, in order, each through GetCodedData.
std::vector<std::string> Drain(TNdCoder& C, std::string First) {
  std::vector<std::string> All;
  for (std::string E = std::move(First); !E.empty(); E = C.GetCodedData()) All.push_back(E);
  return All;
}

std::string DataOf(const std::vector<std::string>& Entries) {
  std::string D;
  for (const auto& E : Entries)
    if (E.rfind("0;", 0) == 0) D += E.substr(2);
  return D;
}

std::string Decode(TNdCoder& Decoder, const std::string& Text) {
  Decoder.Reset();
  std::string D = DataOf(Drain(Decoder, Decoder.CodeString(Text)));
  return D + DataOf(Drain(Decoder, Decoder.CompletedInput()));
}

std::string Encode(TNdCoder& Encoder, const std::string& Data) {
  Encoder.Reset();
  std::string T = DataOf(Drain(Encoder, Encoder.CodeString(Data)));
  return T + DataOf(Drain(Encoder, Encoder.CompletedInput()));
}

}  // namespace

TEST(Base64EncodeString, Rfc4648Vectors) {
  EXPECT_EQ(Base64EncodeString(""), "");
  EXPECT_EQ(Base64EncodeString("f"), "Zg==");
  EXPECT_EQ(Base64EncodeString("fo"), "Zm8=");
  EXPECT_EQ(Base64EncodeString("foo"), "Zm9v");
  EXPECT_EQ(Base64EncodeString("foob"), "Zm9vYg==");
  EXPECT_EQ(Base64EncodeString("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Base64EncodeString("foobar"), "Zm9vYmFy");
}

TEST(Base64EncodeString, SettingNameAndShortInputs) {
  EXPECT_EQ(Base64EncodeString("BackGroundColor"), "QmFja0dyb3VuZENvbG9y");
  EXPECT_EQ(Base64EncodeString("xyz"), "eHl6");
  EXPECT_EQ(Base64EncodeString("x"), "eA==");
  EXPECT_EQ(Base64EncodeString("xy"), "eHk=");
  EXPECT_EQ(Base64EncodeString(std::string("\0\xff", 2)), "AP8=");
}

TEST(Base64EncodeString, LongInputAcrossBufferBoundaries) {
  const std::string S = RandomBytes(5000, 1);
  const std::string E = Base64EncodeString(S);
  EXPECT_EQ(E.size(), 6668u);
  EXPECT_EQ(E, Reference64(S));
  EXPECT_EQ(E.find_first_of("\r\n"), std::string::npos);
  for (std::size_t N : {4095u, 4096u, 4097u, 8192u, 12289u})
    EXPECT_EQ(Base64EncodeString(RandomBytes(N, static_cast<unsigned>(N))), Reference64(RandomBytes(N, static_cast<unsigned>(N))))
        << N;
}

TEST(Base64Encoder, PiecesJoinWhateverTheBufferSize) {
  const std::string S = RandomBytes(1000, 2);
  for (int Size : {1, 2, 4, 5, 7, 64}) {
    TNdBase64Encoder E;
    E.SetBufferSize(Size);
    EXPECT_EQ(Encode(E, S), Reference64(S)) << Size;
    EXPECT_EQ(E.BytesIn(), 1000);
    EXPECT_EQ(E.BytesCoded(), 1000);
  }
}

TEST(Base64Encoder, AddCRLFEndsEveryPiece) {
  TNdBase64Encoder E;
  E.AddCRLF = true;
  E.SetBufferSize(6);
  E.Reset();
  EXPECT_EQ(E.CodeString("abcdefgh"), "0;YWJjZGVm\r\n");
  EXPECT_EQ(E.CompletedInput(), "0;Z2g=\r\n");
  EXPECT_TRUE(E.Finished());
}

TEST(Base64Encoder, AutoCompleteAndEventsAndDiscard) {
  TNdBase64Encoder E;
  E.AutoCompleteInput = true;
  E.Reset();
  EXPECT_EQ(E.CodeString("foob"), "0;Zm9vYg==");

  std::string Seen;
  E.UseEvent = true;
  E.OnCodedData = [&](const std::string& T) { Seen += T; };
  E.Reset();
  EXPECT_EQ(E.CodeString("foobar"), "");
  EXPECT_EQ(Seen, "Zm9vYmFy");

  TNdBase64Encoder D;
  D.DiscardOutput = true;
  D.Reset();
  EXPECT_EQ(D.CodeString("foo"), "");
  EXPECT_EQ(D.CompletedInput(), "");
  EXPECT_TRUE(D.Output().empty());
}

TEST(Base64Decoder, RoundTripAndLineBreaks) {
  TNdBase64Decoder D;
  EXPECT_EQ(Decode(D, "Zm9vYmFy"), "foobar");
  EXPECT_EQ(Decode(D, "Zm9vYg=="), "foob");
  EXPECT_EQ(Decode(D, "Zm9vYmE="), "fooba");
  EXPECT_EQ(Decode(D, "Zm9v\r\nYmFy\r\n"), "foobar");
  EXPECT_EQ(Decode(D, "Zm9v\rYmE=\n"), "fooba");
  EXPECT_EQ(Decode(D, ""), "");

  const std::string S = RandomBytes(20000, 3);
  EXPECT_EQ(Decode(D, Base64EncodeString(S)), S);
  // Lines of 76 characters, as mail has them, with small buffers.
  std::string Wrapped = Base64EncodeString(S);
  for (std::size_t I = 76; I < Wrapped.size(); I += 78) Wrapped.insert(I, "\r\n");
  for (int Size : {3, 77, 4096}) {
    D.SetBufferSize(Size);
    EXPECT_EQ(Decode(D, Wrapped), S) << Size;
  }
}

TEST(Base64Decoder, CharacterOutsideTableRaises) {
  TNdBase64Decoder D;
  D.Reset();
  try {
    D.CodeString("Zm9v*mFy");
    D.CompletedInput();
    FAIL();
  } catch (const ENdTableNotFound& E) {
    EXPECT_STREQ(E.what(), "Coding table entry not found.");
  }
}

TEST(UUCoders, KnownLinesAndLayout) {
  TNdUUEncoder E;
  E.FileName = "cat.txt";
  EXPECT_EQ(E.BufferSize(), 61);
  EXPECT_EQ(Encode(E, "Cat"), "BEGIN 644 cat.txt\r\n#0V%T\r\n`\r\nEND\r\n");

  TNdXXEncoder X;
  X.FileName = "cat.txt";
  EXPECT_EQ(Encode(X, "Cat"), "BEGIN 644 cat.txt\r\n1Eq3o\r\n+\r\nEND\r\n");
  EXPECT_EQ(X.CodingTable(), "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");

  // Lines carry 61 bytes each.
  const std::string Text = Encode(E, std::string(122, 'a'));
  EXPECT_NE(Text.find("\r\n]"), std::string::npos);  // ']' is the count 61

  E.WriteTable = true;
  const std::string WithTable = Encode(E, "x");
  EXPECT_EQ(WithTable.substr(0, 7), "TABLE\r\n");
  EXPECT_EQ(WithTable.substr(7, 34), E.CodingTable().substr(0, 32) + "\r\n");
}

TEST(UUCoders, RoundTrips) {
  const std::string S = RandomBytes(3001, 4);
  TNdUUEncoder UE;
  UE.FileName = "data.bin";
  TNdUUDecoder UD;
  EXPECT_EQ(Decode(UD, Encode(UE, S)), S);
  EXPECT_EQ(UD.FileName, "data.bin");
  EXPECT_EQ(UD.Privilege(), 644);
  EXPECT_FALSE(UD.Error());

  TNdXXEncoder XE;
  XE.WriteTable = true;
  TNdXXDecoder XD;
  EXPECT_EQ(Decode(XD, Encode(XE, S)), S);
  EXPECT_FALSE(XD.Error());

  // A table in the text replaces the decoder's own.
  TNdUUDecoder UD2;
  EXPECT_EQ(Decode(UD2, Encode(XE, S)), S);
  EXPECT_FALSE(UD2.Error());
}

TEST(UUDecoder, StateMachineMessages) {
  TNdUUDecoder D;
  D.Reset();
  D.CodeString("junk\nbegin 644 a.txt\n#0V%T\n`\nend\n");
  auto Entries = Drain(D, D.CompletedInput());
  ASSERT_EQ(Entries.size(), 4u);
  EXPECT_EQ(Entries[0], "42;begin 644 a.txt");
  EXPECT_EQ(Entries[1], "47;644");
  EXPECT_EQ(Entries[2], "5;a.txt");
  EXPECT_EQ(Entries[3], "0;Cat");
  EXPECT_FALSE(D.Error());

  D.Reset();
  D.SetBufferSize(8);  // lines are taken as the buffer fills
  Entries = Drain(D, D.CodeString("TABLE\n" + D.CodingTable().substr(0, 32) + "\n" + D.CodingTable().substr(32) +
                                   "\nsomething else\n"));
  ASSERT_GE(Entries.size(), 1u);
  EXPECT_EQ(Entries[0].substr(0, 3), "41;");
  for (const auto& E : Drain(D, D.CompletedInput())) Entries.push_back(E);
  ASSERT_EQ(Entries.size(), 2u);
  EXPECT_EQ(Entries[1].substr(0, 3), "43;");
  EXPECT_EQ(D.State(), 0);
  ASSERT_EQ(D.Errors().size(), 2u);
  EXPECT_EQ(D.Errors()[0], "No BEGIN statement followed a TABLE");
  EXPECT_EQ(D.Errors()[1], " Data ended without an END statment");
}

TEST(UUDecoder, PrivilegeProblems) {
  const std::pair<const char*, const char*> Cases[] = {
      {"begin 6440 f\n", "Too many chars for three-digit Privilege"},
      {"begin 64 f\n", "Not enough chars for three-digit Privilege"},
      {"begin 6a4 f\n", "Privilege chars not numeric"},
  };
  for (const auto& [Text, Message] : Cases) {
    TNdUUDecoder D;
    D.Reset();
    D.CodeString(std::string(Text) + "`\nend\n");
    const auto Entries = Drain(D, D.CompletedInput());
    ASSERT_GE(Entries.size(), 2u);
    EXPECT_EQ(Entries[1].substr(0, 3), "48;");
    EXPECT_TRUE(D.Error());
    ASSERT_EQ(D.Errors().size(), 1u);
    EXPECT_EQ(D.Errors()[0], Message);
  }
}

TEST(UUDecoder, HeaderNamingTableIsAHeaderAndSplitInput) {
  TNdUUDecoder D;
  D.SetBufferSize(3);
  D.Reset();
  // Fed in pieces that cut lines and the header apart.
  std::string All;
  for (const char* Piece : {"xxxx be", "gin 600 table.txt\r", "\n#0V", "%T\r\n`\r\nEN", "D\r\n"})
    All += DataOf(Drain(D, D.CodeString(Piece)));
  All += DataOf(Drain(D, D.CompletedInput()));
  EXPECT_EQ(All, "Cat");
  EXPECT_EQ(D.FileName, "table.txt");
  EXPECT_EQ(D.Privilege(), 600);
  EXPECT_FALSE(D.Error());
}

TEST(NdCoderRegistry, Rows) {
  const TNdCoderCollection& C = NdCoders();
  ASSERT_EQ(C.Count(), 8);
  EXPECT_EQ(C.Items(0).ContentType, "application/octet-stream");
  EXPECT_EQ(C.Items(1).Direction, 128);
  const TNdCoderItem* B = C.Find("BASE64", TNdCoderItem::Decoder);
  ASSERT_NE(B, nullptr);
  EXPECT_EQ(B->ClassName, "TNdBase64Decoder");
  EXPECT_EQ(B->Priority, 8);
  auto Coder = B->Create();
  EXPECT_EQ(Decode(*Coder, "QmFja0dyb3VuZENvbG9y"), "BackGroundColor");
  ASSERT_NE(C.Find("x-xx", TNdCoderItem::Encoder), nullptr);
  EXPECT_EQ(C.Find("x-xx", TNdCoderItem::Encoder)->ClassName, "TNdXXEncoder");
  EXPECT_EQ(C.Find("quoted-printable", TNdCoderItem::Encoder), nullptr);
  auto Copier = C.Items(0).Create();
  EXPECT_EQ(Encode(*Copier, "as is"), "as is");
  EXPECT_STREQ(NdMediaImage, "image/");
}
