#include "image/io/rvformats.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "image/io/bmp/rvico.h"
#include "image/io/jpeg/jpegfilt.h"
#include "image/io/jpeg2000/rvjpeg2000.h"
#include "image/io/png/rvpng.h"
#include "image/io/pnm/rvpnm.h"
#include "image/io/tga/rvtga.h"

namespace rv {

namespace {

void RefuseRead(platform::TStream&, TRvBitmap&, TIOParamsVals&, TRvProgressRec& Progress, bool) {
  // The built-in types are read by the component's own dispatch; reached
  // through the registry, doing nothing would report a load that never
  // happened as a success.
  Progress.Abort();
}

void RefuseWrite(platform::TStream&, TRvBitmap&, TIOParamsVals&, TRvProgressRec& Progress) {
  // Likewise: an empty file must not pass for a successful save.
  Progress.Abort();
}

// ".pix" is a Targa extension that the component's tables do not list, so
// the Targa record reads and writes Targa rather than nothing.
void TargaRead(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
               TRvProgressRec& Progress, bool Preview) {
  std::unique_ptr<TRvMask> NoAlpha;
  TgaReadStream(Stream, Bitmap, Params, Progress, Preview, NoAlpha, true);
}

void TargaWrite(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                TRvProgressRec& Progress) {
  TgaWriteStream(Stream, Bitmap, Params, nullptr, Progress);
}

struct TRegistry {
  std::mutex Lock;
  std::vector<std::unique_ptr<TRvFileFormatInfo>> Records;
  // The records that have a probe, so that detection skips the rest.
  std::vector<const TRvFileFormatInfo*> Probed;

