#include "image/io/pnm/rvpnm.h"

#include <bit>
#include <cctype>
#include <array>
#include <cstring>
#include <utility>
#include <memory>
#include <string>

#include "image/io/rvtrailer.h"
#include "image/io/rvwriteconv.h"
#include "image/model/rvbits.h"
#include "image/model/rvlists.h"

namespace rv {

namespace {

// Longer tokens are still consumed, but only this much is kept.
constexpr std::size_t MaxTokenText = 4096;
// The largest maximum the formats allow: two bytes a sample.
constexpr std::int64_t PnmLargestMax = 65535;
// Plain forms keep their lines to this many characters.
constexpr std::size_t PlainLine = 70;

bool IsAlnum(int C) {
  return (C >= '0' && C <= '9') || (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z');
}

std::string Trim(const std::string& S) {
  std::size_t B = 0, E = S.size();
  while (B < E && static_cast<unsigned char>(S[B]) <= ' ') ++B;
  while (E > B && static_cast<unsigned char>(S[E - 1]) <= ' ') --E;
  return S.substr(B, E - B);
}

// The token's decimal value, or Default when it is not a number that fits.
std::int64_t TokenNumber(const std::string& Token, std::int64_t Default) {
  if (Token.empty() || Token.size() > 10) return Default;
  std::int64_t V = 0;
  for (char C : Token) {
    if (C < '0' || C > '9') return Default;
    V = V * 10 + (C - '0');
  }
  return V > INT32_MAX ? Default : V;
}

struct TPnmHeader {
  std::string Magic;
  std::int64_t Width = -1;
  std::int64_t Height = -1;
  std::int64_t MaxValue = 0;
};

// Reads the magic, size and maximum; comments go to Comments when given.
void ReadHeader(TRvStreamReader& Reader, TPnmHeader& H, std::vector<std::string>* Comments) {
  std::string Token;
  int Index = 0;
  int Wanted = 4;
  for (;;) {
    PnmReadToken(Reader, Token);
    if (!Token.empty() && Token[0] == '#') {
      if (Comments != nullptr) Comments->push_back(Token.substr(1));
      continue;
    }
    switch (Index) {
    case 0:
      H.Magic = Token;
      if (Token == "P1" || Token == "P4") {
        H.MaxValue = 1;
        Wanted = 3;
      }
      break;
    case 1: H.Width = TokenNumber(Token, -1); break;
    case 2: H.Height = TokenNumber(Token, -1); break;
    case 3: H.MaxValue = TokenNumber(Token, 0); break;
    default: break;
    }
    if (++Index >= Wanted || Token.empty()) return;
  }
}

std::uint8_t Scale(std::int64_t V, std::int64_t Max) {
  // Samples above the maximum are taken as the maximum.
  if (V >= Max) return 255;
  return static_cast<std::uint8_t>(V * 255 / Max);
}

void PutGray(std::uint8_t* Px, std::uint8_t G) { Px[0] = Px[1] = Px[2] = G; }

// The maximum a write uses and, for each of the picture's levels, the
// sample that reads back as it (the smallest such).
struct TPnmLevels {
  int Max = 255;
  std::array<int, 256> Raw{};
};

// The file's maximum when every level of the picture (its gray levels, or
// each colour sample) is one that maximum gives; 255 otherwise, as after
// an edit that made new levels, which a coarser maximum would lose.
TPnmLevels PnmLevels(TRvBitmap& Bitmap24, bool Gray, std::int64_t FileMax) {
  TPnmLevels L;
  for (int V = 0; V < 256; ++V) L.Raw[V] = V;
  if (FileMax < 1 || FileMax > PnmLargestMax || FileMax == 255) return L;
  TPnmLevels Fit;
  Fit.Max = static_cast<int>(FileMax);
  Fit.Raw.fill(-1);
  for (std::int64_t Raw = FileMax; Raw >= 0; --Raw) Fit.Raw[Scale(Raw, FileMax)] = static_cast<int>(Raw);
  for (int Y = 0; Y < Bitmap24.Height(); ++Y) {
    const std::uint8_t* Row = Bitmap24.Scanline(Y);
    for (int X = 0; X < Bitmap24.Width(); ++X, Row += 3) {
      const bool Fits = Gray ? Fit.Raw[RvGray(Row[2], Row[1], Row[0])] >= 0
                             : Fit.Raw[Row[0]] >= 0 && Fit.Raw[Row[1]] >= 0 && Fit.Raw[Row[2]] >= 0;
      if (!Fits) return L;
    }
  }
  return Fit;
}

} // namespace

void PnmReadToken(TRvStreamReader& Reader, std::string& Token) {
  Token.clear();
  int C;
  do {
    C = Reader.ReadByte();
    if (C < 0) return;
  } while (C != '#' && !IsAlnum(C));
  if (C == '#') {
    std::string Text;
    for (;;) {
      C = Reader.ReadByte();
      if (C < 0 || C == '\n' || C == '\r') break;
      if (Text.size() < MaxTokenText) Text.push_back(static_cast<char>(C));
    }
    Token = "#" + Trim(Text);
    return;
  }
  Token.push_back(static_cast<char>(C));
  for (;;) {
    C = Reader.ReadByte();
    if (C < 0 || !IsAlnum(C)) return;
    if (Token.size() < MaxTokenText) Token.push_back(static_cast<char>(C));
  }
}

void PnmReadToken(platform::TStream& Stream, std::string& Token) {
  TRvStreamReader Reader(Stream);
  PnmReadToken(Reader, Token);
}

bool IsPnmStream(platform::TStream& Stream) {
  const std::int64_t Start = Stream.Position();
  bool Result = false;
  {
    TRvStreamReader Reader(Stream);
    std::string Token;
    std::string Magic;
    std::int64_t Numbers[2] = {-1, -1};
    int Index = 0;
    for (int Tokens = 0; Tokens < 501; ++Tokens) {
      PnmReadToken(Reader, Token);
      if (!Token.empty() && Token[0] == '#') continue;
      if (Index == 0) {
        if (Token.size() != 2 || Token[0] != 'P' || Token[1] < '1' || Token[1] > '6') break;
        Magic = Token;
      } else if (Index <= 2) {
        Numbers[Index - 1] = TokenNumber(Token, -1);
        if (Index == 2 && (Magic == "P1" || Magic == "P4")) break;
      } else {
        break;
      }
      ++Index;
      if (Token.empty()) break;
    }
    Result = !Magic.empty() && Numbers[0] >= 1 && Numbers[1] > 0;
  }
  Stream.SetPosition(Start);
  return Result;
}

void PnmReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                   TRvProgressRec& Progress, bool HeaderOnly) {
  TRvStreamReader Reader(Stream);
  TPnmHeader H;
  Params.Trailer = TRvTrailer{};
  Params.PnmComments.clear();
  ReadHeader(Reader, H, &Params.PnmComments);
  if (H.Width < 1 || H.Height < 1) {
    Progress.Abort();
    return;
  }
  Params.FreeColorMap();
  Params.Width = static_cast<std::int32_t>(H.Width);
  Params.Height = static_cast<std::int32_t>(H.Height);
  // The formats hold no resolution.
  Params.DpiX = RvDefaultDpiX;
  Params.DpiY = RvDefaultDpiY;
  Params.DpiStated = false;
  Progress.Per = 100.0 / static_cast<double>(H.Height);
  Progress.Val = 0;

  const char Kind = H.Magic.size() == 2 && H.Magic[0] == 'P' ? H.Magic[1] : '?';
  const bool Bilevel = Kind == '1' || Kind == '4';
  switch (Kind) {
  case '1': case '4': Params.BitsPerSample = 1; Params.SamplesPerPixel = 1; break;
  case '2': case '5': Params.BitsPerSample = 8; Params.SamplesPerPixel = 1; break;
  case '3': case '6': Params.BitsPerSample = 8; Params.SamplesPerPixel = 3; break;
  default: Progress.Abort(); return;
  }
  // A maximum of 0 would divide every sample by zero.
  if (H.MaxValue < 1) {
    Progress.Abort();
    return;
  }
  // What a save keeps: the maximum, the plain form, and a depth over 8 bits
  // that the picture's 8 bits cannot hold.
  const std::int64_t FileMax = std::min(H.MaxValue, PnmLargestMax);
  Params.PnmMaxValue = static_cast<std::int32_t>(FileMax);
  Params.PnmPlain = Kind >= '1' && Kind <= '3';
  if (FileMax > 255) Params.BitsPerSample = static_cast<std::int32_t>(std::bit_width(static_cast<std::uint64_t>(FileMax)));
  if (HeaderOnly) return;
  // The samples come from the data: binary ones take their bytes, plain
  // ones a digit and a separator each (plain bits a character). A header
  // claiming more than the data hold is refused before the picture is
  // allocated.
  const int Samples = Kind == '6' || Kind == '3' ? 3 : 1;
  const int SampleBytes = H.MaxValue > 255 ? 2 : 1;
  std::int64_t Count = 0, Least = 0, UnitsPerRow = RvPackedRowBytes(H.Width, 1);
  if ((Kind != '4' && !RvSizeMul(H.Width, Samples, UnitsPerRow)) || !RvSizeMul(UnitsPerRow, H.Height, Count))
    Count = INT64_MAX;
  switch (Kind) {
  case '2': case '3': Least = RvLeastStoredBytes(Count, 1, 2) - 1; break;
  case '5': case '6': Least = RvLeastStoredBytes(Count, 1, SampleBytes); break;
  default: Least = Count; break;
  }
  // A file that ends with its header has no sample to show.
  if (Reader.Remaining() <= 0 || !RvDataCanFill(Reader.Remaining(), Least, H.Width, H.Height) ||
      !RvAllocateBitmap(Bitmap, H.Width, H.Height, Bilevel ? rvpf1Bit : rvpf24Bit)) {
    Progress.Abort();
    return;
  }

  const int W = Params.Width;
  const int Rows = Params.Height;
  const std::int64_t Max = H.MaxValue;
  // Maxima above 255 mean two bytes per sample, most significant first.
  TRvBuffer Line;
  const std::int64_t LineBytes =
      Kind == '4' ? RvPackedRowBytes(W, 1) : std::int64_t{W} * Samples * SampleBytes;
  if (!Line.Allocate(LineBytes)) {
    Progress.Abort();
    return;
  }
  std::string Token;
  for (int Y = 0; Y < Rows; ++Y) {
    if (Progress.IsAborting()) return;
    std::uint8_t* Row = Bitmap.Scanline(Y);
    switch (Kind) {
    case '1':
      for (int X = 0; X < W;) {
        const int C = Reader.ReadByte();
        if (C < 0) return;
        if (C == '0' || C == '1') RvSetBit(Row, X++, C == '0');
      }
      break;
    case '4': {
      Reader.Read(Line.Data(), LineBytes);
      // In the file a set bit is black; here it is white.
      for (std::int64_t I = 0; I < LineBytes; ++I) Row[I] = static_cast<std::uint8_t>(~Line[I]);
      break;
    }
    case '2':
    case '3':
      for (int X = 0; X < W; ++X) {
        std::uint8_t V[3];
        for (int S = 0; S < Samples; ++S) {
          PnmReadToken(Reader, Token);
          V[S] = Scale(TokenNumber(Token, 0), Max);
        }
        std::uint8_t* Px = Row + 3 * X;
        if (Samples == 1) {
          PutGray(Px, V[0]);
        } else {
          Px[0] = V[2];
          Px[1] = V[1];
          Px[2] = V[0];
        }
      }
      break;
    case '5':
    case '6': {
      if (Max == 255 && Samples == 3) {
        Reader.Read(Row, LineBytes);
        for (int X = 0; X < W; ++X, Row += 3) std::swap(Row[0], Row[2]);
        break;
      }
      Reader.Read(Line.Data(), LineBytes);
      const std::uint8_t* In = Line.Data();
      if (Max == 255) {
        for (int X = 0; X < W; ++X, Row += 3) Row[0] = Row[1] = Row[2] = In[X];
        break;
      }
      for (int X = 0; X < W; ++X) {
        std::uint8_t V[3];
        for (int S = 0; S < Samples; ++S) {
          const std::int64_t Raw = SampleBytes == 2 ? (std::int64_t{In[0]} << 8) | In[1] : In[0];
          In += SampleBytes;
          // Samples are scaled to the maximum in colour files as in gray ones.
          V[S] = Max == 255 ? static_cast<std::uint8_t>(Raw) : Scale(Raw, Max);
        }
        std::uint8_t* Px = Row + 3 * X;
        if (Samples == 1) {
          PutGray(Px, V[0]);
        } else {
          Px[0] = V[2];
          Px[1] = V[1];
          Px[2] = V[0];
        }
      }
      break;
    }
    default: break;
    }
    if (Kind != '1' || Y + 1 < Rows) Progress.Step(Y + 1);
  }
  if (Reader.Short() || Progress.IsAborting()) return;
  // A plain picture ends with the separator after its last number.
  if (Params.PnmPlain)
    while (std::isspace(Reader.PeekByte()) != 0) Reader.ReadByte();
  // What follows (often another picture) a save copies after its own.
  RvNoteTrailer(Stream, Reader.Position(), rvftPXM, Params);
}

void PnmWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    TRvProgressRec& Progress) {
  const int W = Bitmap.Width();
  const int Rows = Bitmap.Height();
  if (W < 1 || Rows < 1 || Bitmap.PixelFormat() == rvpfNone) {
    Progress.Abort();
    return;
  }
  Progress.Per = 100.0 / Rows;
  Progress.Val = 0;
  std::string Comments;
  for (std::string Line : Params.PnmComments) {
    // A line break inside a comment would end it and corrupt the header.
    for (char& C : Line)
      if (C == '\n' || C == '\r') C = ' ';
    Comments += "\n# " + Line + "\n";
  }

  char Kind;
  if ((Params.BitsPerSample == 1 && Params.SamplesPerPixel == 1) || Bitmap.PixelFormat() == rvpf1Bit)
    Kind = '4';
  else if (Params.BitsPerSample >= 8 && Params.SamplesPerPixel == 1)
    Kind = '5';
  else
    Kind = '6'; // a palette or gray picture too is written as it looks

  std::unique_ptr<TRvBitmap> Holder;
  TRvBitmap* Source;
  if (Kind == '4') {
    TRGB Palette[2];
    // A colour picture is reduced to black and white, not written as bits
    // taken from its colour bytes.
    Source = RvAsBlackWhite(Bitmap, Holder, Palette);
  } else {
    Source = RvAs24Bit(Bitmap, Holder);
  }
  if (Source == nullptr) {
    Progress.Abort();
    return;
  }
  const int Samples = Kind == '6' ? 3 : 1;
  TPnmLevels Levels;
  if (Kind != '4') Levels = PnmLevels(*Source, Kind == '5', Params.PnmMaxValue);
  // The file's own form: plain text, binary otherwise.
  const bool Plain = Params.PnmPlain;
  const char Magic = Plain ? static_cast<char>(Kind - 3) : Kind;

  std::string Header = std::string("P") + Magic + " " + Comments + std::to_string(W) + " " +
                       std::to_string(Rows) + (Kind == '4' ? "\n" : " " + std::to_string(Levels.Max) + "\n");
  TRvAbortFlag& Aborting = *Progress.Aborting;
  RvSafeStreamWrite(Stream, Aborting, Header.data(), static_cast<std::int64_t>(Header.size()));

  const int SampleBytes = Levels.Max > 255 ? 2 : 1;
  const std::int64_t LineBytes =
      Kind == '4' ? RvPackedRowBytes(W, 1) : std::int64_t{W} * Samples * SampleBytes;
  TRvBuffer Line;
  if (!Plain && !Line.Allocate(LineBytes)) {
    Progress.Abort();
    return;
  }
  std::string Text;
  std::size_t LineStart = 0;
  // One value of a plain form, a line broken before it would grow too long.
  const auto PutText = [&](const std::string& Value, bool Separated) {
    if (Text.size() - LineStart + Value.size() + (Separated ? 1 : 0) > PlainLine) {
      Text += '\n';
      LineStart = Text.size();
    } else if (Separated && Text.size() > LineStart) {
      Text += ' ';
    }
    Text += Value;
  };
  for (int Y = 0; Y < Rows; ++Y) {
    if (Progress.IsAborting()) return;
    const std::uint8_t* Row = Source->Scanline(Y);
    if (Kind == '4') {
      if (Plain) {
        // In the file 1 is black; here a set bit is white.
        for (int X = 0; X < W; ++X) PutText(RvTestBit(Row, X) ? "0" : "1", false);
      } else {
        std::uint8_t* Out = Line.Data();
        for (std::int64_t I = 0; I < LineBytes; ++I) Out[I] = static_cast<std::uint8_t>(~Row[I]);
      }
    } else {
      std::uint8_t* Out = Line.Data();
      for (int X = 0; X < W; ++X) {
        const std::uint8_t* Px = Row + 3 * X;
        const std::uint8_t Gray = static_cast<std::uint8_t>(RvGray(Px[2], Px[1], Px[0]));
        const std::uint8_t Values[3] = {Px[2], Px[1], Px[0]};
        for (int S = 0; S < Samples; ++S) {
          const int Raw = Levels.Raw[Samples == 1 ? Gray : Values[S]];
          if (Plain) {
            PutText(std::to_string(Raw), true);
          } else {
            if (SampleBytes == 2) *Out++ = static_cast<std::uint8_t>(Raw >> 8);
            *Out++ = static_cast<std::uint8_t>(Raw);
          }
        }
      }
    }
    if (Plain) {
      Text += '\n';
      RvSafeStreamWrite(Stream, Aborting, Text.data(), static_cast<std::int64_t>(Text.size()));
      Text.clear();
      LineStart = 0;
    } else {
      RvSafeStreamWrite(Stream, Aborting, Line.Data(), LineBytes);
    }
    Progress.Step(Y + 1);
  }
}

} // namespace rv
