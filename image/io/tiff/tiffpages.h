// The pages of a TIFF file kept as they are stored while one of them is
// written anew: each other page's directory, values, strips or tiles and
// private directories (Exif, GPS, sub-images) are copied byte for byte, in
// the file's own byte order; only the offsets that lead to them move.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <unordered_set>
#include <utility>
#include <vector>

#include "image/io/tiff/tiffread.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

class TTiffPages {
public:
  // Walks the chain of directories of the TIFF file Source holds from its
  // start (either byte order). Source must outlive this object.
  explicit TTiffPages(platform::TStream& Source);

  // The pages found; 0 when Source holds no TIFF.
  int Count() const { return static_cast<int>(FPages.size()); }
  bool Intel() const { return FIntel; }

  // Whether every page but Skipped can be copied as it is stored, and what
  // Skipped holds besides its pixels (its texts, Exif, private tags): each
  // value and block lies in the file, its entries are of known types, and
  // all of them together take no more than twice what the file holds
  // (blocks claimed over and over are a crafted file's, not a writer's).
  bool CanCopyAllBut(int Skipped);

  // Where the file ends for its pages: the furthest byte of its header and
  // of every directory, value, strip, tile and private directory they lead
  // to, whether a copy could take them or not. The file's size when what
  // one leads to has no length the walk can tell or the walk would weigh
  // more than the copies may (a crafted file).
  std::int64_t Reach();
  // The bytes the file holds after Reach(): no page's, another program's.
  // None when they are only a writer's zero byte that evens the end.
  std::int64_t AfterReach();

  // Writes the whole file anew at Out's position: the header, then every
  // page in its place, page Replaced by WritePage, which writes a page at
  // Out's position in this file's byte order with the entries Kept (their
  // values already in Out) besides its own, and answers the position of
  // its directory (0 on failure) and in NextAt that of its link; then the
  // bytes after Reach() as they are. Offsets in Out are its absolute
  // positions. False when a page could not be copied or a write failed
  // (Aborting set).
  using TPageWriter = std::function<std::int64_t(std::int64_t& NextAt, const std::vector<TTiffEntry>& Kept)>;
  bool Write(platform::TStream& Out, int Replaced, TRvAbortFlag& Aborting, const TPageWriter& WritePage);

private:
  // Where the copies go: a stream, or nowhere (a trial that only weighs).
  struct TOut {
    platform::TStream* Stream = nullptr;
    TRvAbortFlag* Aborting = nullptr;
    std::int64_t Position = 0;
    void Write(const void* Data, std::int64_t Count);
    void Align();
  };

  void Reset();
  // The walk of Reach(): a directory with all it leads to; false when the
  // file's end for its pages cannot be told.
  struct TReach {
    std::int64_t End = 8;
    std::int64_t Weighed = 0;
    std::unordered_set<std::uint32_t> Seen;
  };
  bool ReachOf(std::uint32_t Offset, int Depth, TReach& R);
  bool CopyAfterReach(platform::TStream& Out, TRvAbortFlag& Aborting);
  // The directory at Offset with everything it leads to; answers where its
  // copy lies (-1 when it cannot be copied) and in NextAt its link.
  std::int64_t CopyDirectory(std::uint32_t Offset, int Depth, TOut& Out, std::int64_t& NextAt);
  // The entries of Dir with their values and what they lead to copied;
  // AroundNewPixels leaves out those of the pixels' storage. False when one
  // cannot be copied.
  bool CopyEntries(const TTiffDirectory& Dir, int Depth, TOut& Out, std::vector<TTiffEntry>& Kept,
                   bool AroundNewPixels);
  // What page Index holds besides its pixels, for the page that replaces it.
  bool KeepAround(int Index, TOut& Out, std::vector<TTiffEntry>& Kept);
  // Count bytes at Offset of the file; answers where they went (-1 when
  // they are not all in the file or the copies would outgrow the budget).
  std::int64_t CopyBytes(std::uint32_t Offset, std::uint32_t Count, TOut& Out);
  // A sub-image's or a private directory, each copied once.
  std::int64_t CopySubDirectory(std::uint32_t Offset, int Depth, TOut& Out);
  // The SHORT, LONG or IFD values of an entry; false when not in the file.
  bool Numbers(const TTiffEntry& E, std::vector<std::uint32_t>& Values);
  std::uint32_t Get32(const std::uint8_t* P) const;
  // What the copies may take together.
  std::int64_t CopyBudget() const { return 2 * FSize + 65536; }

  platform::TStream& FSource;
  std::int64_t FSize = 0;
  bool FIntel = true;
  std::vector<std::uint32_t> FPages;
  // Byte ranges already copied (offset, count) and where to: shared values
  // and blocks are written once.
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::int64_t> FMoved;
  std::map<std::uint32_t, std::int64_t> FMovedDirectories;
  std::set<std::uint32_t> FCopying;
  std::int64_t FCopied = 0;
  std::int64_t FReach = -1;
};

} // namespace rv
