// Bilevel rows in the CCITT schemes TIFF uses: modified Huffman (compression
// 2, rows byte-aligned), T.4 Group 3 one- and two-dimensional (compression 3)
// and T.6 Group 4 (compression 4). Rows are packed 1-bit, most significant
// bit first, (Width + 7) / 8 bytes. The decoders write 1 = white, 0 = black;
// the encoders read 0 = white, 1 = black.
#pragma once

#include "image/model/rvprogress.h"

#include <cstdint>
#include <vector>

namespace platform {
class TStream;
}

namespace rv {

// Decoding never fails: unknown codes are skipped, runs are clipped to the
// row, and nothing is read at or past Data + DataSize. Bit positions count
// from the first bit of Data. FillOrder 2 takes each byte least significant
// bit first. Row receives the first Shown pixels of the Width coded ones
// ((Shown + 7) / 8 bytes); the rest is decoded only to find where the row
// ends, and costs no work of its width. A negative Shown, or one above
// Width, stands for the whole row.

// One row of modified Huffman runs from BitPos; an EOL before the first run
// is skipped, one inside the row ends it and is left unread. Answers the new
// bit position.
std::int64_t FaxDecodeRow1D(std::uint8_t* Row, const std::uint8_t* Data, std::int64_t DataSize,
                            int Width, int FillOrder, std::int64_t BitPos, int Shown = -1);

// One byte-aligned row from the first bit of Data; answers the bytes used.
std::int64_t FaxDecodeRowMH(std::uint8_t* Row, const std::uint8_t* Data, std::int64_t DataSize,
                            int Width, int FillOrder, int Shown = -1);

// The reference row of the two-dimensional decoders: the changing elements
// that decoding the previous row produced. They are kept as coded, not taken
// from the row's pixels, because encoders use empty runs (a row coded
// H(0,0) ...) that change colour twice at one spot and that the next row's
// pass and vertical modes count. A new or reset one stands for an all-white
// row, as before the first row of a strip. Every change is coded in at
// least one bit, so the lists grow with the data a row reads, never with a
// width the data do not fill.
class TFaxRefRow {
public:
  void Reset(int Width);

private:
  friend std::int64_t FaxDecodeRow2D(std::uint8_t*, const std::uint8_t*, std::int64_t, bool, int,
                                     std::int64_t, TFaxRefRow&, int, int);
  // Entry k starts black (k even) or white again (k odd); three entries of
  // the width close the list.
  std::vector<int> FChanges, FNext;
  int FWidth = -1;
};

// One T.4 two-dimensional or T.6 row against RefRow, which then holds this
// row's changes. An EOL at the row start is followed by a tag bit: 1 codes
// the row one-dimensionally. FillBits lets zero fill bits stand before an
// EOL. Answers the new bit position.
std::int64_t FaxDecodeRow2D(std::uint8_t* Row, const std::uint8_t* Data, std::int64_t DataSize,
                            bool FillBits, int FillOrder, std::int64_t BitPos, TFaxRefRow& RefRow,
                            int Width, int Shown = -1);

// The encoders write through RvSafeStreamWrite, so a short write sets
// Aborting. Between rows the caller keeps PendingBits (0..7) bits of a partial
// output byte, left-aligned in PendingByte, and the reference row; all three
// start empty for a page.

// One row of runs, padded to a whole byte.
void FaxEncodeRowMH(const std::uint8_t* Row, int Width, platform::TStream& Stream,
                    TRvAbortFlag& Aborting);

// One T.4 one-dimensional row: an EOL, then the runs, continuing the bit
// stream. A null Row ends the page by writing the partial byte.
void FaxEncodeRow1D(const std::uint8_t* Row, int Width, platform::TStream& Stream,
                    TRvAbortFlag& Aborting, int& PendingBits, std::uint8_t& PendingByte);

// One T.4 row: the first of a page one-dimensional (EOL, tag 1), the others
// two-dimensional against the previous row (EOL, tag 0). A null Row ends the
// page with an EOL and releases the reference row.
void FaxEncodeRowG3(const std::uint8_t* Row, int Width, platform::TStream& Stream,
                    TRvAbortFlag& Aborting, std::vector<std::uint8_t>& RefRow, int& PendingBits,
                    std::uint8_t& PendingByte);

// One T.6 row against the previous one (white before the first). A null Row
// ends the page with EOFB padded to a whole byte and releases the reference
// row.
void FaxEncodeRowG4(const std::uint8_t* Row, int Width, platform::TStream& Stream,
                    TRvAbortFlag& Aborting, std::vector<std::uint8_t>& RefRow, int& PendingBits,
                    std::uint8_t& PendingByte);

} // namespace rv
