#include "image/io/jpeg/jpegfilt.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include <jerror.h>

#include "image/io/jpeg/jpegglue.h"
#include "image/io/jpeg/jpegtrailer.h"
#include "image/io/rvsafeio.h"
#include "image/io/tiff/exif.h"

namespace rv {

namespace {

// A file of many scans (a progressive one) builds every coefficient of every
// component up scan by scan, each scan a pass over the blocks of the
// components it holds. In a valid progression each scan adds bits no earlier
// scan had: a band's first scan starts its coefficients (Ah 0), and a
// refinement goes on from the last bit the scans before it left those
// coefficients at (Ah that bit, Al below it). Encoders write at most 100
// scans, scripts of 70 and more among them, so no file of theirs passes over
// the picture's blocks 100 times; and the arithmetic coder leaves out the
// zero bytes that would end its data, so a smooth picture's refinements may
// hold no byte at all: no ratio of blocks to bytes tells such a file from a
// crafted one. Scans that add bits are therefore taken whatever they hold
// while all the scans gone through stay within JpegAddingPassesAllowed
// passes. A scan that adds nothing only does again what was done, which is
// what a crafted file repeats hundreds of times over a large frame to hold a
// reader; it, and past those passes any scan, is held to the allowances: it
// is taken while all the blocks gone through so far stay within either of
// them, the passes over the picture or what the bytes held pay for. Past
// both the read ends as at the end of a truncated file, showing the scans
// taken, and past the cap it fails.
constexpr int JpegMaxScans = 500;
constexpr std::int64_t JpegAddingPassesAllowed = 128;
constexpr std::int64_t JpegPassesAllowed = 16;
constexpr std::int64_t JpegBlocksPerByteAllowed = 4;

// The bits the scans taken so far hold: for every component and
// coefficient, the last bit reached (Al), -1 while no scan has started it.
// Only scans that add bits move it, so a repeat never opens the way for
// another round of refinements.
struct TJpegProgression {
  std::array<std::array<std::int8_t, DCTSIZE2>, MAX_COMPONENTS> Bit;

  TJpegProgression() {
    for (auto& Component : Bit) Component.fill(-1);
  }

  // Whether the coefficients the output takes are whole: a component whose
  // block comes out as one pixel takes its mean (DC) alone; one of fewer
  // samples, whose block the library scales by less, takes them all.
  bool OutputWhole(j_decompress_ptr Info) const {
    for (int C = 0; C < std::min(Info->num_components, MAX_COMPONENTS); ++C) {
      const int Taken = Info->comp_info[C].DCT_scaled_size == 1 ? 1 : DCTSIZE2;
      if (std::any_of(Bit[C].begin(), Bit[C].begin() + Taken, [](std::int8_t Held) { return Held != 0; }))
        return false;
    }
    return true;
  }

