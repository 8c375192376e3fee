#include "image/io/jpeg/jpegtrailer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "image/io/rvsafeio.h"
#include "image/io/rvtrailer.h"
#include "image/model/rvlists.h"

namespace rv {

namespace {

// "MPF" and a zero byte before the TIFF structure.
constexpr std::int64_t MpfHeader = 4;
// An MP entry: attribute, size, offset (32 bits each), two dependent entries.
constexpr std::int64_t MpfEntry = 16;

// The MP entries of an MPF index: where their array lies in the TIFF
// structure (after the block's header) and how many there are.
struct TMpfIndex {
  bool Motorola = false;
  std::int64_t Length = 0;
  std::int64_t Entries = -1;
  std::int64_t Count = 0;

  bool Inside(std::int64_t At, std::int64_t Bytes) const {
    return At >= 0 && Bytes >= 0 && At <= Length && Bytes <= Length - At;
  }
  std::uint32_t Get(const std::uint8_t* Tiff, std::int64_t At, int Bytes) const {
    std::uint32_t V = 0;
    for (int I = 0; I < Bytes; ++I)
      V |= std::uint32_t{Tiff[At + I]} << (Motorola ? 8 * (Bytes - 1 - I) : 8 * I);
    return V;
  }
  void Put(std::uint8_t* Tiff, std::int64_t At, std::uint32_t V) const {
    for (int I = 0; I < 4; ++I) Tiff[At + I] = static_cast<std::uint8_t>(V >> (Motorola ? 8 * (3 - I) : 8 * I));
  }
  std::int64_t SizeAt(std::int64_t N) const { return Entries + MpfEntry * N + 4; }
  std::int64_t OffsetAt(std::int64_t N) const { return Entries + MpfEntry * N + 8; }
};

// The MP entry array of the index in an APP2 block (the first directory's
// tag 0xB002). False for anything it cannot bound within the block.
bool ReadMpfIndex(const std::uint8_t* Data, std::int64_t Size, TMpfIndex& I) {
  if (!JpegIsMpf(Data, Size)) return false;
  const std::uint8_t* Tiff = Data + MpfHeader;
  I.Length = Size - MpfHeader;
  if (std::memcmp(Tiff, "MM\0*", 4) == 0) I.Motorola = true;
  else if (std::memcmp(Tiff, "II*\0", 4) != 0) return false;
  const std::int64_t Directory = I.Get(Tiff, 4, 4);
  if (!I.Inside(Directory, 2)) return false;
  const std::int64_t Count = I.Get(Tiff, Directory, 2);
  for (std::int64_t N = 0; N < Count; ++N) {
    const std::int64_t Entry = Directory + 2 + 12 * N;
    if (!I.Inside(Entry, 12)) return false;
    if (I.Get(Tiff, Entry, 2) != 0xB002) continue;
    const std::int64_t Bytes = I.Get(Tiff, Entry + 4, 4);
    I.Entries = I.Get(Tiff, Entry + 8, 4);
    I.Count = Bytes / MpfEntry;
    return I.Get(Tiff, Entry + 2, 2) == 7 && Bytes > 0 && Bytes % MpfEntry == 0 && I.Inside(I.Entries, Bytes);
  }
  return false;
}

// The MPF index among the markers: the first, as the read noted its place.
int MpfMarker(const TRvMarkerList& Markers) {
  for (int N = 0; N < Markers.Count(); ++N)
    if (Markers.MarkerType(N) == 0xE2 && JpegIsMpf(Markers.MarkerData(N), Markers.MarkerLength(N))) return N;
  return -1;
}

// Whether the picture of entry N, Offset and Size bytes from where the
// index counts, lies wholly among the bytes after the picture.
bool InTrailer(const TRvTrailer& T, std::int64_t Offset, std::int64_t Size) {
  const std::int64_t At = T.MpfBase + Offset;
  return At >= T.At && Size <= T.At + T.Length - At;
}

// The pictures the index places where a save cannot place them again: in
// the picture itself, which a save writes anew. An entry of no offset is the
// picture itself (the first) or none; one past the file's end never was.
std::int32_t MpfUnplaced(const TRvMarkerList& Markers, const TRvTrailer& T) {
  const int Marker = MpfMarker(Markers);
  if (T.MpfBase < 0 || Marker < 0) return 0;
  TMpfIndex I;
  const std::uint8_t* Data = Markers.MarkerData(Marker);
  if (!ReadMpfIndex(Data, Markers.MarkerLength(Marker), I)) return 1;
  std::int32_t Unplaced = 0;
  for (std::int64_t N = 0; N < I.Count; ++N) {
    const std::int64_t Offset = I.Get(Data + MpfHeader, I.OffsetAt(N), 4);
    const std::int64_t Size = I.Get(Data + MpfHeader, I.SizeAt(N), 4);
    if (Offset != 0 && T.MpfBase + Offset + Size <= T.FileSize && !InTrailer(T, Offset, Size)) ++Unplaced;
  }
  return Unplaced;
}

// Rewrites the MPF index written at MpfDataAt: the first picture's size
// becomes the new picture's, the pictures after it are where the copy puts
// them (NewAt on from Start), counted from the index's new place.
void PlaceMpfPictures(platform::TStream& Stream, std::int64_t Start, std::int64_t MpfDataAt, std::int64_t NewAt,
                      TIOParamsVals& Params, TRvProgressRec& Progress) {
  const TRvTrailer& T = Params.Trailer;
  const int Marker = MpfMarker(Params.JpegMarkers);
  if (Marker < 0 || MpfDataAt < 0 || T.MpfBase < 0) return;
  const std::uint8_t* Kept = Params.JpegMarkers.MarkerData(Marker);
  std::vector<std::uint8_t> Data(Kept, Kept + Params.JpegMarkers.MarkerLength(Marker));
  TMpfIndex I;
  if (!ReadMpfIndex(Data.data(), static_cast<std::int64_t>(Data.size()), I)) return;
  std::uint8_t* Tiff = Data.data() + MpfHeader;
  const std::int64_t NewBase = MpfDataAt - Start + MpfHeader;
  for (std::int64_t N = 0; N < I.Count; ++N) {
    const std::int64_t Offset = I.Get(Tiff, I.OffsetAt(N), 4);
    const std::int64_t Size = I.Get(Tiff, I.SizeAt(N), 4);
    if (N == 0 && Offset == 0)
      I.Put(Tiff, I.SizeAt(N), static_cast<std::uint32_t>(NewAt));
    else if (Offset != 0 && InTrailer(T, Offset, Size))
      I.Put(Tiff, I.OffsetAt(N), static_cast<std::uint32_t>(NewAt + (T.MpfBase + Offset - T.At) - NewBase));
  }
  const std::int64_t End = Stream.Position();
  Stream.SetPosition(MpfDataAt);
  RvSafeStreamWrite(Stream, *Progress.Aborting, Data.data(), static_cast<std::int64_t>(Data.size()));
  Stream.SetPosition(End);
}

} // namespace

bool JpegIsMpf(const std::uint8_t* Data, std::int64_t Size) {
  return Data != nullptr && Size >= MpfHeader + 8 && std::memcmp(Data, "MPF", 4) == 0;
}

void JpegNoteTrailer(platform::TStream& Stream, std::int64_t At, std::int64_t MpfBase, TIOParamsVals& Params) {
  RvNoteTrailer(Stream, At, rvftJPEG, Params);
  if (Params.Trailer.At < 0) return;
  Params.Trailer.MpfBase = MpfBase;
  Params.Trailer.Unplaced = MpfUnplaced(Params.JpegMarkers, Params.Trailer);
}

void JpegWriteTrailer(platform::TStream& Stream, std::int64_t Start, std::int64_t MpfDataAt, TIOParamsVals& Params,
                      TRvProgressRec& Progress) {
  // Pictures the index places in the picture itself cannot follow it: the
  // save asked before leaving what follows the picture out.
  if (Params.Trailer.Unplaced > 0) {
    Params.TrailerWritten = TRvTrailer{};
    Params.TrailerWritten.At = Stream.Position() - Start;
    return;
  }
  bool Copied = false;
  RvWriteTrailer(Stream, Start, rvftJPEG, Params, Progress, [&](std::int64_t NewAt) {
    PlaceMpfPictures(Stream, Start, MpfDataAt, NewAt, Params, Progress);
    Copied = true;
  });
  if (Copied && !Progress.IsAborting())
    Params.TrailerWritten.MpfBase =
        MpfDataAt >= 0 && Params.Trailer.MpfBase >= 0 ? MpfDataAt - Start + MpfHeader : -1;
}

} // namespace rv
