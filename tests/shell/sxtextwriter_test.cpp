#include "shell/sxbase.h"
#include "shell/sxtextwriter.h"

#include <gtest/gtest.h>

#include <string>

using namespace sx;

namespace {

std::string Written(platform::TMemoryStream& m) { return std::string(m.Data().begin(), m.Data().end()); }

template <class F>
std::int32_t CodeOf(F f) {
  try {
    f();
  } catch (const ESyBufStreamError& e) {
    return e.ErrorCode;
  }
  return 0;
}

} // namespace

TEST(SxTextStream, TerminatorsFollowEachLine) {
  const struct { TSxLineTerminator kind; const char* expected; } cases[] = {
      {ltCR, "abc\r"}, {ltLF, "abc\n"}, {ltCRLF, "abc\r\n"}, {ltOther, "abc|"}};
  for (const auto& c : cases) {
    platform::TMemoryStream m;
    TSxTextStream s(&m);
    s.SetLineTerminator(c.kind);
    s.SetLineTermChar('|');
    s.WriteLine("abc");
    EXPECT_EQ(Written(m), c.expected) << int(c.kind);
  }
}

TEST(SxTextStream, EmptyAndMissingLinesWriteOnlyTheTerminator) {
  platform::TMemoryStream m;
  TSxTextStream s(&m);
  s.SetLineTerminator(ltCRLF);
  s.WriteLine("");
  s.WriteLine(nullptr);
  s.WriteLineArray(nullptr, 5);
  EXPECT_EQ(Written(m), "\r\n\r\n\r\n");
}

TEST(SxTextStream, FixedRecordsArePaddedOrCut) {
  platform::TMemoryStream m;
  TSxTextStream s(&m);
  s.SetLineTerminator(ltNone);
  s.SetFixedLineLength(8);
  s.WriteLineArray("abc", 3);
  s.WriteLineArray("0123456789", 10);
  s.WriteLineArray(nullptr, 0);
  EXPECT_EQ(Written(m), "abc     01234567        ");
}

TEST(SxTextStream, FixedLengthLimits) {
  platform::TMemoryStream m;
  TSxTextStream s(&m);
  EXPECT_EQ(CodeOf([&] { s.SetFixedLineLength(0); }), 275);
  EXPECT_EQ(CodeOf([&] { s.SetFixedLineLength(4097); }), 275);
  EXPECT_EQ(s.FixedLineLength(), 80);
  s.SetFixedLineLength(4096);
  s.SetLineTerminator(ltNone);
  s.WriteLine("x");
  EXPECT_EQ(m.Size(), 4096);
  EXPECT_EQ(m.Data()[0], 'x');
  EXPECT_EQ(m.Data()[4095], ' ');
}

TEST(SxTextStream, BadTerminatorRaisesAndWritesNothing) {
  platform::TMemoryStream m;
  TSxTextStream s(&m);
  s.SetLineTerminator(static_cast<TSxLineTerminator>(7));
  EXPECT_EQ(CodeOf([&] { s.WriteLine("abc"); }), 274);
  EXPECT_EQ(m.Size(), 0);
}

TEST(SxTextStream, ShortWriteIsAnErrorNotSilentLoss) {
  const char bytes[4] = {};
  platform::TBytesStream readOnly(bytes, 4);
  TSxTextStream s(&readOnly);
  EXPECT_EQ(CodeOf([&] { s.WriteLine("abc"); }), 273);
  TSxTextStream none(nullptr);
  EXPECT_EQ(CodeOf([&] { none.WriteLine("abc"); }), 270);
}