  // Whether the scan whose header was read last adds bits to every
  // coefficient it holds; if so they are counted as held. A scan of a file
  // of one pass per component holds every coefficient whole.
  bool Adds(j_decompress_ptr Info) {
    const bool Progressive = Info->progressive_mode != 0;
    const int Ss = Progressive ? std::clamp(Info->Ss, 0, DCTSIZE2 - 1) : 0;
    const int Se = Progressive ? std::clamp(Info->Se, Ss, DCTSIZE2 - 1) : DCTSIZE2 - 1;
    const int Ah = Progressive ? Info->Ah : 0, Al = Progressive ? Info->Al : 0;
    const int Count = std::min(Info->comps_in_scan, MAX_COMPS_IN_SCAN);
    auto BitsOf = [&](int C) -> std::array<std::int8_t, DCTSIZE2>& {
      return Bit[std::clamp(Info->cur_comp_info[C]->component_index, 0, MAX_COMPONENTS - 1)];
    };
    for (int C = 0; C < Count; ++C) {
      const auto& Bits = BitsOf(C);
      for (int K = Ss; K <= Se; ++K)
        if (Ah == 0 ? Bits[K] >= 0 : (Bits[K] != Ah || Al >= Ah)) return false;
    }
    for (int C = 0; C < Count; ++C) std::fill(BitsOf(C).begin() + Ss, BitsOf(C).begin() + Se + 1, Al);
    return true;
  }
};

// The bytes the library has not taken yet: those of its buffer and the
// stream's rest.
std::int64_t JpegBytesHeld(j_decompress_ptr Info, platform::TStream& Stream) {
  return static_cast<std::int64_t>(Info->src->bytes_in_buffer) +
         std::max<std::int64_t>(Stream.Size() - Stream.Position(), 0);
}

// Whether the scan whose header was read last has no coded byte behind it:
// the data end there, or the end marker comes next. The stream is left
// where it was.
bool JpegScanEmpty(j_decompress_ptr Info, platform::TStream& Stream) {
  std::uint8_t Next[2] = {};
  std::int64_t Got = static_cast<std::int64_t>(std::min<std::size_t>(Info->src->bytes_in_buffer, 2));
  if (Got > 0) std::memcpy(Next, Info->src->next_input_byte, static_cast<std::size_t>(Got));
  if (Got < 2) {
    const std::int64_t At = Stream.Position();
    Got += std::max<std::int64_t>(Stream.Read(Next + Got, 2 - Got), 0);
    Stream.SetPosition(At);
  }
  return Got == 0 || (Got == 2 && Next[0] == 0xFF && Next[1] == JPEG_EOI);
}

// Whether the scan whose header was read last is taken, Blocks being those
// all the scans go through with it and Held the bytes behind the first
// scan's header. The first scan is always taken.
bool JpegScanAllowed(j_decompress_ptr Info, TJpegProgression& Progression, bool First, std::int64_t Blocks,
                     std::int64_t Held) {
  const bool Adds = Progression.Adds(Info);
  if (First) return true;
  std::int64_t PictureBlocks = 0;
  for (int C = 0; C < Info->num_components; ++C) {
    const jpeg_component_info& Component = Info->comp_info[C];
    PictureBlocks += static_cast<std::int64_t>(Component.width_in_blocks) * Component.height_in_blocks;
  }
  return Blocks <= (Adds ? JpegAddingPassesAllowed : JpegPassesAllowed) * PictureBlocks ||
         (Blocks + JpegBlocksPerByteAllowed - 1) / JpegBlocksPerByteAllowed <= Held;
}

// The blocks the scan whose header was read last goes through.
std::int64_t JpegScanBlocks(j_decompress_ptr Info) {
  return static_cast<std::int64_t>(Info->MCUs_per_row) * Info->MCU_rows_in_scan * Info->blocks_in_MCU;
}

// The bitmap at the decoded size, after the library-wide caps. Its rows are
// not cleared here: every row is decoded over, and the rows a failed decode
// never reached are cleared afterwards (ZeroRowsFrom), which spares a whole
// pass over a large photograph.
bool AllocateOutput(TRvBitmap& Bitmap, std::int64_t Width, std::int64_t Height) {
  std::int64_t Total = 0;
  if (Width > INT32_MAX || Height > INT32_MAX || !RvPixelsAllowed(Width, Height) ||
      !RvSizeMul(RvRowLen(Width, 24), Height, Total) || !RvAllocationAllowed(Total))
    return false;
  try {
    Bitmap.Allocate(static_cast<int>(Width), static_cast<int>(Height), rvpf24Bit);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return Bitmap.Width() == Width && Bitmap.Height() == Height;
}

void ZeroRowsFrom(TRvBitmap& Bitmap, int First) {
  for (int Y = std::max(First, 0); Y < Bitmap.Height(); ++Y)
    std::memset(Bitmap.Scanline(Y), 0, static_cast<std::size_t>(Bitmap.RowLen()));
}

// One decompression: the library record, its error manager and its source.
// Lives in the frame that calls the library, outside the one that sets the
// jump point, and releases everything however the decode ended.
struct TJpegDecoder {
  jpeg_decompress_struct Info;
  TJpegErrorMgr Err;
  jpeg_progress_mgr Monitor;
  TRvAbortFlag* Cancel = nullptr;
  bool Created = false;
  // The bytes behind the first scan's header (JpegBytesHeld).
  std::int64_t Held = 0;
  TJpegReadWork Work;
  // The scans of a progressive file were read up to a scan left untaken,
  // short of the end of the image; ShownWhole: because the coefficients the
  // output takes were whole.
  bool StoppedEarly = false;
  bool ShownWhole = false;
  // The bitmap and the rows decoded into it; -1 before it is allocated.
  TRvBitmap* Target = nullptr;
  int RowsDone = -1;
  // Where the markers are kept as the library meets them (JpegTakeMarker),
  // what they hold so far, and room for the one being read.
  TRvMarkerList* Markers = nullptr;
  std::int64_t MarkerBytes = 0;
  bool FirstMarker = true;
  std::vector<std::uint8_t> MarkerRoom;
  // What JpegMarkerNeeded met: an Exif block; the count of chunks of the ICC
  // profile (0 before its first chunk) and which of them.
  bool ExifMet = false;
  int IccCount = 0;
  std::array<bool, 256> IccMet{};
  // The markers whose data were skipped, the file's own JFIF header aside.
  std::int32_t LeftOut = 0;
  // The stream read, and where the first MPF index kept counts from (-1
  // while none was met).
  platform::TStream* Stream = nullptr;
  std::int64_t MpfBase = -1;

  TJpegDecoder() {
    std::memset(&Info, 0, sizeof(Info));
    std::memset(&Monitor, 0, sizeof(Monitor));
  }
  ~TJpegDecoder() {
    if (Created) jpeg_destroy_decompress(&Info);
    JpegFreeStreamSource(&Info);
    if (Target != nullptr && RowsDone >= 0 && RowsDone < Target->Height()) {
      try {
        ZeroRowsFrom(*Target, RowsDone);
      } catch (...) {
        Target->FreeBits();
      }
    }
  }
  TJpegDecoder(const TJpegDecoder&) = delete;
  TJpegDecoder& operator=(const TJpegDecoder&) = delete;
};

struct TJpegEncoder {
  jpeg_compress_struct Info;
  TJpegErrorMgr Err;
  bool Created = false;
  // Where the stream was when the write began, and where the data of the
  // MPF index written went (-1 when none was).
  std::int64_t Start = 0;
  std::int64_t MpfDataAt = -1;

  TJpegEncoder() { std::memset(&Info, 0, sizeof(Info)); }
  ~TJpegEncoder() {
    if (Created) jpeg_destroy_compress(&Info);
    JpegFreeStreamDest(&Info);
  }
  TJpegEncoder(const TJpegEncoder&) = delete;
  TJpegEncoder& operator=(const TJpegEncoder&) = delete;
};

bool IsSet(const TRvAbortFlag* Flag) {
  return Flag != nullptr && Flag->load(std::memory_order_relaxed);
}

void JpegMonitor(j_common_ptr Info) {
  if (!Info->is_decompressor) return;
  auto* D = static_cast<TJpegDecoder*>(Info->client_data);
  if (D->Info.input_scan_number > JpegMaxScans || IsSet(D->Cancel)) JpegErrorExit(Info);
}

// Reads the next Count bytes of the stream into Data, or past them when Data
// is null. Our source never suspends; another would fail here.
void JpegMarkerBytes(j_decompress_ptr Info, std::uint8_t* Data, std::int64_t Count) {
  jpeg_source_mgr* Src = Info->src;
  while (Count > 0) {
    if (Src->bytes_in_buffer == 0 && !Src->fill_input_buffer(Info)) ERREXIT(Info, JERR_CANT_SUSPEND);
    const std::size_t Part = std::min<std::size_t>(Src->bytes_in_buffer, static_cast<std::size_t>(Count));
    if (Data != nullptr) {
      std::memcpy(Data, Src->next_input_byte, Part);
      Data += Part;
    }
    Src->next_input_byte += Part;
    Src->bytes_in_buffer -= Part;
    Count -= static_cast<std::int64_t>(Part);
  }
}

// What the library would take from a JFIF or Adobe header itself, were it
// reading the marker: the density and the colour transform of the file.
void JpegExamineMarker(j_decompress_ptr Info, int Code, const std::uint8_t* Data, std::int64_t Size) {
  if (Code == JPEG_APP0 && Size >= 14 && std::memcmp(Data, "JFIF", 5) == 0) {
    Info->saw_JFIF_marker = TRUE;
    Info->JFIF_major_version = Data[5];
    Info->JFIF_minor_version = Data[6];
    Info->density_unit = Data[7];
    Info->X_density = static_cast<UINT16>(Data[8] << 8 | Data[9]);
    Info->Y_density = static_cast<UINT16>(Data[10] << 8 | Data[11]);
    if (Data[5] != 1) WARNMS2(Info, JWRN_JFIF_MAJOR, Data[5], Data[6]);
  } else if (Code == JPEG_APP0 + 14 && Size >= 12 && std::memcmp(Data, "Adobe", 5) == 0) {
    Info->saw_Adobe_marker = TRUE;
    Info->Adobe_transform = Data[11];
  }
}

// The ICC profile's chunks open with this name, their number from 1 and the
// count of chunks.
constexpr std::uint8_t JpegIccName[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
constexpr std::int64_t JpegIccHead = sizeof(JpegIccName) + 2;

// Whether a marker whose first bytes are Head (all of them, up to 14) is
// one a picture's look depends on: the first Exif block (how the picture
// is turned) or a chunk of the ICC profile (its colours), each chunk of the
// set the first chunk met counts once. Notes it as met.
bool JpegMarkerNeeded(TJpegDecoder& D, int Code, const std::uint8_t* Head, std::int64_t Size) {
  if (Code == JPEG_APP0 + 1) return RvIsExifApp1(Head, Size) && !std::exchange(D.ExifMet, true);
  if (Code != JPEG_APP0 + 2 || Size < JpegIccHead || std::memcmp(Head, JpegIccName, sizeof(JpegIccName)) != 0)
    return false;
  const int Number = Head[sizeof(JpegIccName)], Count = Head[sizeof(JpegIccName) + 1];
  if (D.IccCount == 0) D.IccCount = Count;
  if (Count != D.IccCount || Number < 1 || Number > Count || D.IccMet[Number]) return false;
  D.IccMet[Number] = true;
  return true;
}

// Room for a marker of Size bytes that is kept, or null when it is not: the
// file's own JFIF header (the writer makes a new one) and, past the counts
// kept, all but the markers the picture's look depends on.
std::uint8_t* JpegMarkerRoom(TJpegDecoder& D, int Code, bool First, const std::uint8_t* Head, std::int64_t Size) {
  if ((First && Code == JPEG_APP0) || D.Markers == nullptr) return nullptr;
  const bool Needed = JpegMarkerNeeded(D, Code, Head, Size);
  if (!Needed && (D.Markers->Count() >= JpegMarkersKept || D.MarkerBytes + Size > JpegMarkerBytesKept)) {
    ++D.LeftOut;
    return nullptr;
  }
  // A byte more than the data: an empty marker is kept too.
  const auto Room = static_cast<std::size_t>(Size) + 1;
  try {
    if (D.MarkerRoom.size() < Room) D.MarkerRoom.resize(Room);
  } catch (const std::bad_alloc&) {
    ++D.LeftOut;
    return nullptr;
  }
  return D.MarkerRoom.data();
}

// The library's processor of COM and APP0-15 markers. Its own way of saving
// them walks its whole list for every marker it adds; this one adds in
// constant time, up to the counts kept, and skips the data of the rest.
boolean JpegTakeMarker(j_decompress_ptr Info) {
  auto* D = static_cast<TJpegDecoder*>(Info->client_data);
  std::uint8_t Length[2];
  JpegMarkerBytes(Info, Length, 2);
  const int Code = Info->unread_marker;
  // Where an MPF index's data start in the file: its offsets count from there.
  const std::int64_t DataAt = Code == JPEG_APP0 + 2 && D->Stream != nullptr
                                  ? D->Stream->Position() - static_cast<std::int64_t>(Info->src->bytes_in_buffer)
                                  : -1;
  // A length word below its own two bytes: nothing to read, as the library
  // takes it.
  const std::int64_t Size = std::max((Length[0] << 8 | Length[1]) - 2, 0);
  ++D->Work.Markers;
  // Enough to know a JFIF, Adobe, Exif or ICC marker by.
  std::uint8_t Head[JpegIccHead];
  const std::int64_t HeadSize = std::min<std::int64_t>(Size, sizeof(Head));
  JpegMarkerBytes(Info, Head, HeadSize);
  std::uint8_t* Room = JpegMarkerRoom(*D, Code, std::exchange(D->FirstMarker, false), Head, Size);
  if (Room == nullptr) {
    JpegMarkerBytes(Info, nullptr, Size - HeadSize);
    JpegExamineMarker(Info, Code, Head, HeadSize);
    return TRUE;
  }
  std::memcpy(Room, Head, static_cast<std::size_t>(HeadSize));
  JpegMarkerBytes(Info, Room + HeadSize, Size - HeadSize);
  JpegExamineMarker(Info, Code, Room, Size);
  try {
    D->Markers->AddMarker(static_cast<std::uint8_t>(Code), Room, static_cast<int>(Size));
    D->MarkerBytes += Size;
    if (DataAt >= 0 && D->MpfBase < 0 && JpegIsMpf(Room, Size)) D->MpfBase = DataAt + 4;
  } catch (const std::bad_alloc&) {
    ++D->LeftOut;
  }
  return TRUE;
}

// Takes in the scans of a file of many scans, one row of blocks at a time,
// up to its end or to the first scan left untaken (JpegScanAllowed): what
// follows is not read, as nothing follows the end of a truncated file.
// Answers the scan to show.
//
// DcOnly: the picture is wanted at an eighth of its size, where a block is
// one pixel, its mean: once the coefficients the output takes are whole, the
// scans of detail that follow are left unread.
int JpegReadScans(TJpegDecoder& D, bool DcOnly) {
  j_decompress_ptr Info = &D.Info;
  // Counted as a scan's header is read; what is whole is looked at only at
  // the next header, once that scan's data are in.
  TJpegProgression Progression;
  for (int Got = JPEG_REACHED_SOS;; Got = jpeg_consume_input(Info)) {
    JpegMonitor(reinterpret_cast<j_common_ptr>(Info));
    if (Got == JPEG_REACHED_EOI || Got == JPEG_SUSPENDED) return Info->input_scan_number;
    if (Got != JPEG_REACHED_SOS) continue;
    if (DcOnly && Progression.OutputWhole(Info)) {
      D.StoppedEarly = D.ShownWhole = true;
      return Info->input_scan_number - 1;
    }
    const std::int64_t Blocks = D.Work.Blocks + JpegScanBlocks(Info);
    if (!JpegScanAllowed(Info, Progression, D.Work.Scans == 0, Blocks, D.Held)) {
      D.StoppedEarly = true;
      WARNMS(Info, JWRN_JPEG_EOF);
      return Info->input_scan_number - 1;
    }
    D.Work.Blocks = Blocks;
    ++D.Work.Scans;
  }
}

J_DCT_METHOD DctMethod(std::uint8_t Value, J_DCT_METHOD Default) {
  switch (Value) {
  case 0: return JDCT_ISLOW;
  case 1: return JDCT_IFAST;
  case 2: return JDCT_FLOAT;
  default: return Default;
  }
}

int ScaleDenominator(const TIOParamsVals& Params, int StoredWidth, int StoredHeight) {
  switch (Params.JpegScale) {
  case 0: return JpegAutoScale(StoredWidth, StoredHeight, Params.Width, Params.Height);
  case 1: return 1;
  case 2: return 2;
  case 3: return 4;
  case 4: return 8;
  default: return 1;
  }
}

// The steps that call the library while reading. Returns false when the
// library jumped back with a fatal error (the flag is then set). Keeps no
// object with a destructor in this frame.
bool JpegDecodeSteps(TJpegDecoder& D, platform::TStream& Stream, TRvBitmap& Bitmap,
                     TIOParamsVals& Params, bool HeaderOnly, TRvProgressRec& Progress,
                     TRvBuffer& Buffer) {
  TRvAbortFlag* Aborting = Progress.Aborting;
  if (setjmp(D.Err.Jump) != 0) return false;

  jpeg_create_decompress(&D.Info);
  D.Created = true;
  if (IsSet(Aborting)) return true;
  JpegStreamSource(&D.Info, &Stream, Aborting);
  if (IsSet(Aborting)) return true;
  D.Monitor.progress_monitor = JpegMonitor;
  D.Info.progress = &D.Monitor;
  // Whole-picture buffers (progressive files) stay within the library-wide
  // allocation cap instead of taking whatever a header asks for.
  D.Info.mem->max_memory_to_use =
      static_cast<long>(std::min<std::int64_t>(RvMaxAllocation(), LONG_MAX));

  jpeg_set_marker_processor(&D.Info, JPEG_COM, JpegTakeMarker);
  for (int M = 0; M < 16; ++M) jpeg_set_marker_processor(&D.Info, JPEG_APP0 + M, JpegTakeMarker);
  jpeg_read_header(&D.Info, TRUE);

  Params.BitsPerSample = 8;
  bool KnownSpace = true;
  switch (D.Info.jpeg_color_space) {
  case JCS_RGB:
    Params.JpegColorSpace = 0;
    Params.SamplesPerPixel = 3;
    D.Info.out_color_space = JCS_EXT_BGR;
    break;
  case JCS_GRAYSCALE:
    Params.JpegColorSpace = 1;
    Params.SamplesPerPixel = 1;
    D.Info.out_color_space = JCS_EXT_BGR;
    break;
  case JCS_YCbCr:
    Params.JpegColorSpace = 2;
    Params.SamplesPerPixel = 3;
    D.Info.out_color_space = JCS_EXT_BGR;
    break;
  case JCS_CMYK:
    Params.JpegColorSpace = 3;
    Params.SamplesPerPixel = 4;
    D.Info.out_color_space = JCS_CMYK;
    break;
  case JCS_YCCK:
    Params.JpegColorSpace = 4;
    Params.SamplesPerPixel = 4;
    D.Info.out_color_space = JCS_CMYK;
    break;
  default: KnownSpace = false; break;
  }
  D.Info.dct_method = DctMethod(Params.JpegDctMethod, D.Info.dct_method);

  // A JFIF header in dots per inch or centimetre states the resolution. One
  // of an aspect ratio only, or none, states none (Exif may: see the
  // metadata read); the ratio of pixels not square is kept as DpiX : DpiY.
  const bool Jfif = D.Info.saw_JFIF_marker != 0;
  Params.JpegDensityUnit = Jfif ? D.Info.density_unit : -1;
  Params.DpiStated = Jfif && (D.Info.density_unit == 1 || D.Info.density_unit == 2);
  switch (Params.DpiStated ? D.Info.density_unit : 0) {
  case 1:
    Params.DpiX = D.Info.X_density;
    Params.DpiY = D.Info.Y_density;
    break;
  case 2:
    Params.DpiX = static_cast<std::int32_t>(std::trunc(D.Info.X_density * 2.54));
    Params.DpiY = static_cast<std::int32_t>(std::trunc(D.Info.Y_density * 2.54));
    break;
  default:
    Params.DpiX = RvDefaultDpiX;
    Params.DpiY = RvDefaultDpiY;
    if (Jfif && D.Info.X_density != D.Info.Y_density && D.Info.X_density > 0 && D.Info.Y_density > 0) {
      Params.DpiX = D.Info.X_density;
      Params.DpiY = D.Info.Y_density;
    }
    break;
  }

  Params.FreeColorMap();
  Params.JpegProgressive = jpeg_has_multiple_scans(&D.Info) != 0;
  Params.UnscaledWidth = static_cast<std::int32_t>(D.Info.image_width);
  Params.UnscaledHeight = static_cast<std::int32_t>(D.Info.image_height);

  const int Denominator = ScaleDenominator(Params, Params.UnscaledWidth, Params.UnscaledHeight);
  D.Info.scale_num = 1;
  D.Info.scale_denom = static_cast<unsigned>(Denominator);
  Params.JpegScaleUsed = Denominator;
  // The output size without decoding anything: a progressive file would
  // otherwise be read whole just to learn its size.
  jpeg_calc_output_dimensions(&D.Info);
  if (IsSet(Aborting)) return true;
  Params.Width = static_cast<std::int32_t>(D.Info.output_width);
  Params.Height = static_cast<std::int32_t>(D.Info.output_height);
  if (HeaderOnly) return true;

  // Samples the library would hand over unconverted, in a count our
  // three-byte rows cannot take: refused rather than written past a row.
  if (!KnownSpace) {
    Progress.Abort();
    return true;
  }
  const std::int64_t Width = D.Info.output_width;
  const std::int64_t Height = D.Info.output_height;
  const bool Cmyk = D.Info.out_color_space == JCS_CMYK;
  // The scans must be able to fill the frame the header claims: a Huffman
  // code is at least one bit and every 8 x 8 block of the largest component
  // takes one at least, so a frame its data could not fill is refused before
  // the library or we allocate for it. Arithmetic coding can spend less than
  // a bit on a block, and a scan no byte at all; those files are held by the
  // pixel caps, the scans of their data by the rule of JpegScanAllowed.
  const std::int64_t StoredWidth = D.Info.image_width, StoredHeight = D.Info.image_height;
  D.Held = JpegBytesHeld(&D.Info, Stream);
  const std::int64_t Blocks = ((StoredWidth + 7) / 8) * ((StoredHeight + 7) / 8);
  const std::int64_t Least = D.Info.arith_code ? 1 : RvLeastStoredBytes(Blocks, 8, 1);
  // A read at a reduced scale still decodes every stored block: the stored
  // frame is held to the pixel cap whatever the size shown.
  // A Huffman-coded scan with no byte codes no block of the file: the
  // library would make up a flat picture for it.
  if (!RvPixelsAllowed(StoredWidth, StoredHeight) || (!D.Info.arith_code && JpegScanEmpty(&D.Info, Stream)) ||
      !RvDataCanFill(D.Held, Least, StoredWidth, StoredHeight) ||
      !AllocateOutput(Bitmap, Width, Height) ||
      (Cmyk && !Buffer.Allocate(Width * 4))) {
    Progress.Abort();
    return true;
  }
  D.Target = &Bitmap;
  D.RowsDone = 0;
  const bool Scans = jpeg_has_multiple_scans(&D.Info) != 0;
  D.Info.buffered_image = Scans ? TRUE : FALSE;
  jpeg_start_decompress(&D.Info);
  if (IsSet(Aborting)) return true;
  if (Scans) {
    // A thumbnail's read at an eighth needs only the first scans, those of
    // the means (and of the detail of components of fewer samples).
    const bool DcOnly = Params.JpegScale == 0 && D.Info.scale_denom == 8;
    const int Shown = JpegReadScans(D, DcOnly);
    // Once those are whole, the library's smoothing of blocks whose detail
    // is still to come would only move the pixels off what the whole file
    // shows. A read that went on to the end of its data shows what the file
    // holds, smoothed where its detail never came, as a read of every scan.
    if (D.ShownWhole) D.Info.do_block_smoothing = FALSE;
    jpeg_start_output(&D.Info, Shown);
    if (IsSet(Aborting)) return true;
  } else {
    D.Work.Scans = 1;
    D.Work.Blocks = JpegScanBlocks(&D.Info);
  }
  // The library decides the output size; it must be the one allocated.
  if (D.Info.output_width != Width || D.Info.output_height != Height ||
      (!Cmyk && D.Info.output_components != 3) || (Cmyk && D.Info.output_components != 4)) {
    Progress.Abort();
    return true;
  }

  Progress.Per = 100.0 / static_cast<double>(Height);
  Progress.Val = 0;
  int RowNo = 0;
  std::int32_t Work = 0;
  const std::size_t Padding = static_cast<std::size_t>(Bitmap.RowLen() - Width * 3);
  while (D.Info.output_scanline < D.Info.output_height) {
    std::uint8_t* Row = Bitmap.Scanline(RowNo);
    if (Padding > 0) std::memset(Row + Width * 3, 0, Padding);
    JSAMPROW Target = Cmyk ? Buffer.Data() : Row;
    const JDIMENSION Got = jpeg_read_scanlines(&D.Info, &Target, 1);
    if (Cmyk && Got == 1) {
      const std::uint8_t* Src = Buffer.Data();
      for (std::int64_t X = 0; X < Width; ++X) JpegCmykToBgr(Src + X * 4, Row + X * 3);
    }
    if (IsSet(Aborting) || Got == 0) break;
    RowNo += static_cast<int>(Got);
    D.RowsDone = RowNo;
    Work += static_cast<std::int32_t>(Got);
    Progress.Step(Work);
    if (IsSet(Aborting)) break;
  }
  if (D.Info.output_scanline < D.Info.output_height) Progress.Abort();
  return true;
}

// Ends a complete decode. The flag is detached first: an error in what
// follows the picture does not make a whole picture a failure. True when the
// read reached the picture's end.
bool JpegFinishDecode(TJpegDecoder& D) {
  D.Err.Aborting = nullptr;
  D.Cancel = nullptr;
  if (setjmp(D.Err.Jump) != 0) return false;
  // Finishing would read the scans left behind.
  if (D.StoppedEarly) return false;
  if (D.Info.buffered_image) jpeg_finish_output(&D.Info);
  jpeg_finish_decompress(&D.Info);
  return true;
}

// The Adobe segment's transform byte tells a decoder how the components are
// coded. A copy that disagrees with the colour space being written would
// make every reader mis-colour the picture.
bool AdobeMarkerMisfits(const std::uint8_t* Data, int Length, J_COLOR_SPACE Space) {
  if (Length < 12 || std::memcmp(Data, "Adobe", 5) != 0) return false;
  const int Transform = Data[11];
  switch (Space) {
  case JCS_RGB:
  case JCS_CMYK: return Transform != 0;
  case JCS_YCbCr: return Transform != 1;
  case JCS_YCCK: return Transform != 2;
  default: return false;
  }
}

// The steps that call the library while writing; false after a fatal
// library error. Keeps no object with a destructor in this frame.
bool JpegEncodeSteps(TJpegEncoder& E, platform::TStream& Stream, TRvBitmap& Source,
                     TIOParamsVals& Params, TRvProgressRec& Progress, TRvBuffer& Buffer) {
  TRvAbortFlag* Aborting = Progress.Aborting;
  if (setjmp(E.Err.Jump) != 0) return false;

  jpeg_create_compress(&E.Info);
  E.Created = true;
  JpegStreamDest(&E.Info, &Stream, Aborting);
  if (IsSet(Aborting)) return true;

  E.Info.image_width = static_cast<JDIMENSION>(std::max(Source.Width(), 0));
  E.Info.image_height = static_cast<JDIMENSION>(std::max(Source.Height(), 0));
  E.Info.input_components = 3;
  E.Info.in_color_space = JCS_EXT_BGR;
  J_COLOR_SPACE Space = JCS_RGB;
  switch (Params.JpegColorSpace) {
  case 0: Space = JCS_RGB; break;
  case 1: Space = JCS_GRAYSCALE; break;
  case 2: Space = JCS_YCbCr; break;
  case 3:
    E.Info.input_components = 4;
    E.Info.in_color_space = JCS_CMYK;
    Space = JCS_CMYK;
    break;
  case 4:
    E.Info.input_components = 4;
    E.Info.in_color_space = JCS_CMYK;
    Space = JCS_YCCK;
    break;
  default: Space = JCS_RGB; break;
  }
  jpeg_set_defaults(&E.Info);
  jpeg_set_colorspace(&E.Info, Space);

  // The density fields hold 16 bits. The JFIF header is the file's: none
  // when it had none, one of a ratio of pixels only (1:1 unless they are
  // not square) when it had such or the picture states no resolution (an
  // Exif block may), else the resolution in the file's own unit.
  auto Density = [](std::int32_t Dpi, std::int32_t Default) {
    return static_cast<UINT16>(std::clamp(Dpi != 0 ? Dpi : Default, 0, 0xFFFF));
  };
  E.Info.write_JFIF_header = Params.JpegDensityUnit < 0 ? FALSE : E.Info.write_JFIF_header;
  E.Info.density_unit = 1;
  E.Info.X_density = Density(Params.DpiX, RvDefaultDpiX);
  E.Info.Y_density = Density(Params.DpiY, RvDefaultDpiY);
  if (!Params.DpiStated || Params.JpegDensityUnit == 0) {
    const bool Square = Params.DpiStated || Params.DpiX == Params.DpiY || Params.DpiX < 1 || Params.DpiY < 1;
    E.Info.density_unit = 0;
    E.Info.X_density = Square ? 1 : Density(Params.DpiX, 1);
    E.Info.Y_density = Square ? 1 : Density(Params.DpiY, 1);
  } else if (Params.JpegDensityUnit == 2) {
    // Read as Trunc(centimetres x 2.54), the inches round back to them.
    E.Info.density_unit = 2;
    E.Info.X_density = static_cast<UINT16>(std::lround(E.Info.X_density / 2.54));
    E.Info.Y_density = static_cast<UINT16>(std::lround(E.Info.Y_density / 2.54));
  }
  E.Info.dct_method = DctMethod(Params.JpegDctMethod, E.Info.dct_method);
  E.Info.optimize_coding = Params.JpegOptimalHuffman ? TRUE : FALSE;
  // The library's smoothing arithmetic is defined for 0..100 only.
  E.Info.smoothing_factor = std::clamp(Params.JpegSmoothing, 0, 100);
  jpeg_set_quality(&E.Info, Params.JpegQuality, TRUE);
  if (Params.JpegProgressive) jpeg_simple_progression(&E.Info);

  const bool Cmyk = E.Info.in_color_space == JCS_CMYK;
  const std::int64_t Width = E.Info.image_width;
  if (Cmyk && !Buffer.Allocate(std::max<std::int64_t>(Width, 1) * 4)) {
    Progress.Abort();
    return true;
  }

  jpeg_start_compress(&E.Info, TRUE);
  const TRvMarkerList& Markers = Params.JpegMarkers;
  for (int N = 0; N < Markers.Count(); ++N) {
    const int Length = Markers.MarkerLength(N);
    if (Markers.MarkerType(N) == JPEG_APP0 + 14 &&
        AdobeMarkerMisfits(Markers.MarkerData(N), Length, Space))
      continue;
    // The bytes out so far, in the stream and in the buffer, and the
    // marker's code and length before its data.
    if (Markers.MarkerType(N) == JPEG_APP0 + 2 && E.MpfDataAt < 0 && JpegIsMpf(Markers.MarkerData(N), Length))
      E.MpfDataAt = Stream.Position() + static_cast<std::int64_t>(JpegStreamBufferSize - E.Info.dest->free_in_buffer) + 4;
    jpeg_write_marker(&E.Info, Markers.MarkerType(N), Markers.MarkerData(N),
                      static_cast<unsigned>(Length));
  }

  const int Height = static_cast<int>(E.Info.image_height);
  Progress.Per = Height > 0 ? 100.0 / Height : 0;
  Progress.Val = 0;
  int RowNo = 0;
  std::int32_t Work = 0;
  while (E.Info.next_scanline < E.Info.image_height) {
    std::uint8_t* Row = Source.Scanline(RowNo);
    JSAMPROW Target = Row;
    if (Cmyk) {
      std::uint8_t* Dst = Buffer.Data();
      for (std::int64_t X = 0; X < Width; ++X) JpegBgrToCmyk(Row + X * 3, Dst + X * 4);
      Target = Dst;
    }
    const JDIMENSION Put = jpeg_write_scanlines(&E.Info, &Target, 1);
    if (Put == 0) break;
    RowNo += static_cast<int>(Put);
    Work += static_cast<std::int32_t>(Put);
    Progress.Step(Work);
    if (IsSet(Aborting)) break;
  }
  if (!IsSet(Aborting) && E.Info.next_scanline < E.Info.image_height) Progress.Abort();
  if (!IsSet(Aborting)) jpeg_finish_compress(&E.Info);
  return true;
}

} // namespace

int JpegAutoScale(int StoredWidth, int StoredHeight, int WishedWidth, int WishedHeight) {
  if (WishedWidth <= 0 || WishedHeight <= 0) return 1;
  for (int E = 3; E >= 0; --E) {
    const int D = 1 << E;
    if (StoredWidth / D >= WishedWidth && StoredHeight / D >= WishedHeight) return D;
  }
  return 1;
}

std::int64_t JpegFindStart(platform::TStream& Stream) {
  const std::int64_t Start = Stream.Position();
  std::uint8_t Bytes[102];
  const std::int64_t Got = Stream.Read(Bytes, sizeof(Bytes));
  Stream.SetPosition(Start);
  for (std::int64_t Offset = 0; Offset < 100 && Offset + 3 <= Got; ++Offset) {
    if (Bytes[Offset] == 0xFF && Bytes[Offset + 1] == 0xD8 && Bytes[Offset + 2] == 0xFF)
      return Start + Offset;
  }
  return -1;
}

void JpegCmykToBgr(const std::uint8_t* Cmyk, std::uint8_t* Bgr) {
  const unsigned K = Cmyk[3];
  Bgr[2] = static_cast<std::uint8_t>(Cmyk[0] * K / 255);
  Bgr[1] = static_cast<std::uint8_t>(Cmyk[1] * K / 255);
  Bgr[0] = static_cast<std::uint8_t>(Cmyk[2] * K / 255);
}

void JpegBgrToCmyk(const std::uint8_t* Bgr, std::uint8_t* Cmyk) {
  const unsigned R = Bgr[2];
  const unsigned G = Bgr[1];
  const unsigned B = Bgr[0];
  unsigned K = std::max({R, G, B});
  if (K == 0) K = 1;
  Cmyk[0] = static_cast<std::uint8_t>(R * 255 / K);
  Cmyk[1] = static_cast<std::uint8_t>(G * 255 / K);
  Cmyk[2] = static_cast<std::uint8_t>(B * 255 / K);
  Cmyk[3] = static_cast<std::uint8_t>(K);
}

void JpegReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    bool HeaderOnly, TRvProgressRec& Progress, TJpegReadWork* Work) {
  Params.JpegWarningCount = 0;
  Params.JpegWarningCode = 0;
  Params.JpegMarkers.Clear();
  Params.JpegMarkersLeftOut = 0;
  Params.Trailer = TRvTrailer{};
  Params.JpegBytesBefore = 0;
  try {
    const std::int64_t Start = JpegFindStart(Stream);
    if (Start < 0) {
      Progress.Abort();
      return;
    }
    Params.JpegBytesBefore = static_cast<std::int32_t>(Start - Stream.Position());
    Stream.SetPosition(Start);

    TJpegDecoder D;
    D.Markers = &Params.JpegMarkers;
    TRvBuffer Buffer;
    JpegInitErrorMgr(D.Err, Progress.Aborting);
    D.Info.err = &D.Err.Pub;
    D.Info.client_data = &D;
    D.Cancel = Progress.Aborting;
    D.Stream = &Stream;
    const bool Clean = JpegDecodeSteps(D, Stream, Bitmap, Params, HeaderOnly, Progress, Buffer);
    Params.JpegMarkersLeftOut = D.LeftOut;

    // What follows the picture's end is noted where it lies, not read.
    if (Clean && D.Created && !Progress.IsAborting() && !HeaderOnly && JpegFinishDecode(D))
      JpegNoteTrailer(Stream, Stream.Position() - static_cast<std::int64_t>(D.Info.src->bytes_in_buffer), D.MpfBase,
                      Params);
    if (D.Err.Pub.num_warnings > 0) {
      Params.JpegWarningCount = static_cast<std::int32_t>(
          std::min<long>(D.Err.Pub.num_warnings, INT32_MAX));
      Params.JpegWarningCode = D.Err.Pub.msg_code;
    }
    if (Work != nullptr) {
      Work->Scans += D.Work.Scans;
      Work->Blocks += D.Work.Blocks;
      Work->Markers += D.Work.Markers;
    }
  } catch (...) {
    Progress.Abort();
  }
}

void JpegWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                     TRvProgressRec& Progress) {
  // The encoder takes three-byte rows: any other layout is read through a
  // converted copy, never as if it were one.
  TRvBitmap* Source = &Bitmap;
  std::unique_ptr<TRvBitmap> Copy;
  if (Bitmap.PixelFormat() != rvpf24Bit) {
    Copy = std::make_unique<TRvBitmap>();
    Copy->Assign(&Bitmap);
    Copy->ConvertPixelFormat(rvpf24Bit);
    Source = Copy.get();
  }

  TJpegEncoder E;
  TRvBuffer Buffer;
  JpegInitErrorMgr(E.Err, Progress.Aborting);
  E.Info.err = &E.Err.Pub;
  E.Start = Stream.Position();
  if (!JpegEncodeSteps(E, Stream, *Source, Params, Progress, Buffer)) throw ERvJpegException();
  if (!Progress.IsAborting()) JpegWriteTrailer(Stream, E.Start, E.MpfDataAt, Params, Progress);
}

} // namespace rv