  TRegistry() {
    struct TBuiltin {
      TRvFileType Type;
      const char* Description;
      const char* Extensions;
      bool Writable;
    };
    static const TBuiltin Builtins[] = {
        {rvftTIFF, "TIFF Bitmap", "TIF;TIFF;FAX;G3N;G3F", true},
        {rvftGIF, "CompuServe Bitmap", "GIF", true},
        {rvftJPEG, "JPEG Bitmap", "JPG;JPEG;JPE", true},
        {rvftPCX, "PaintBrush", "PCX", true},
        {rvftBMP, "Windows Bitmap", "BMP;DIB;RLE", true},
        {rvftICO, "Windows Icon", "ICO", false},
        {rvftCUR, "Windows Cursor", "CUR", false},
        {rvftPNG, "Portable Network Graphics", "PNG", true},
        {rvftWMF, "Windows Metafile", "WMF", false},
        {rvftEMF, "Enhanced Windows Metafile", "EMF", false},
        {rvftTGA, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX", true},
        {rvftPXM, "Portable Pixmap, GreyMap, BitMap", "PXM;PPM;PGM;PBM", true},
        {rvftJP2, "JPEG2000", "JP2", true},
        {rvftJ2K, "JPEG2000 Code Stream", "J2K;JPC;J2C", true},
    };
    for (const TBuiltin& B : Builtins) {
      auto Info = std::make_unique<TRvFileFormatInfo>();
      Info->FileType = B.Type;
      Info->Description = B.Description;
      Info->Extensions = B.Extensions;
      if (B.Type == rvftTGA) {
        Info->ReadEntry = TargaRead;
        Info->WriteEntry = TargaWrite;
      } else {
        Info->ReadEntry = RefuseRead;
        if (B.Writable) Info->WriteEntry = RefuseWrite;
      }
      Records.push_back(std::move(Info));
    }
  }
};

TRegistry& Registry() {
  static TRegistry R;
  return R;
}

char LowerAscii(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

std::string LowerCase(std::string Text) {
  for (char& C : Text) C = LowerAscii(C);
  return Text;
}

// The Index-th item of an extension list, consumed from the left.
std::string ListItem(const std::string& List, int Index) {
  if (Index < 0) return {};
  std::size_t Begin = 0;
  for (int I = 0; I < Index; ++I) {
    const std::size_t Sep = List.find(';', Begin);
    if (Sep == std::string::npos) return {};
    Begin = Sep + 1;
  }
  const std::size_t Sep = List.find(';', Begin);
  return List.substr(Begin, Sep == std::string::npos ? std::string::npos : Sep - Begin);
}

// Text of the first Count bytes up to the first zero byte.
std::string TagText(const std::uint8_t* Bytes, std::size_t Count) {
  const auto* End = static_cast<const std::uint8_t*>(std::memchr(Bytes, 0, Count));
  return std::string(reinterpret_cast<const char*>(Bytes),
                     End != nullptr ? static_cast<std::size_t>(End - Bytes) : Count);
}

// What detection reads, seen through a cache of the stream's first bytes:
// the many probes look at the same few bytes, and a probe that reads through
// a large buffer is handed them a block at a time, so a file is read only as
// far as some probe actually looks.
class TDetectStream : public platform::TStream {
public:
  TDetectStream(platform::TStream& Inner, std::int64_t Start)
      : FInner(Inner), FStart(Start), FPos(Start), FSize(Inner.Size()) {}

  std::int64_t Read(void* Buffer, std::int64_t Count) override {
    if (Count <= 0) return 0;
    auto* Out = static_cast<std::uint8_t*>(Buffer);
    if (FPos < FStart || FPos > CacheEnd()) {
      // Far from the cached bytes: read straight through.
      FInner.Seek(FPos, platform::soBeginning);
      const std::int64_t N = FInner.Read(Out, Count);
      if (N > 0) FPos += N;
      return std::max<std::int64_t>(N, 0);
    }
    std::int64_t Served = 0;
    for (;;) {
      const std::int64_t Have = std::min(Count - Served, CacheEnd() - FPos);
      if (Have > 0) {
        std::memcpy(Out + Served, FCache.data() + (FPos - FStart), static_cast<std::size_t>(Have));
        Served += Have;
        FPos += Have;
      }
      // Small reads are whole (probes read headers in one call); a large
      // buffered read takes what is cached and comes back for more.
      if (Served == Count || (Served > 0 && Count > SmallRead)) break;
      if (!Fetch()) break;
    }
    return Served;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t Offset, platform::TSeekOrigin Origin) override {
    if (Origin == platform::soBeginning) FPos = Offset;
    else if (Origin == platform::soCurrent) FPos += Offset;
    else FPos = FSize + Offset;
    return FPos;
  }
  std::int64_t Size() override { return FSize; }

private:
  static constexpr std::int64_t SmallRead = 512;
  static constexpr std::int64_t FirstBlock = 256;
  static constexpr std::int64_t LargestBlock = 65536;

  std::int64_t CacheEnd() const { return FStart + static_cast<std::int64_t>(FCache.size()); }

  bool Fetch() {
    if (FAtEnd) return false;
    const std::int64_t Block =
        std::clamp<std::int64_t>(static_cast<std::int64_t>(FCache.size()), FirstBlock, LargestBlock);
    const std::size_t Old = FCache.size();
    FCache.resize(Old + static_cast<std::size_t>(Block));
    FInner.Seek(FStart + static_cast<std::int64_t>(Old), platform::soBeginning);
    std::int64_t Got = 0;
    while (Got < Block) {
      const std::int64_t N = FInner.Read(FCache.data() + Old + Got, Block - Got);
      if (N <= 0) break;
      Got += N;
    }
    FCache.resize(Old + static_cast<std::size_t>(Got));
    if (Got < Block) FAtEnd = true;
    return Got > 0;
  }

  platform::TStream& FInner;
  std::int64_t FStart;
  std::int64_t FPos;
  std::int64_t FSize;
  std::vector<std::uint8_t> FCache;
  bool FAtEnd = false;
};

TRvFileType DetectFrom(platform::TStream& Stream, std::int64_t P) {
  std::vector<const TRvFileFormatInfo*> Probed;
  {
    TRegistry& R = Registry();
    std::lock_guard Guard(R.Lock);
    Probed = R.Probed;
  }
  for (const TRvFileFormatInfo* Info : Probed) {
    Stream.SetPosition(P);
    const bool Hit = Info->ProbeEntry(Stream);
    Stream.SetPosition(P);
    if (Hit) return Info->FileType;
  }

  const std::int64_t S = Stream.Size();
  // Steps 2 to 9 look at no more than the first 128 bytes: read them once.
  std::uint8_t B[128] = {};
  std::int64_t Got = 0;
  if (S > 4) {
    Stream.SetPosition(P);
    while (Got < static_cast<std::int64_t>(sizeof B)) {
      const std::int64_t N = Stream.Read(B + Got, static_cast<std::int64_t>(sizeof B) - Got);
      if (N <= 0) break;
      Got += N;
    }
    Stream.SetPosition(P);
  }
  // A test of N bytes runs only when the stream is larger than N; a stream
  // entered near its end may still hold fewer, and then the test fails.
  const auto Has = [&](std::int64_t N) { return S > N && Got >= N; };
  const std::string Tag12 = Got >= 5 ? TagText(B, 5) : std::string();

  if (Has(12) && Tag12 == "JFIF") return rvftJPEG;
  if (Has(13) && B[0] == 'G' && B[1] == 'I' && B[2] == 'F') return rvftGIF;
  if (Has(12) && Tag12 == "PCX2") return rvftPCX;
  if (Has(4) && TagText(B, 4) == "PCX") return rvftPCX;
  if (Has(14) && B[0] == 0x42 && B[1] == 0x4D) return rvftBMP;
  if (Has(128) && B[0] == 10 && B[1] <= 5) return rvftPCX;
  if (Has(12) && Tag12 == "TIFF") return rvftTIFF;
  if (Has(8) && ((B[0] == 0x49 && B[1] == 0x49) || (B[0] == 0x4D && B[1] == 0x4D)))
    return rvftTIFF;

  if (S > 8 && IsPngStream(Stream)) return rvftPNG;
  if (IsIcoStream(Stream)) return rvftICO;
  if (IsCurStream(Stream)) return rvftCUR;
  if (IsTgaStream(Stream)) return rvftTGA;
  if (IsPnmStream(Stream)) return rvftPXM;
  if (JpegFindStart(Stream) >= 0) return rvftJPEG;
  if (IsJp2Stream(Stream)) return rvftJP2;
  if (IsJ2kCodeStream(Stream)) return rvftJ2K;
  return rvftUnknown;
}

// Cut to the record's 80 bytes, never inside a UTF-8 sequence.
void LimitText(std::string& Text) {
  if (Text.size() <= RvFormatTextLimit) return;
  std::size_t Keep = RvFormatTextLimit;
  while (Keep > 0 && (static_cast<unsigned char>(Text[Keep]) & 0xC0) == 0x80) --Keep;
  Text.resize(Keep);
}

} // namespace

void RvRegisterFileFormat(const TRvFileFormatInfo& Info) {
  auto Copy = std::make_unique<TRvFileFormatInfo>(Info);
  LimitText(Copy->Description);
  LimitText(Copy->Extensions);
  TRegistry& R = Registry();
  std::lock_guard Guard(R.Lock);
  if (Copy->ProbeEntry) R.Probed.push_back(Copy.get());
  R.Records.push_back(std::move(Copy));
}

const TRvFileFormatInfo* RvFindFileFormatInfo(TRvFileType FileType) {
  TRegistry& R = Registry();
  std::lock_guard Guard(R.Lock);
  for (const auto& Info : R.Records)
    if (Info->FileType == FileType) return Info.get();
  return nullptr;
}

const TRvFileFormatInfo* RvFindFileFormatInfoByExt(const std::string& Ext) {
  const std::string Wanted = LowerCase(Ext);
  if (Wanted.empty()) return nullptr;
  TRegistry& R = Registry();
  std::lock_guard Guard(R.Lock);
  for (const auto& Info : R.Records) {
    for (int I = 0;; ++I) {
      const std::string Item = ListItem(Info->Extensions, I);
      if (Item.empty()) break;
      if (LowerCase(Item) == Wanted) return Info.get();
    }
  }
  return nullptr;
}

std::string RvFileFormatExtension(TRvFileType FileType, int Index) {
  const TRvFileFormatInfo* Info = RvFindFileFormatInfo(FileType);
  return Info != nullptr ? ListItem(Info->Extensions, Index) : std::string();
}

int RvFileFormatExtensionCount(TRvFileType FileType) {
  int Count = 0;
  while (!RvFileFormatExtension(FileType, Count).empty()) ++Count;
  return Count;
}

int RvFileFormatCount() {
  TRegistry& R = Registry();
  std::lock_guard Guard(R.Lock);
  return static_cast<int>(R.Records.size());
}

const TRvFileFormatInfo* RvFileFormatInfo(int Index) {
  TRegistry& R = Registry();
  std::lock_guard Guard(R.Lock);
  if (Index < 0 || Index >= static_cast<int>(R.Records.size())) return nullptr;
  return R.Records[static_cast<std::size_t>(Index)].get();
}

std::string RvExtractExtension(const std::string& FileName) {
  const std::size_t Slash = FileName.find_last_of("/\\");
  const std::size_t Dot = FileName.find_last_of('.');
  if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash)) return {};
  return LowerCase(FileName.substr(Dot + 1));
}

TRvFileType RvFindStreamFormat(platform::TStream& Stream) {
  std::int64_t P = -1;
  TRvFileType Result = rvftUnknown;
  try {
    P = Stream.Position();
    TDetectStream View(Stream, P);
    Result = DetectFrom(View, P);
  } catch (...) {
    // Whatever went wrong (a stream error, a probe's, memory exhaustion),
    // detection answers "unknown" and never raises.
    Result = rvftUnknown;
  }
  if (P >= 0) {
    try {
      Stream.SetPosition(P);
    } catch (...) {
    }
  }
  return Result;
}

TRvFileType RvFindFileFormat(const std::string& FileName, bool VerifyExtension) {
  TRvFileType Detected = rvftUnknown;
  try {
    platform::TFileStream File(FileName, platform::fmOpenRead);
    Detected = RvFindStreamFormat(File);
  } catch (...) {
    Detected = rvftUnknown;
  }
  return VerifyExtension ? RvVerifyFileExtension(FileName, Detected) : Detected;
}

TRvFileType RvVerifyFileExtension(const std::string& FileName, TRvFileType Detected) {
  const TRvFileFormatInfo* ByExt = RvFindFileFormatInfoByExt(RvExtractExtension(FileName));
  if (ByExt == nullptr) return rvftUnknown;
  if (Detected == rvftICO || Detected == rvftCUR) return ByExt->FileType;
  return ByExt->FileType == Detected ? Detected : rvftUnknown;
}

std::int64_t RvBeginStreamHeader(platform::TStream& Stream) {
  const std::int64_t HeaderPos = Stream.Position();
  const std::uint8_t Zero[RvStreamHeaderSize] = {};
  Stream.WriteBuffer(Zero, RvStreamHeaderSize);
  return HeaderPos;
}

bool RvFinishStreamHeader(platform::TStream& Stream, std::int64_t HeaderPos, const char* Tag) {
  const std::int64_t End = Stream.Position();
  const std::int64_t Length = End - HeaderPos - RvStreamHeaderSize;
  // The header holds 32 bits of length: a larger image would be framed with
  // a wrong length and cut short when read back.
  if (Length < 0 || Length > static_cast<std::int64_t>(UINT32_MAX)) return false;
  std::uint8_t Header[RvStreamHeaderSize] = {};
  std::memcpy(Header, Tag, std::min<std::size_t>(std::strlen(Tag), 4));
  const auto L = static_cast<std::uint32_t>(Length);
  Header[8] = static_cast<std::uint8_t>(L);
  Header[9] = static_cast<std::uint8_t>(L >> 8);
  Header[10] = static_cast<std::uint8_t>(L >> 16);
  Header[11] = static_cast<std::uint8_t>(L >> 24);
  Stream.SetPosition(HeaderPos);
  Stream.WriteBuffer(Header, RvStreamHeaderSize);
  Stream.SetPosition(End);
  return true;
}

bool RvReadStreamHeader(platform::TStream& Stream, TRvStreamHeader& Header) {
  const std::int64_t HeaderPos = Stream.Position();
  std::uint8_t B[RvStreamHeaderSize];
  std::int64_t Got = 0;
  while (Got < RvStreamHeaderSize) {
    const std::int64_t N = Stream.Read(B + Got, RvStreamHeaderSize - Got);
    if (N <= 0) break;
    Got += N;
  }
  if (Got < RvStreamHeaderSize) {
    Stream.SetPosition(HeaderPos);
    Header = {};
    return false;
  }
  Header.Tag = TagText(B, 5);
  Header.Length = std::uint32_t{B[8]} | (std::uint32_t{B[9]} << 8) | (std::uint32_t{B[10]} << 16) |
                  (std::uint32_t{B[11]} << 24);
  return true;
}

} // namespace rv
