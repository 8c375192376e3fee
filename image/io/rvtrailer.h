// What a file holds after its picture's end. A read notes where it lies; a
// save of the file copies it, byte for byte, after the new picture, where
// the format lets it follow any picture.
#pragma once

#include <cstdint>
#include <functional>

#include "image/io/rvioparams.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// Notes in Params.Trailer, for the format Of, the bytes of Stream (the file
// read) from At, where the read found its picture's end, to the stream's
// end; none when At lies outside the stream. The position is restored.
void RvNoteTrailer(platform::TStream& Stream, std::int64_t At, TRvFileType Of, TIOParamsVals& Params);

// Whether File still holds the trailer T as its read noted it: its size,
// and the bytes either side of the picture's end.
bool RvTrailerHeld(platform::TStream& File, const TRvTrailer& T);

// After a picture of the type Of written from Start to Stream's position:
// when Params.WriteTrailer is set and the trailer is that format's, copies
// Params.Trailer from Params.TrailerFrom. When that no longer holds it as
// read (or there is none), sets Params.TrailerMissed and aborts the
// progress. Placed runs first with the trailer's new place, counted from
// Start. Params.TrailerWritten receives where the picture written ends and
// what was copied after it. A read that fails part-way aborts the
// progress.
void RvWriteTrailer(platform::TStream& Stream, std::int64_t Start, TRvFileType Of, TIOParamsVals& Params,
                    TRvProgressRec& Progress, const std::function<void(std::int64_t NewAt)>& Placed = nullptr);

// Copies Length bytes of From, starting at At, to Out's position in pieces
// of 64 KB; false (and Aborting set) when From no longer holds them or a
// write failed.
bool RvCopyBytes(platform::TStream& From, std::int64_t At, std::int64_t Length, platform::TStream& Out,
                 TRvAbortFlag& Aborting);

// Whether a save in the format copies what the file held after its picture:
// those whose readers stop at the picture's end whatever follows it. A
// TIFF's is kept where its pages are copied (TTiffPages), which find where
// they end themselves.
bool RvKeepsTrailer(TRvFileType Type);

} // namespace rv
