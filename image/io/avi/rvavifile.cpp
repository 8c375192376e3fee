#include "image/io/avi/rvavifile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <dlfcn.h>

#include "image/io/rvsafeio.h"
#include "image/model/rvhelpers.h"
#include "platform/graphics.h"

namespace rv {

namespace {

// FFmpeg's libraries (and theirs, some hundred) are loaded with the first
// video file, not at every start of the program: loading and linking them
// took a good part of the time before the first window.
#define RV_AV_FUNCTIONS(X) \
  X(avutil, av_log_set_level) \
  X(avutil, av_frame_alloc) \
  X(avutil, av_frame_free) \
  X(avutil, av_frame_unref) \
  X(avutil, av_malloc) \
  X(avutil, av_free) \
  X(avutil, av_freep) \
  X(avcodec, av_packet_alloc) \
  X(avcodec, av_packet_free) \
  X(avcodec, av_packet_unref) \
  X(avcodec, avcodec_find_decoder) \
  X(avcodec, avcodec_alloc_context3) \
  X(avcodec, avcodec_parameters_to_context) \
  X(avcodec, avcodec_open2) \
  X(avcodec, avcodec_send_packet) \
  X(avcodec, avcodec_receive_frame) \
  X(avcodec, avcodec_flush_buffers) \
  X(avcodec, avcodec_free_context) \
  X(avcodec, avcodec_descriptor_get) \
  X(avformat, av_find_input_format) \
  X(avformat, avformat_alloc_context) \
  X(avformat, avformat_open_input) \
  X(avformat, avformat_find_stream_info) \
  X(avformat, avformat_close_input) \
  X(avformat, avformat_seek_file) \
  X(avformat, av_seek_frame) \
  X(avformat, av_read_frame) \
  X(avformat, avio_alloc_context) \
  X(avformat, avio_context_free) \
  X(swscale, sws_getCachedContext) \
  X(swscale, sws_scale) \
  X(swscale, sws_freeContext)

struct TAvLibrary {
#define RV_AV_MEMBER(Library, Name) decltype(&::Name) Name = nullptr;
  RV_AV_FUNCTIONS(RV_AV_MEMBER)
#undef RV_AV_MEMBER
  // Every function was found.
  bool Loaded = false;
};

TAvLibrary LoadAvLibrary() {
  // The versions the program was built against; the handles stay for the
  // process.
  void* const avutil = dlopen("libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
  void* const avcodec = dlopen("libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
  void* const avformat = dlopen("libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
  void* const swscale = dlopen("libswscale.so." AV_STRINGIFY(LIBSWSCALE_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
  TAvLibrary Lib;
  if (!avutil || !avcodec || !avformat || !swscale) return Lib;
  bool All = true;
#define RV_AV_BIND(Library, Name) \
  Lib.Name = reinterpret_cast<decltype(Lib.Name)>(dlsym(Library, #Name)); \
  All = All && Lib.Name != nullptr;
  RV_AV_FUNCTIONS(RV_AV_BIND)
#undef RV_AV_BIND
  Lib.Loaded = All;
  if (All) Lib.av_log_set_level(AV_LOG_QUIET);
  return Lib;
}

const TAvLibrary& Av() {
  static const TAvLibrary Lib = LoadAvLibrary();
  return Lib;
}

} // namespace


namespace {

// More packets than this in one stream is no AVI file we can hold anyway.
constexpr std::size_t MaxPackets = 1u << 22;

struct TMemorySource {
  const std::uint8_t* Data = nullptr;
  std::int64_t Size = 0;
  std::int64_t Pos = 0;
};

int ReadMemory(void* Opaque, std::uint8_t* Buffer, int Count) {
  auto* m = static_cast<TMemorySource*>(Opaque);
  const std::int64_t n = std::min<std::int64_t>(Count, m->Size - m->Pos);
  if (n <= 0) return AVERROR_EOF;
  std::memcpy(Buffer, m->Data + m->Pos, static_cast<std::size_t>(n));
  m->Pos += n;
  return static_cast<int>(n);
}

std::int64_t SeekMemory(void* Opaque, std::int64_t Offset, int Whence) {
  auto* m = static_cast<TMemorySource*>(Opaque);
  std::int64_t pos;
  switch (Whence & ~AVSEEK_FORCE) {
  case AVSEEK_SIZE: return m->Size;
  case SEEK_SET: pos = Offset; break;
  case SEEK_CUR: pos = m->Pos + Offset; break;
  case SEEK_END: pos = m->Size + Offset; break;
  default: return -1;
  }
  if (pos < 0 || pos > m->Size) return -1;
  m->Pos = pos;
  return pos;
}

struct TPacketInfo {
  std::int64_t Dts;
  std::int64_t Pos;
  bool Key;
};

} // namespace

struct TRvAviFile::TImpl {
  AVFormatContext* Format = nullptr;
  AVIOContext* IO = nullptr;
  TMemorySource Memory;
  AVCodecContext* Codec = nullptr;
  SwsContext* Scaler = nullptr;
  AVPacket* Packet = nullptr;
  AVFrame* Frame = nullptr;
  int Stream = -1;
  int Rate = 0, Scale = 1, Width = 0, Height = 0;
  bool IntraOnly = false;

  // Every packet of the stream in file (decode) order.
  std::vector<TPacketInfo> Packets;
  bool DtsUsable = true;
  std::vector<int> KeyPackets;
  // Display position of the frame of each packet and back (-1 unknown).
  std::vector<int> PresentOf;
  std::vector<int> PacketOf;

  // The decoder's position: the next packet to read, the display position
  // of the last frame it gave (valid while Synced), and whether the input
  // has ended.
  int NextPacket = 0;
  int LastOut = -1;
  bool Synced = false;
  bool InputEnded = false;
  std::int64_t Decoded = 0;

  ~TImpl() {
    Av().sws_freeContext(Scaler);
    Av().av_frame_free(&Frame);
    Av().av_packet_free(&Packet);
    Av().avcodec_free_context(&Codec);
    Av().avformat_close_input(&Format);
    if (IO != nullptr) Av().av_freep(&IO->buffer);
    Av().avio_context_free(&IO);
  }

  int PacketIndexOf(std::int64_t Dts) const {
    if (!DtsUsable || Dts == AV_NOPTS_VALUE) return -1;
    auto it = std::lower_bound(Packets.begin(), Packets.end(), Dts,
                               [](const TPacketInfo& P, std::int64_t D) { return P.Dts < D; });
    if (it == Packets.end() || it->Dts != Dts) return -1;
    return static_cast<int>(it - Packets.begin());
  }

  bool Scan();
  bool SeekToPacket(int K);
  int KeyBefore(int PacketIndex) const;
  bool ReadPacket();
  std::vector<std::uint8_t> Convert(const AVFrame* F);
  std::vector<std::uint8_t> DecodeUntil(int N);
};

TRvAviFile::TRvAviFile() = default;
TRvAviFile::~TRvAviFile() = default;

void TRvAviFile::Close() { F.reset(); }
bool TRvAviFile::IsOpen() const { return F != nullptr; }
int TRvAviFile::Rate() const { return F ? F->Rate : 0; }
int TRvAviFile::Scale() const { return F ? F->Scale : 0; }
int TRvAviFile::Length() const { return F ? static_cast<int>(F->Packets.size()) : 0; }
int TRvAviFile::Width() const { return F ? F->Width : 0; }
int TRvAviFile::Height() const { return F ? F->Height : 0; }
bool TRvAviFile::IntraOnly() const { return F && F->IntraOnly; }
std::int64_t TRvAviFile::DecodedPackets() const { return F ? F->Decoded : 0; }

bool TRvAviFile::Open(const std::string& FileName) {
  Close();
  if (!Av().Loaded) return false;
  F = std::make_unique<TImpl>();
  const AVInputFormat* avi = Av().av_find_input_format("avi");
  if (Av().avformat_open_input(&F->Format, FileName.c_str(), avi, nullptr) < 0) {
    F.reset();
    return false;
  }
  return Start();
}

bool TRvAviFile::OpenMemory(const std::uint8_t* Data, std::size_t Size) {
  Close();
  if (!Av().Loaded) return false;
  F = std::make_unique<TImpl>();
  F->Memory = {Data, static_cast<std::int64_t>(Size), 0};
  constexpr int bufferSize = 4096;
  auto* buffer = static_cast<unsigned char*>(Av().av_malloc(bufferSize));
  F->IO = Av().avio_alloc_context(buffer, bufferSize, 0, &F->Memory, ReadMemory, nullptr, SeekMemory);
  F->Format = Av().avformat_alloc_context();
  if (F->IO == nullptr || F->Format == nullptr) {
    if (F->IO == nullptr) Av().av_free(buffer);
    F.reset();
    return false;
  }
  F->Format->pb = F->IO;
  const AVInputFormat* avi = Av().av_find_input_format("avi");
  // On failure the context is freed by FFmpeg itself.
  if (Av().avformat_open_input(&F->Format, nullptr, avi, nullptr) < 0) {
    F->Format = nullptr;
    F.reset();
    return false;
  }
  return Start();
}

bool TRvAviFile::Start() {
  TImpl& f = *F;
  if (Av().avformat_find_stream_info(f.Format, nullptr) < 0) {
    F.reset();
    return false;
  }
  for (unsigned i = 0; i < f.Format->nb_streams; ++i)
    if (f.Format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      f.Stream = static_cast<int>(i);
      break;
    }
  if (f.Stream < 0) {
    F.reset();
    return false;
  }
  AVStream* st = f.Format->streams[f.Stream];
  const AVCodec* decoder = Av().avcodec_find_decoder(st->codecpar->codec_id);
  f.Codec = decoder ? Av().avcodec_alloc_context3(decoder) : nullptr;
  f.Packet = Av().av_packet_alloc();
  f.Frame = Av().av_frame_alloc();
  if (f.Codec == nullptr || f.Packet == nullptr || f.Frame == nullptr ||
      Av().avcodec_parameters_to_context(f.Codec, st->codecpar) < 0) {
    F.reset();
    return false;
  }
  f.Codec->thread_count = 1;
  if (Av().avcodec_open2(f.Codec, decoder, nullptr) < 0) {
    F.reset();
    return false;
  }
  f.Width = st->codecpar->width;
  f.Height = st->codecpar->height;
  if (f.Width < 1 || f.Height < 1 || !RvPixelsAllowed(f.Width, f.Height)) {
    F.reset();
    return false;
  }
  const AVCodecDescriptor* descriptor = Av().avcodec_descriptor_get(st->codecpar->codec_id);
  f.IntraOnly = descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY);
  AVRational rate = st->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = st->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{st->time_base.den, st->time_base.num};
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
  f.Rate = rate.num;
  f.Scale = rate.den;
  if (!f.Scan() || f.Packets.empty() || !f.SeekToPacket(0)) {
    F.reset();
    return false;
  }
  return true;
}

// Reads every packet once, without decoding: the stream's length, the key
// frames and the time stamps to seek to.
bool TRvAviFile::TImpl::Scan() {
  while (Av().av_read_frame(Format, Packet) >= 0) {
    // A chunk cut short by the end of the file is no frame.
    if (Packet->stream_index == Stream && Packet->size > 0 && !(Packet->flags & AV_PKT_FLAG_CORRUPT)) {
      if (Packets.size() >= MaxPackets) {
        Av().av_packet_unref(Packet);
        return false;
      }
      const std::int64_t dts = Packet->dts != AV_NOPTS_VALUE ? Packet->dts : Packet->pts;
      if (dts == AV_NOPTS_VALUE || (!Packets.empty() && dts <= Packets.back().Dts)) DtsUsable = false;
      if ((Packet->flags & AV_PKT_FLAG_KEY) || IntraOnly) KeyPackets.push_back(static_cast<int>(Packets.size()));
      Packets.push_back({dts, Packet->pos, (Packet->flags & AV_PKT_FLAG_KEY) != 0 || IntraOnly});
    }
    Av().av_packet_unref(Packet);
  }
  PresentOf.assign(Packets.size(), -1);
  PacketOf.assign(Packets.size(), -1);
  // Without usable time stamps only the start can be sought.
  if (!DtsUsable || KeyPackets.empty() || KeyPackets.front() != 0) KeyPackets.assign(1, 0);
  return true;
}

int TRvAviFile::TImpl::KeyBefore(int PacketIndex) const {
  auto it = std::upper_bound(KeyPackets.begin(), KeyPackets.end(), PacketIndex);
  return it == KeyPackets.begin() ? 0 : *(it - 1);
}

bool TRvAviFile::TImpl::SeekToPacket(int K) {
  const TPacketInfo& p = Packets[static_cast<std::size_t>(K)];
  bool sought = false;
  if (K == 0) {
    sought = Av().avformat_seek_file(Format, Stream, INT64_MIN, p.Dts, p.Dts, 0) >= 0 ||
             Av().av_seek_frame(Format, -1, 0, AVSEEK_FLAG_BYTE) >= 0;
  } else if (DtsUsable) {
    sought = Av().av_seek_frame(Format, Stream, p.Dts, AVSEEK_FLAG_BACKWARD) >= 0;
  }
  if (!sought && p.Pos >= 0) sought = Av().av_seek_frame(Format, Stream, p.Pos, AVSEEK_FLAG_BYTE) >= 0;
  if (!sought) return false;
  Av().avcodec_flush_buffers(Codec);
  NextPacket = K;
  InputEnded = false;
  // From the very start the frames come in display order from 0.
  Synced = K == 0;
  LastOut = -1;
  return true;
}

// Hands the next packet of the stream to the decoder, tagged with its
// place in the file; at the end the decoder is drained. False when nothing
// is left to give.
bool TRvAviFile::TImpl::ReadPacket() {
  if (InputEnded) return false;
  while (Av().av_read_frame(Format, Packet) >= 0) {
    if (Packet->stream_index != Stream || Packet->size <= 0 || (Packet->flags & AV_PKT_FLAG_CORRUPT)) {
      Av().av_packet_unref(Packet);
      continue;
    }
    const std::int64_t dts = Packet->dts != AV_NOPTS_VALUE ? Packet->dts : Packet->pts;
    int index = PacketIndexOf(dts);
    if (index < 0) index = NextPacket;
    // A seek that landed before the wanted key frame: skip up to it.
    if (index < NextPacket) {
      Av().av_packet_unref(Packet);
      continue;
    }
    NextPacket = index + 1;
    Packet->pts = index;
    ++Decoded;
    const int sent = Av().avcodec_send_packet(Codec, Packet);
    Av().av_packet_unref(Packet);
    if (sent < 0 && sent != AVERROR(EAGAIN)) continue;
    return true;
  }
  InputEnded = true;
  Av().avcodec_send_packet(Codec, nullptr);
  return true;
}

std::vector<std::uint8_t> TRvAviFile::TImpl::Convert(const AVFrame* Src) {
  const int w = Src->width, h = Src->height;
  if (w < 1 || h < 1 || !RvPixelsAllowed(w, h)) return {};
  Scaler = Av().sws_getCachedContext(Scaler, w, h, static_cast<AVPixelFormat>(Src->format), w, h,
                                AV_PIX_FMT_BGR24, SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr,
                                nullptr);
  if (Scaler == nullptr) return {};
  const std::int64_t rowLen = RvRowLen(w, 24);
  constexpr std::size_t header = sizeof(platform::TBitmapInfoHeader);
  std::vector<std::uint8_t> dib(header + static_cast<std::size_t>(rowLen * h));
  platform::TBitmapInfoHeader info;
  info.biWidth = w;
  info.biHeight = h;
  info.biBitCount = 24;
  info.biSizeImage = static_cast<std::uint32_t>(rowLen * h);
  std::memcpy(dib.data(), &info, header);
  // The last row first with a negative stride: the rows land bottom-up.
  std::uint8_t* planes[4] = {dib.data() + header + static_cast<std::size_t>(rowLen * (h - 1)), nullptr,
                             nullptr, nullptr};
  int strides[4] = {-static_cast<int>(rowLen), 0, 0, 0};
  if (Av().sws_scale(Scaler, Src->data, Src->linesize, 0, h, planes, strides) != h) return {};
  return dib;
}

std::vector<std::uint8_t> TRvAviFile::TImpl::DecodeUntil(int N) {
  for (;;) {
    const int got = Av().avcodec_receive_frame(Codec, Frame);
    if (got == AVERROR(EAGAIN)) {
      if (!ReadPacket()) return {};
      continue;
    }
    if (got < 0) return {};
    const std::int64_t tag = Frame->pts;
    const bool tagged = tag >= 0 && tag < static_cast<std::int64_t>(Packets.size());
    int present = -1;
    if (tagged && PresentOf[static_cast<std::size_t>(tag)] >= 0) {
      present = PresentOf[static_cast<std::size_t>(tag)];
      Synced = true;
    } else if (Synced) {
      present = LastOut + 1;
      if (present >= static_cast<int>(Packets.size())) {
        Av().av_frame_unref(Frame);
        return {};
      }
      if (tagged) {
        PresentOf[static_cast<std::size_t>(tag)] = present;
        PacketOf[static_cast<std::size_t>(present)] = static_cast<int>(tag);
      }
    }
    if (present < 0) {
      // A frame before any known one (after a seek): its place is unknown.
      Av().av_frame_unref(Frame);
      continue;
    }
    LastOut = present;
    if (present == N) {
      std::vector<std::uint8_t> dib = Convert(Frame);
      Av().av_frame_unref(Frame);
      return dib;
    }
    Av().av_frame_unref(Frame);
    if (present > N) {
      Synced = false;
      return {};
    }
  }
}

std::vector<std::uint8_t> TRvAviFile::GetFrame(int N) {
  if (!F || N < 0 || N >= Length()) return {};
  TImpl& f = *F;
  if (f.IntraOnly && f.DtsUsable) {
    // Every frame stands alone: go straight to it.
    if (!(f.Synced && N == f.LastOut + 1)) {
      if (!f.SeekToPacket(N)) return {};
      f.PresentOf[static_cast<std::size_t>(N)] = N;
      f.PacketOf[static_cast<std::size_t>(N)] = N;
    }
    return f.DecodeUntil(N);
  }
  const int known = f.PacketOf[static_cast<std::size_t>(N)];
  if (f.Synced && N > f.LastOut) {
    // Forward from where the decoder stands, unless a key frame closer to
    // the frame lies ahead.
    const int start = known >= 0 ? f.KeyBefore(known) : -1;
    if (start < 0 || f.KeyBefore(std::max(start - 1, 0)) < f.NextPacket) return f.DecodeUntil(N);
  }
  // The key frame before the frame's packet (or before the last frame whose
  // place is known), and one more back: frames that refer across the key
  // frame need the group before it.
  int anchor = known;
  if (anchor < 0) {
    for (int p = N - 1; p >= 0 && anchor < 0; --p) anchor = f.PacketOf[static_cast<std::size_t>(p)];
    if (anchor < 0) anchor = 0;
  }
  const int key = f.KeyBefore(anchor);
  const int start = key > 0 ? f.KeyBefore(key - 1) : 0;
  if (!f.SeekToPacket(start)) return {};
  return f.DecodeUntil(N);
}

} // namespace rv
