#include "image/io/tiff/tiffpages.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "image/io/rvtrailer.h"
#include "image/io/tiff/tiffread.h"
#include "image/io/tiff/tiffwrite.h"
#include "image/model/rvlists.h"

namespace rv {

namespace {

// Tags whose values are offsets of other directories.
bool LeadsToDirectory(int Tag) {
  return Tag == 330 || Tag == 34665 || Tag == 34853 || Tag == 40965;
}

// The tag holding the byte counts of an offsets tag; 0 for any other tag.
int CountsOf(int Tag) {
  switch (Tag) {
  case 273: return 279; // strips
  case 324: return 325; // tiles
  case 513: return 514; // an old-style JPEG stream
  case 288: return 289; // free space
  default: return 0;
  }
}

// Tags a page written anew states itself or that describe how the old
// pixels were stored: the other tags of the page it replaces go with it.
bool DescribesStorage(int Tag) {
  static const std::unordered_set<int> Storage = {
      256, 257, 258, 259, 262, 263, 264, 265, 266, 269, 270, 273, 274, 277, 278, 279, 280, 281, 282, 283,
      284, 285, 286, 287, 290, 291, 292, 293, 296, 297, 301, 317, 320, 322, 323, 324, 325, 330, 332, 333,
      334, 335, 336, 338, 339, 340, 341, 347, 512, 513, 514, 515, 517, 518, 519, 520, 521, 529, 530, 531,
      532, 34675};
  return Storage.count(Tag) != 0;
}

// The bytes of one value of Type; the IFD type is a LONG.
int TypeBytes(int Type) { return Type == 13 ? 4 : TiffTypeSize(Type); }

// The old JPEG tables, which lie at offsets of no stated length.
bool LeadsToJpegTables(int Tag) { return Tag == 519 || Tag == 520 || Tag == 521; }

// Directories nested deeper than a sub-image's Exif block's own are no
// writer's.
constexpr int DeepestDirectory = 3;

} // namespace

void TTiffPages::TOut::Write(const void* Data, std::int64_t Count) {
  if (Count <= 0) return;
  if (Stream != nullptr) RvSafeStreamWrite(*Stream, *Aborting, Data, Count);
  Position += Count;
}

void TTiffPages::TOut::Align() {
  if ((Position & 1) == 0) return;
  const std::uint8_t Zero = 0;
  Write(&Zero, 1);
}

TTiffPages::TTiffPages(platform::TStream& Source) : FSource(Source), FSize(Source.Size()) {
  std::uint8_t Header[8];
  FSource.SetPosition(0);
  if (FSource.Read(Header, 8) != 8 || Header[0] != Header[1] || (Header[0] != 'I' && Header[0] != 'M')) return;
  FIntel = Header[0] == 'I';
  TTiffDirectory Dir(FSource, 0, FIntel);
  // A BigTIFF (43) links its directories by 64-bit offsets: none of it is
  // walked as a classic file's, which would take its pixels for pages.
  if (Dir.U16(Header + 2) != 42) return;
  // The chain as the reader walks it: it ends at a directory not whole in
  // the file or one met before.
  std::unordered_set<std::uint32_t> Seen;
  for (std::uint32_t Offset = Get32(Header + 4); Offset != 0 && Seen.insert(Offset).second;) {
    std::uint8_t B[4];
    if (!Dir.ReadAt(Offset, B, 2)) break;
    const std::int64_t Link = std::int64_t{Offset} + 2 + std::int64_t{Dir.U16(B)} * 12;
    if (!Dir.ReadAt(Link, B, 4)) break;
    FPages.push_back(Offset);
    Offset = Get32(B);
  }
}

std::uint32_t TTiffPages::Get32(const std::uint8_t* P) const {
  return FIntel ? (std::uint32_t{P[0]} | (std::uint32_t{P[1]} << 8) | (std::uint32_t{P[2]} << 16) |
                   (std::uint32_t{P[3]} << 24))
                : ((std::uint32_t{P[0]} << 24) | (std::uint32_t{P[1]} << 16) | (std::uint32_t{P[2]} << 8) |
                   std::uint32_t{P[3]});
}

void TTiffPages::Reset() {
  FMoved.clear();
  FMovedDirectories.clear();
  FCopying.clear();
  FCopied = 0;
}

std::int64_t TTiffPages::CopyBytes(std::uint32_t Offset, std::uint32_t Count, TOut& Out) {
  if (std::int64_t{Offset} + Count > FSize) return -1;
  const auto Key = std::make_pair(Offset, Count);
  if (const auto Found = FMoved.find(Key); Found != FMoved.end()) return Found->second;
  FCopied += Count;
  if (FCopied > CopyBudget()) return -1;
  Out.Align();
  const std::int64_t At = Out.Position;
  if (At + Count > 0xFFFFFFFFll) return -1;
  if (Out.Stream != nullptr) {
    std::vector<std::uint8_t> Piece(std::min<std::size_t>(Count, 1 << 16));
    for (std::int64_t Done = 0; Done < Count;) {
      const std::int64_t N = std::min<std::int64_t>(Count - Done, static_cast<std::int64_t>(Piece.size()));
      FSource.SetPosition(Offset + Done);
      if (FSource.Read(Piece.data(), N) != N) return -1;
      Out.Write(Piece.data(), N);
      Done += N;
    }
  } else {
    Out.Position += Count;
  }
  FMoved.emplace(Key, At);
  return At;
}

bool TTiffPages::CopyEntries(const TTiffDirectory& Dir, int Depth, TOut& Out, std::vector<TTiffEntry>& Kept,
                             bool AroundNewPixels) {
  Kept.reserve(Dir.Entries.size());
  for (const TTiffEntry& E : Dir.Entries) {
    // The free space of the old file is none of the new one's.
    if (E.Tag == 288 || E.Tag == 289 || (AroundNewPixels && DescribesStorage(E.Tag))) continue;
    // The old JPEG tables lie elsewhere by offsets of unstated lengths.
    if (LeadsToJpegTables(E.Tag)) return false;
    const int Size = TypeBytes(E.Type);
    if (Size == 0) return false;
    const std::int64_t Total = std::int64_t{E.Count} * Size;
    TTiffEntry Copy = E;
    const int CountsTag = CountsOf(E.Tag);
    std::vector<std::int64_t> Moved;
    if (LeadsToDirectory(E.Tag) || CountsTag != 0) {
      if (Size != 4 && !(CountsTag != 0 && Size == 2)) return false;
      std::vector<std::uint32_t> Offsets, Counts;
      if (!Numbers(E, Offsets)) return false;
      if (CountsTag != 0) {
        const int C = Dir.TiffFindTag(CountsTag);
        if (C < 0 || !Numbers(Dir.Entries[static_cast<std::size_t>(C)], Counts) || Counts.size() != Offsets.size())
          return false;
      }
      for (std::size_t I = 0; I < Offsets.size(); ++I) {
        const std::int64_t At = CountsTag != 0 ? CopyBytes(Offsets[I], Counts[I], Out)
                                               : CopySubDirectory(Offsets[I], Depth + 1, Out);
        if (At < 0) return false;
        Moved.push_back(At);
      }
      // Offsets go out as LONGs (a SHORT may not reach the new place), in
      // the entry or behind it.
      if (E.Type != 13) Copy.Type = 4;
      std::vector<std::uint8_t> Values(Moved.size() * 4);
      for (std::size_t I = 0; I < Moved.size(); ++I)
        TiffPut32(Values.data() + 4 * I, static_cast<std::uint32_t>(Moved[I]), FIntel);
      if (Values.size() <= 4) {
        std::memset(Copy.Value, 0, 4);
        if (!Values.empty()) std::memcpy(Copy.Value, Values.data(), Values.size());
      } else {
        // New bytes of every directory that leads here: they count too.
        FCopied += static_cast<std::int64_t>(Values.size());
        if (FCopied > CopyBudget()) return false;
        Out.Align();
        TiffPut32(Copy.Value, static_cast<std::uint32_t>(Out.Position), FIntel);
        Out.Write(Values.data(), static_cast<std::int64_t>(Values.size()));
      }
    } else if (Total > 4) {
      if (Total > 0xFFFFFFFFll) return false;
      const std::int64_t At = CopyBytes(Get32(E.Value), static_cast<std::uint32_t>(Total), Out);
      if (At < 0) return false;
      TiffPut32(Copy.Value, static_cast<std::uint32_t>(At), FIntel);
    }
    Kept.push_back(Copy);
  }
  return true;
}

std::int64_t TTiffPages::CopyDirectory(std::uint32_t Offset, int Depth, TOut& Out, std::int64_t& NextAt) {
  TTiffDirectory Dir(FSource, 0, FIntel);
  std::vector<TTiffEntry> Kept;
  if (Depth > DeepestDirectory || !Dir.Load(Offset) || !CopyEntries(Dir, Depth, Out, Kept, false)) return -1;
  Out.Align();
  const std::int64_t At = Out.Position;
  std::vector<std::uint8_t> Table(2 + Kept.size() * 12 + 4, 0);
  TiffPut16(Table.data(), static_cast<std::uint32_t>(Kept.size()), FIntel);
  for (std::size_t I = 0; I < Kept.size(); ++I) {
    std::uint8_t* P = Table.data() + 2 + I * 12;
    TiffPut16(P, Kept[I].Tag, FIntel);
    TiffPut16(P + 2, Kept[I].Type, FIntel);
    TiffPut32(P + 4, Kept[I].Count, FIntel);
    std::memcpy(P + 8, Kept[I].Value, 4);
  }
  FCopied += static_cast<std::int64_t>(Table.size());
  if (FCopied > CopyBudget() || At + static_cast<std::int64_t>(Table.size()) > 0xFFFFFFFFll) return -1;
  Out.Write(Table.data(), static_cast<std::int64_t>(Table.size()));
  NextAt = At + static_cast<std::int64_t>(Table.size()) - 4;
  return At;
}

bool TTiffPages::KeepAround(int Index, TOut& Out, std::vector<TTiffEntry>& Kept) {
  TTiffDirectory Dir(FSource, 0, FIntel);
  return Dir.Load(FPages[static_cast<std::size_t>(Index)]) && CopyEntries(Dir, 0, Out, Kept, true);
}

bool TTiffPages::Numbers(const TTiffEntry& E, std::vector<std::uint32_t>& Values) {
  const int Size = TypeBytes(E.Type);
  const std::int64_t Total = std::int64_t{E.Count} * Size;
  if ((Size != 2 && Size != 4) || Total > FSize) return false;
  std::vector<std::uint8_t> Raw(static_cast<std::size_t>(Total));
  if (Total <= 4) {
    if (Total > 0) std::memcpy(Raw.data(), E.Value, Raw.size());
  } else {
    const std::uint32_t Offset = Get32(E.Value);
    if (Offset + Total > FSize) return false;
    FSource.SetPosition(Offset);
    if (FSource.Read(Raw.data(), Total) != Total) return false;
  }
  Values.resize(E.Count);
  for (std::size_t I = 0; I < Values.size(); ++I) {
    const std::uint8_t* P = Raw.data() + I * static_cast<std::size_t>(Size);
    Values[I] = Size == 4 ? Get32(P) : FIntel ? (P[0] | (P[1] << 8)) : ((P[0] << 8) | P[1]);
  }
  return true;
}

std::int64_t TTiffPages::CopySubDirectory(std::uint32_t Offset, int Depth, TOut& Out) {
  if (const auto Found = FMovedDirectories.find(Offset); Found != FMovedDirectories.end()) return Found->second;
  // A directory that leads back to one being copied is a loop, no writer's.
  if (!FCopying.insert(Offset).second) return -1;
  std::int64_t NextAt = 0;
  const std::int64_t At = CopyDirectory(Offset, Depth, Out, NextAt);
  FCopying.erase(Offset);
  if (At >= 0) FMovedDirectories.emplace(Offset, At);
  return At;
}

bool TTiffPages::CanCopyAllBut(int Skipped) {
  Reset();
  TOut Trial;
  Trial.Position = 8;
  for (int I = 0; I < Count(); ++I) {
    std::int64_t NextAt = 0;
    std::vector<TTiffEntry> Kept;
    if (I == Skipped ? !KeepAround(I, Trial, Kept)
                     : CopyDirectory(FPages[static_cast<std::size_t>(I)], 0, Trial, NextAt) < 0)
      return false;
  }
  return true;
}

bool TTiffPages::ReachOf(std::uint32_t Offset, int Depth, TReach& R) {
  if (Offset == 0 || !R.Seen.insert(Offset).second) return true;
  // Nesting no writer's copy takes, or a table that runs off the file.
  TTiffDirectory Dir(FSource, 0, FIntel);
  if (Depth > DeepestDirectory || !Dir.Load(Offset)) return false;
  // The table and the link after it.
  const std::int64_t Table = 2 + 12 * static_cast<std::int64_t>(Dir.Entries.size()) + 4;
  R.End = std::max(R.End, std::int64_t{Offset} + Table);
  R.Weighed += Table;
  auto Weigh = [&](std::int64_t Bytes) { return (R.Weighed += Bytes) <= CopyBudget(); };
  // What a tag leads to is walked for its first entry, the one a read takes.
  std::set<int> Walked;
  for (const TTiffEntry& E : Dir.Entries) {
    const int Size = TypeBytes(E.Type);
    if (Size == 0) return false;
    const std::int64_t Total = std::int64_t{E.Count} * Size;
    if (Total > 4) R.End = std::max(R.End, std::int64_t{Get32(E.Value)} + Total);
    const int CountsTag = CountsOf(E.Tag);
    if ((CountsTag == 0 && !LeadsToDirectory(E.Tag) && !LeadsToJpegTables(E.Tag)) || !Walked.insert(E.Tag).second)
      continue;
    std::vector<std::uint32_t> Offsets, Counts;
    if (!Weigh(Total) || !Numbers(E, Offsets)) return false;
    if (CountsTag != 0) {
      const int C = Dir.TiffFindTag(CountsTag);
      if (C < 0) return false;
      const TTiffEntry& CE = Dir.Entries[static_cast<std::size_t>(C)];
      if (!Weigh(std::int64_t{CE.Count} * TypeBytes(CE.Type)) || !Numbers(CE, Counts)) return false;
      for (std::size_t I = 0; I < std::min(Offsets.size(), Counts.size()); ++I)
        R.End = std::max(R.End, std::int64_t{Offsets[I]} + Counts[I]);
    } else if (LeadsToJpegTables(E.Tag)) {
      // A quantisation table takes 64 bytes, a Huffman table its 16 counts
      // and the codes they count.
      for (const std::uint32_t At : Offsets) {
        std::int64_t Length = 64;
        if (E.Tag != 519) {
          std::uint8_t Lengths[16];
          if (!Weigh(16) || !Dir.ReadAt(At, Lengths, 16)) return false;
          Length = 16;
          for (const std::uint8_t L : Lengths) Length += L;
        }
        R.End = std::max(R.End, std::int64_t{At} + Length);
      }
    } else {
      for (const std::uint32_t At : Offsets)
        if (!ReachOf(At, Depth + 1, R)) return false;
    }
  }
  return R.Weighed <= CopyBudget();
}

std::int64_t TTiffPages::Reach() {
  if (FReach >= 0) return FReach;
  TReach R;
  bool Told = Count() > 0;
  for (std::size_t I = 0; Told && I < FPages.size(); ++I) Told = ReachOf(FPages[I], 0, R);
  FReach = Told ? std::min(R.End, FSize) : FSize;
  return FReach;
}

std::int64_t TTiffPages::AfterReach() {
  const std::int64_t From = Reach();
  if (From + 1 == FSize && (From & 1) != 0) {
    std::uint8_t Pad = 0;
    FSource.SetPosition(From);
    if (FSource.Read(&Pad, 1) == 1 && Pad == 0) return 0;
  }
  return FSize - From;
}

bool TTiffPages::CopyAfterReach(platform::TStream& Out, TRvAbortFlag& Aborting) {
  const std::int64_t Length = AfterReach();
  return Length <= 0 || RvCopyBytes(FSource, Reach(), Length, Out, Aborting);
}

bool TTiffPages::Write(platform::TStream& Out, int Replaced, TRvAbortFlag& Aborting, const TPageWriter& WritePage) {
  Reset();
  TOut Copies{&Out, &Aborting, Out.Position()};
  std::int64_t LinkAt = Copies.Position + 4;
  if (!TiffWriteHeader(Out, Aborting, FIntel)) return false;
  for (int I = 0; I < Count(); ++I) {
    std::int64_t NextAt = 0, Directory = 0;
    if (I == Replaced) {
      Copies.Position = Out.Position();
      std::vector<TTiffEntry> Kept;
      Directory = KeepAround(I, Copies, Kept) ? WritePage(NextAt, Kept) : 0;
    } else {
      Copies.Position = Out.Position();
      Directory = CopyDirectory(FPages[static_cast<std::size_t>(I)], 0, Copies, NextAt);
    }
    if (Directory <= 0 || !TiffLinkDirectory(Out, Aborting, LinkAt, Directory, FIntel)) {
      Aborting = true;
      return false;
    }
    LinkAt = NextAt;
  }
  // What no page reaches, another program's, follows the new pages as the
  // file held it.
  return !Aborting.load(std::memory_order_relaxed) && CopyAfterReach(Out, Aborting);
}

} // namespace rv
