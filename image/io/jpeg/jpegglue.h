// The three managers libjpeg is plugged with: an error manager that jumps
// back to the caller instead of returning, and source and destination
// managers over a platform::TStream through 64 KB buffers.
//
// libjpeg reports a fatal error by a call that must not return. The glue
// answers it with longjmp to the point set by the code that called the
// library; that code keeps no object with a destructor in the frame that
// calls setjmp and raises its own exception only after it is back.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

inline constexpr std::size_t JpegStreamBufferSize = 65536;

struct TJpegErrorMgr {
  jpeg_error_mgr Pub;
  // May be null: a fatal error then jumps without touching the flag.
  TRvAbortFlag* Aborting;
  std::jmp_buf Jump;
};

// Copies the read-only routine template into Err and points it at the flag.
void JpegInitErrorMgr(TJpegErrorMgr& Err, TRvAbortFlag* Aborting);

// Error manager routines (installed by JpegInitErrorMgr).
void JpegErrorExit(j_common_ptr Info);
void JpegEmitMessage(j_common_ptr Info, int Level);
void JpegResetErrorMgr(j_common_ptr Info);

struct TJpegSourceMgr {
  jpeg_source_mgr Pub;
  platform::TStream* Stream;
  bool StartOfFile;
  TRvAbortFlag* Aborting;
  JOCTET Buffer[JpegStreamBufferSize];
};

struct TJpegDestMgr {
  jpeg_destination_mgr Pub;
  platform::TStream* Stream;
  TRvAbortFlag* Aborting;
  JOCTET Buffer[JpegStreamBufferSize];
};

// Fill the library record's source or destination slot, creating the
// manager record when the slot is empty. The caller frees it with the
// matching JpegFree... once the library object is destroyed.
void JpegStreamSource(j_decompress_ptr Info, platform::TStream* Stream, TRvAbortFlag* Aborting);
void JpegStreamDest(j_compress_ptr Info, platform::TStream* Stream, TRvAbortFlag* Aborting);
void JpegFreeStreamSource(j_decompress_ptr Info);
void JpegFreeStreamDest(j_compress_ptr Info);

} // namespace rv
