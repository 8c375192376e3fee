#include "image/io/jpeg/jpegglue.h"

#include <cstring>

namespace rv {

namespace {

void JpegOutputMessage(j_common_ptr) {}

void JpegFormatMessage(j_common_ptr, char* Buffer) {
  if (Buffer != nullptr) Buffer[0] = '\0';
}

jpeg_error_mgr MakeErrorTemplate() {
  jpeg_error_mgr T;
  std::memset(&T, 0, sizeof(T));
  T.error_exit = JpegErrorExit;
  T.emit_message = JpegEmitMessage;
  T.output_message = JpegOutputMessage;
  T.format_message = JpegFormatMessage;
  T.reset_error_mgr = JpegResetErrorMgr;
  return T;
}

const jpeg_error_mgr ErrorTemplate = MakeErrorTemplate();

TJpegErrorMgr* ErrorMgrOf(j_common_ptr Info) { return reinterpret_cast<TJpegErrorMgr*>(Info->err); }

// The stream is ours and may throw; nothing may unwind through libjpeg, so
// a failing stream counts as one that delivered (or took) nothing.
std::int64_t SafeRead(platform::TStream* Stream, void* Buffer, std::int64_t Count, bool& Failed) {
  try {
    return Stream->Read(Buffer, Count);
  } catch (...) {
    Failed = true;
    return 0;
  }
}

std::int64_t SafeWrite(platform::TStream* Stream, const void* Buffer, std::int64_t Count) {
  try {
    return Stream->Write(Buffer, Count);
  } catch (...) {
    return -1;
  }
}

void SetFlag(TRvAbortFlag* Flag) {
  if (Flag != nullptr) Flag->store(true, std::memory_order_relaxed);
}

// Source manager.

void InitSource(j_decompress_ptr Info) {
  reinterpret_cast<TJpegSourceMgr*>(Info->src)->StartOfFile = true;
}

boolean FillInputBuffer(j_decompress_ptr Info) {
  auto* Src = reinterpret_cast<TJpegSourceMgr*>(Info->src);
  bool Failed = false;
  std::int64_t N = SafeRead(Src->Stream, Src->Buffer, JpegStreamBufferSize, Failed);
  if (N < 1) {
    // An unreadable stream is a failure, not a short file.
    if (Src->StartOfFile || Failed) SetFlag(Src->Aborting);
    // End the image by the library's own rules instead of failing.
    Src->Buffer[0] = 0xFF;
    Src->Buffer[1] = JPEG_EOI;
    N = 2;
  }
  Src->Pub.next_input_byte = Src->Buffer;
  Src->Pub.bytes_in_buffer = static_cast<std::size_t>(N);
  Src->StartOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr Info, long Count) {
  auto* Src = reinterpret_cast<TJpegSourceMgr*>(Info->src);
  if (Count <= 0) return;
  while (Count > static_cast<long>(Src->Pub.bytes_in_buffer)) {
    Count -= static_cast<long>(Src->Pub.bytes_in_buffer);
    FillInputBuffer(Info);
  }
  Src->Pub.next_input_byte += Count;
  Src->Pub.bytes_in_buffer -= static_cast<std::size_t>(Count);
}

void TermSource(j_decompress_ptr) {}

// Destination manager.

void InitDestination(j_compress_ptr Info) {
  auto* Dest = reinterpret_cast<TJpegDestMgr*>(Info->dest);
  Dest->Pub.next_output_byte = Dest->Buffer;
  Dest->Pub.free_in_buffer = JpegStreamBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr Info) {
  auto* Dest = reinterpret_cast<TJpegDestMgr*>(Info->dest);
  const auto Size = static_cast<std::int64_t>(JpegStreamBufferSize);
  if (SafeWrite(Dest->Stream, Dest->Buffer, Size) != Size) SetFlag(Dest->Aborting);
  Dest->Pub.next_output_byte = Dest->Buffer;
  Dest->Pub.free_in_buffer = JpegStreamBufferSize;
  return TRUE;
}

void TermDestination(j_compress_ptr Info) {
  auto* Dest = reinterpret_cast<TJpegDestMgr*>(Info->dest);
  const auto Size = static_cast<std::int64_t>(JpegStreamBufferSize - Dest->Pub.free_in_buffer);
  if (Size > 0 && SafeWrite(Dest->Stream, Dest->Buffer, Size) != Size) SetFlag(Dest->Aborting);
}

} // namespace

void JpegInitErrorMgr(TJpegErrorMgr& Err, TRvAbortFlag* Aborting) {
  Err.Pub = ErrorTemplate;
  Err.Aborting = Aborting;
}

void JpegErrorExit(j_common_ptr Info) {
  TJpegErrorMgr* Err = ErrorMgrOf(Info);
  SetFlag(Err->Aborting);
  std::longjmp(Err->Jump, 1);
}

void JpegEmitMessage(j_common_ptr Info, int Level) {
  if (Level == -1) Info->err->num_warnings++;
}

void JpegResetErrorMgr(j_common_ptr Info) {
  Info->err->num_warnings = 0;
  Info->err->msg_code = 0;
}

void JpegStreamSource(j_decompress_ptr Info, platform::TStream* Stream, TRvAbortFlag* Aborting) {
  if (Info->src == nullptr) Info->src = reinterpret_cast<jpeg_source_mgr*>(new TJpegSourceMgr);
  auto* Src = reinterpret_cast<TJpegSourceMgr*>(Info->src);
  Src->Pub.init_source = InitSource;
  Src->Pub.fill_input_buffer = FillInputBuffer;
  Src->Pub.skip_input_data = SkipInputData;
  Src->Pub.resync_to_restart = jpeg_resync_to_restart;
  Src->Pub.term_source = TermSource;
  Src->Pub.bytes_in_buffer = 0;
  Src->Pub.next_input_byte = nullptr;
  Src->Stream = Stream;
  Src->StartOfFile = true;
  Src->Aborting = Aborting;
}

void JpegStreamDest(j_compress_ptr Info, platform::TStream* Stream, TRvAbortFlag* Aborting) {
  if (Info->dest == nullptr) Info->dest = reinterpret_cast<jpeg_destination_mgr*>(new TJpegDestMgr);
  auto* Dest = reinterpret_cast<TJpegDestMgr*>(Info->dest);
  Dest->Pub.init_destination = InitDestination;
  Dest->Pub.empty_output_buffer = EmptyOutputBuffer;
  Dest->Pub.term_destination = TermDestination;
  Dest->Pub.next_output_byte = nullptr;
  Dest->Pub.free_in_buffer = 0;
  Dest->Stream = Stream;
  Dest->Aborting = Aborting;
}

void JpegFreeStreamSource(j_decompress_ptr Info) {
  delete reinterpret_cast<TJpegSourceMgr*>(Info->src);
  Info->src = nullptr;
}

void JpegFreeStreamDest(j_compress_ptr Info) {
  delete reinterpret_cast<TJpegDestMgr*>(Info->dest);
  Info->dest = nullptr;
}

} // namespace rv
