// What a JPEG file holds after its picture's end - a phone's video, a gain
// map, more pictures - and the MPF index (APP2) that places pictures there.
// A read notes where it lies; a save copies it from the file, byte for byte,
// after the new picture and places the index's pictures again. Offsets that
// count from the file's end (a motion photo's XMP) stay right by themselves.
#pragma once

#include <cstdint>

#include "image/io/rvioparams.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// Whether an APP2 block is an MPF index: "MPF", a zero byte, a TIFF
// structure whose offsets count from its first byte.
bool JpegIsMpf(const std::uint8_t* Data, std::int64_t Size);

// Notes in Params.Trailer what follows a picture whose end a read
// reached at At of Stream (the file): its length, its first bytes, and the
// pictures the kept MPF index, counting from MpfBase, places where a save
// could not place them again. The stream's position is restored.
void JpegNoteTrailer(platform::TStream& Stream, std::int64_t At, std::int64_t MpfBase, TIOParamsVals& Params);

// After a picture written from Start to Stream's position: when
// Params.WriteTrailer is set, copies Params.Trailer from the file
// read (Params.FileName), provided it still holds it as read, and sets the
// MPF index written at MpfDataAt (its data; -1 when none) to the new
// places. Params.TrailerWritten receives the layout written. A read
// that fails part-way sets the flag.
void JpegWriteTrailer(platform::TStream& Stream, std::int64_t Start, std::int64_t MpfDataAt, TIOParamsVals& Params,
                      TRvProgressRec& Progress);

} // namespace rv
