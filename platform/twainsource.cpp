#include "platform/twainsource.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

#include <sane/saneopts.h>

#include "platform/twainsane.h"

namespace platform::twainsane {

// ------------------------------------------------------------ options

int TSaneOptions::Find(const char* Name) const {
  const SANE_Option_Descriptor* count = sane_get_option_descriptor(FHandle, 0);
  if (count == nullptr) return -1;
  SANE_Int n = 0;
  if (sane_control_option(FHandle, 0, SANE_ACTION_GET_VALUE, &n, nullptr) != SANE_STATUS_GOOD)
    return -1;
  for (int i = 1; i < n; ++i) {
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(FHandle, i);
    if (d != nullptr && d->name != nullptr && std::strcmp(d->name, Name) == 0) return i;
  }
  return -1;
}

const SANE_Option_Descriptor* TSaneOptions::Descriptor(int Index) const {
  return Index > 0 ? sane_get_option_descriptor(FHandle, Index) : nullptr;
}

bool TSaneOptions::Usable(int Index) const {
  const SANE_Option_Descriptor* d = Descriptor(Index);
  return d != nullptr && SANE_OPTION_IS_ACTIVE(d->cap) && SANE_OPTION_IS_SETTABLE(d->cap);
}

namespace {

bool IsNumeric(const SANE_Option_Descriptor* d) {
  return d != nullptr && (d->type == SANE_TYPE_INT || d->type == SANE_TYPE_FIXED ||
                          d->type == SANE_TYPE_BOOL) && d->size >= static_cast<SANE_Int>(sizeof(SANE_Word));
}

double WordValue(const SANE_Option_Descriptor* d, SANE_Word w) {
  return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : static_cast<double>(w);
}

SANE_Word ValueWord(const SANE_Option_Descriptor* d, double v) {
  if (d->type == SANE_TYPE_FIXED) return SANE_FIX(v);
  if (d->type == SANE_TYPE_BOOL) return v != 0 ? SANE_TRUE : SANE_FALSE;
  return static_cast<SANE_Word>(std::lround(v));
}

bool ContainsNoCase(const std::string& Text, const char* Part) {
  std::string a = Text, b = Part;
  for (char& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return a.find(b) != std::string::npos;
}

} // namespace

bool TSaneOptions::GetNumber(int Index, double& Value) const {
  const SANE_Option_Descriptor* d = Descriptor(Index);
  if (!IsNumeric(d) || !SANE_OPTION_IS_ACTIVE(d->cap)) return false;
  // Vector options answer all their words; the first stands for them.
  std::vector<SANE_Word> words(static_cast<std::size_t>(d->size) / sizeof(SANE_Word) + 1);
  if (sane_control_option(FHandle, Index, SANE_ACTION_GET_VALUE, words.data(), nullptr) !=
      SANE_STATUS_GOOD)
    return false;
  Value = WordValue(d, words[0]);
  return true;
}

bool TSaneOptions::SetNumber(int Index, double Value) {
  const SANE_Option_Descriptor* d = Descriptor(Index);
  if (!IsNumeric(d) || !Usable(Index)) return false;
  std::vector<SANE_Word> words(static_cast<std::size_t>(d->size) / sizeof(SANE_Word) + 1,
                               ValueWord(d, Value));
  SANE_Int info = 0;
  return sane_control_option(FHandle, Index, SANE_ACTION_SET_VALUE, words.data(), &info) ==
         SANE_STATUS_GOOD;
}

bool TSaneOptions::GetString(int Index, std::string& Value) const {
  const SANE_Option_Descriptor* d = Descriptor(Index);
  if (d == nullptr || d->type != SANE_TYPE_STRING || d->size <= 0 || !SANE_OPTION_IS_ACTIVE(d->cap))
    return false;
  std::vector<char> text(static_cast<std::size_t>(d->size) + 1, '\0');
  if (sane_control_option(FHandle, Index, SANE_ACTION_GET_VALUE, text.data(), nullptr) !=
      SANE_STATUS_GOOD)
    return false;
  Value = text.data();
  return true;
}

bool TSaneOptions::SetString(int Index, const std::string& Value) {
  const SANE_Option_Descriptor* d = Descriptor(Index);
  if (d == nullptr || d->type != SANE_TYPE_STRING || !Usable(Index)) return false;
  // The option's buffer has its own size; a longer text would not fit it.
  if (Value.size() + 1 > static_cast<std::size_t>(d->size)) return false;
  std::vector<char> text(static_cast<std::size_t>(d->size), '\0');
  std::memcpy(text.data(), Value.data(), Value.size());
  SANE_Int info = 0;
  return sane_control_option(FHandle, Index, SANE_ACTION_SET_VALUE, text.data(), &info) ==
         SANE_STATUS_GOOD;
}

bool TSaneOptions::Range(int Index, double& Min, double& Max, double& Step) const {
  const SANE_Option_Descriptor* d = Descriptor(Index);
  if (!IsNumeric(d)) return false;
  if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range != nullptr) {
    Min = WordValue(d, d->constraint.range->min);
    Max = WordValue(d, d->constraint.range->max);
    Step = WordValue(d, d->constraint.range->quant);
    return true;
  }
  const std::vector<double> list = WordList(Index);
  if (list.empty()) return false;
  Min = *std::min_element(list.begin(), list.end());
  Max = *std::max_element(list.begin(), list.end());
  Step = 0;
  return true;
}

std::vector<double> TSaneOptions::WordList(int Index) const {
  std::vector<double> list;
  const SANE_Option_Descriptor* d = Descriptor(Index);
  if (!IsNumeric(d) || d->constraint_type != SANE_CONSTRAINT_WORD_LIST ||
      d->constraint.word_list == nullptr)
    return list;
  const SANE_Word n = d->constraint.word_list[0];
  for (SANE_Word i = 1; i <= n; ++i) list.push_back(WordValue(d, d->constraint.word_list[i]));
  return list;
}

std::vector<std::string> TSaneOptions::StringList(int Index) const {
  std::vector<std::string> list;
  const SANE_Option_Descriptor* d = Descriptor(Index);
  if (d == nullptr || d->constraint_type != SANE_CONSTRAINT_STRING_LIST ||
      d->constraint.string_list == nullptr)
    return list;
  for (const SANE_String_Const* s = d->constraint.string_list; *s != nullptr; ++s) list.emplace_back(*s);
  return list;
}

double TSaneOptions::CurrentDpi() const {
  double dpi = 0;
  if (GetNumber(Find(SANE_NAME_SCAN_RESOLUTION), dpi) && dpi > 0) return dpi;
  if (GetNumber(Find(SANE_NAME_SCAN_X_RESOLUTION), dpi) && dpi > 0) return dpi;
  return 0;
}

bool TSaneOptions::GetInches(int Index, double& Inches) const {
  const SANE_Option_Descriptor* d = Descriptor(Index);
  double v = 0;
  if (d == nullptr || !GetNumber(Index, v)) return false;
  if (d->unit == SANE_UNIT_MM) {
    Inches = v / 25.4;
    return true;
  }
  const double dpi = CurrentDpi();
  if (d->unit != SANE_UNIT_PIXEL || dpi <= 0) return false;
  Inches = v / dpi;
  return true;
}

bool TSaneOptions::SetInches(int Index, double Inches) {
  const SANE_Option_Descriptor* d = Descriptor(Index);
  if (d == nullptr) return false;
  if (d->unit == SANE_UNIT_MM) return SetNumber(Index, Inches * 25.4);
  const double dpi = CurrentDpi();
  if (d->unit != SANE_UNIT_PIXEL || dpi <= 0) return false;
  return SetNumber(Index, Inches * dpi);
}

// ------------------------------------------------------------ the scan

TW_UINT16 ConditionOfStatus(SANE_Status Status) {
  switch (Status) {
  case SANE_STATUS_GOOD: return TWCC_SUCCESS;
  case SANE_STATUS_JAMMED: return TWCC_PAPERJAM;
  case SANE_STATUS_NO_MEM: return TWCC_LOWMEMORY;
  case SANE_STATUS_DEVICE_BUSY:
  case SANE_STATUS_COVER_OPEN:
  case SANE_STATUS_IO_ERROR: return TWCC_CHECKDEVICEONLINE;
  case SANE_STATUS_ACCESS_DENIED: return TWCC_DENIED;
  case SANE_STATUS_INVAL: return TWCC_BADVALUE;
  default: return TWCC_OPERATIONERROR;
  }
}

namespace {

// Turns the lines of one SANE frame into rows of the page.
class TFrameReader {
public:
  TFrameReader(TScanJob& Job, const SANE_Parameters& P, int Channel)
      : FJob(Job), FP(P), FChannel(Channel), FLine(static_cast<std::size_t>(P.bytes_per_line)) {}

  // False when the page may not grow further.
  bool Feed(const SANE_Byte* Data, SANE_Int Length) {
    while (Length > 0) {
      const auto take = std::min<std::size_t>(static_cast<std::size_t>(Length), FLine.size() - FFill);
      std::memcpy(FLine.data() + FFill, Data, take);
      FFill += take;
      Data += take;
      Length -= static_cast<SANE_Int>(take);
      if (FFill == FLine.size()) {
        FFill = 0;
        if (!PutLine()) return false;
      }
    }
    return true;
  }
  int Rows() const { return FRow; }

private:
  std::uint8_t* Row() {
    TPage& page = FJob.Page;
    const std::size_t need = static_cast<std::size_t>(FRow + 1) * static_cast<std::size_t>(page.BytesPerRow);
    if (page.Rows.size() < need) {
      // Rows past the height announced (or past the first frame's height in
      // three-pass colour) have no place in the page.
      if (FChannel > 0 || (page.Height > 0 && FRow >= page.Height)) return nullptr;
      const std::int64_t pixels = static_cast<std::int64_t>(FRow + 1) * page.Width;
      if (pixels > FJob.PixelLimit) return nullptr;
      page.Rows.resize(need);
    }
    return page.Rows.data() + static_cast<std::size_t>(FRow) * static_cast<std::size_t>(page.BytesPerRow);
  }

  // The sample x of a 1-, 8- or 16-bit line with Samples per pixel.
  int Sample(int Index) const {
    if (FP.depth == 16) {
      std::uint16_t v;
      std::memcpy(&v, FLine.data() + 2 * static_cast<std::size_t>(Index), 2);
      return v >> 8;
    }
    if (FP.depth == 1) return (FLine[static_cast<std::size_t>(Index) >> 3] & (0x80 >> (Index & 7))) != 0 ? 255 : 0;
    return FLine[static_cast<std::size_t>(Index)];
  }

  bool PutLine() {
    std::uint8_t* row = Row();
    if (row == nullptr) return false;
    TPage& page = FJob.Page;
    const int w = page.Width;
    if (page.BitsPerPixel == 1) {
      // SANE's line art has 1 for black; chocolate pixels have 0 for black.
      const int bytes = (w + 7) / 8;
      for (int i = 0; i < bytes; ++i)
        row[i] = FJob.Chocolate ? static_cast<std::uint8_t>(~FLine[static_cast<std::size_t>(i)])
                                : FLine[static_cast<std::size_t>(i)];
    } else if (page.BitsPerPixel == 8) {
      for (int x = 0; x < w; ++x) row[x] = static_cast<std::uint8_t>(Sample(x));
    } else if (FP.format == SANE_FRAME_RGB) {
      for (int i = 0; i < 3 * w; ++i) row[i] = static_cast<std::uint8_t>(Sample(i));
    } else {
      for (int x = 0; x < w; ++x) row[3 * x + FChannel] = static_cast<std::uint8_t>(Sample(x));
    }
    ++FRow;
    return true;
  }

  TScanJob& FJob;
  SANE_Parameters FP;
  int FChannel;
  std::vector<std::uint8_t> FLine;
  std::size_t FFill = 0;
  int FRow = 0;
};

bool SetUpPage(TScanJob& Job, const SANE_Parameters& P) {
  TPage& page = Job.Page;
  if (P.pixels_per_line <= 0 || P.bytes_per_line <= 0) return false;
  page.Width = P.pixels_per_line;
  if (P.format == SANE_FRAME_GRAY) {
    if (P.depth != 1 && P.depth != 8 && P.depth != 16) return false;
    page.BitsPerPixel = P.depth == 1 ? 1 : 8;
  } else if (P.format == SANE_FRAME_RGB || P.format == SANE_FRAME_RED ||
             P.format == SANE_FRAME_GREEN || P.format == SANE_FRAME_BLUE) {
    if (P.depth != 1 && P.depth != 8 && P.depth != 16) return false;
    page.BitsPerPixel = 24;
  } else {
    return false;
  }
  // A line shorter than its pixels would be read past its end.
  const std::int64_t bits = static_cast<std::int64_t>(P.pixels_per_line) * P.depth *
                            (P.format == SANE_FRAME_RGB ? 3 : 1);
  if (static_cast<std::int64_t>(P.bytes_per_line) * 8 < bits) return false;
  page.BytesPerRow = page.BitsPerPixel == 1 ? (page.Width + 7) / 8 : page.Width * page.BitsPerPixel / 8;
  page.Height = P.lines > 0 ? P.lines : 0;
  page.UnknownLength = P.lines < 0;
  if (static_cast<std::int64_t>(page.Height) * page.Width > Job.PixelLimit) return false;
  page.Rows.reserve(static_cast<std::size_t>(page.Height) * static_cast<std::size_t>(page.BytesPerRow));
  page.DpiX = Job.DpiX;
  page.DpiY = Job.DpiY;
  return true;
}

int ChannelOf(SANE_Frame Format) {
  switch (Format) {
  case SANE_FRAME_GREEN: return 1;
  case SANE_FRAME_BLUE: return 2;
  default: return 0;
  }
}

// The scan worker's name. Linux gives a new thread its creator's name, so
// the threads a backend starts from the worker carry it too.
constexpr const char* WorkerName = "pictrova-scan";

std::string TaskFile(const std::string& Id, const char* File) {
  std::ifstream in("/proc/self/task/" + Id + "/" + File);
  std::string text;
  std::getline(in, text);
  return text;
}

// A thread that is gone, or asleep in the kernel outside the calls that
// the allocator makes while it holds its locks.
bool ThreadAtRest(const std::string& Id) {
  const std::string stat = TaskFile(Id, "stat");
  const std::size_t paren = stat.rfind(')');
  if (paren == std::string::npos || paren + 2 >= stat.size()) return true;
  const char state = stat[paren + 2];
  if (state == 'Z' || state == 'X') return true;
  if (state != 'S' && state != 'D') return false;
  const std::string call = TaskFile(Id, "syscall");
  const std::string number = call.substr(0, call.find(' '));
  if (number.empty()) return true;
  // mmap, mprotect, munmap, mremap, madvise, futex.
  for (const char* busy : {"running", "9", "10", "11", "25", "28", "202"})
    if (number == busy) return false;
  return true;
}

// SANE's thread helper cancels a backend's reader thread asynchronously
// (when a pass ends, in sane_read or sane_cancel). A reader cancelled in
// the middle of malloc or free leaves the allocator's lock taken for good,
// and the next allocation anywhere in the process hangs. So before a call
// that may end the pass, the worker's threads are let go on up to where
// they wait on a pipe or a device, or are gone.
void WaitForScanThreads(int Worker) {
  const std::string self = std::to_string(gettid()), worker = std::to_string(Worker);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    bool rest = true;
    if (DIR* dir = opendir("/proc/self/task")) {
      while (const dirent* e = readdir(dir)) {
        const std::string id = e->d_name;
        if (!rest || id[0] == '.' || id == self || id == worker || TaskFile(id, "comm") != WorkerName) continue;
        rest = ThreadAtRest(id);
      }
      closedir(dir);
    }
    if (rest || std::chrono::steady_clock::now() > end) return;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// SANE's thread helper ends a pass by closing the reader's pipe and then
// cancelling the reader. The close wakes a reader that waits to write; if
// it ran on before the cancel came, the cancel could catch it in malloc or
// free. A scan thread's write to the closed pipe brings it here instead,
// where it waits for its cancel holding nothing (nanosleep is a
// cancellation point); any other thread goes on as if the signal were
// ignored, which is what SANE would have set up.
void OnBrokenPipe(int) {
  char name[17] = {};
  if (prctl(PR_GET_NAME, name) != 0 || std::strcmp(name, WorkerName) != 0) return;
  const int saved = errno;
  for (int i = 0; i < 2000; ++i) {
    timespec step{0, 1000000};
    nanosleep(&step, nullptr);
  }
  errno = saved;
}

void CatchBrokenPipes() {
  static const bool done = [] {
    struct sigaction now {};
    if (sigaction(SIGPIPE, nullptr, &now) != 0) return false;
    const bool plain = (now.sa_flags & SA_SIGINFO) == 0 && (now.sa_handler == SIG_DFL || now.sa_handler == SIG_IGN);
    if (!plain) return false;
    struct sigaction mine {};
    mine.sa_handler = &OnBrokenPipe;
    sigemptyset(&mine.sa_mask);
    mine.sa_flags = SA_RESTART;
    return sigaction(SIGPIPE, &mine, nullptr) == 0;
  }();
  (void)done;
}

} // namespace

void CancelPass(TScanJob& Job) {
  Job.Cancelled = true;
  // The worker itself only waits in sane_read; the cancel is what ends that.
  WaitForScanThreads(Job.Worker.load());
  // SANE lets a scan be cancelled from another thread: the worker's
  // sane_read returns at once.
  sane_cancel(Job.Handle);
}

void RunScan(TScanJob& Job) {
  Job.Status = SANE_STATUS_GOOD;
  Job.Page = TPage();
  std::vector<SANE_Byte> buffer(64 * 1024);
  CatchBrokenPipes();
  pthread_setname_np(pthread_self(), WorkerName);
  Job.Worker = static_cast<int>(gettid());
  bool first = true;
  int frames = 1;
  for (;;) {
    SANE_Status status = sane_start(Job.Handle);
    SANE_Parameters p{};
    if (status == SANE_STATUS_GOOD) status = sane_get_parameters(Job.Handle, &p);
    if (status != SANE_STATUS_GOOD) {
      Job.Status = status;
      break;
    }
    if (first && !SetUpPage(Job, p)) {
      Job.Status = SANE_STATUS_NO_MEM;
      break;
    }
    if (!first && (p.pixels_per_line != Job.Page.Width || p.format == SANE_FRAME_GRAY ||
                   p.format == SANE_FRAME_RGB)) {
      Job.Status = SANE_STATUS_INVAL;
      break;
    }
    const bool separate = p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB;
    if (separate) frames = 3;
    TFrameReader reader(Job, p, separate ? ChannelOf(p.format) : 0);
    const int channel = separate ? ChannelOf(p.format) : 0;
    bool full = false;
    for (;;) {
      SANE_Int length = 0;
      WaitForScanThreads(0);
      status = sane_read(Job.Handle, buffer.data(), static_cast<SANE_Int>(buffer.size()), &length);
      if (status != SANE_STATUS_GOOD) break;
      if (!reader.Feed(buffer.data(), length)) {
        full = true;
        break;
      }
      if (Job.Page.Height > 0) {
        const std::int64_t done = static_cast<std::int64_t>(channel) * Job.Page.Height + reader.Rows();
        Job.Percent = static_cast<int>(done * 100 / (static_cast<std::int64_t>(frames) * Job.Page.Height));
      }
    }
    if (first) {
      // The page is as long as the rows that came.
      Job.Page.Height = reader.Rows();
      Job.Page.Rows.resize(static_cast<std::size_t>(Job.Page.Height) *
                           static_cast<std::size_t>(Job.Page.BytesPerRow));
    }
    first = false;
    if (full) {
      // A page of unknown length stops at the pixel limit; the rest is
      // dropped, as is anything past the announced height.
      break;
    }
    if (status != SANE_STATUS_EOF) {
      Job.Status = status;
      break;
    }
    if (p.last_frame) break;
  }
  WaitForScanThreads(0);
  sane_cancel(Job.Handle);
  if (Job.Cancelled) Job.Status = SANE_STATUS_CANCELLED;
  if (Job.Status == SANE_STATUS_GOOD && Job.Page.Height <= 0) Job.Status = SANE_STATUS_NO_DOCS;
  if (Job.Status != SANE_STATUS_GOOD) Job.Page = TPage();
  Job.Percent = 100;
}

// ------------------------------------------------------------ the source

int TSaneSource::MessageEventType() {
  static const int type = QEvent::registerEventType();
  return type;
}

TSaneSource::TSaneSource(TW_UINT32 Id, std::string Device, SANE_Handle Handle)
    : FId(Id), FDevice(std::move(Device)), FHandle(Handle), FOptions(Handle),
      FNotifier(std::make_unique<QObject>()) {}

TSaneSource::~TSaneSource() {
  CancelScan();
  CloseWindows();
}

TW_UINT16 TSaneSource::Fail(TW_UINT16 ConditionCode) {
  FCondition = ConditionCode;
  return TWRC_FAILURE;
}

TW_UINT16 TSaneSource::Succeed() {
  FCondition = TWCC_SUCCESS;
  return TWRC_SUCCESS;
}

void TSaneSource::JoinWorker() {
  if (FWorker.joinable()) FWorker.join();
}

void TSaneSource::CancelScan() {
  if (!FWorker.joinable()) return;
  CancelPass(*FJob);
  JoinWorker();
  FJob.reset();
}

void TSaneSource::CloseWindows() {
  delete FProgress.data();
  delete FDialog.data();
}

void TSaneSource::Post(TW_UINT16 Message) {
  if (Message == MSG_XFERREADY) FState = 6;
  FMessages.push_back(Message);
  if (FProxy) QCoreApplication::postEvent(FProxy, new QEvent(static_cast<QEvent::Type>(MessageEventType())));
}

void TSaneSource::RequestClose() {
  CancelScan();
  Post(MSG_CLOSEDSREQ);
}

// ---- pixel types

std::vector<TW_UINT16> TSaneSource::PixelTypes() const {
  std::vector<TW_UINT16> types;
  auto add = [&types](TW_UINT16 t) {
    if (std::find(types.begin(), types.end(), t) == types.end()) types.push_back(t);
  };
  const int mode = FOptions.Find(SANE_NAME_SCAN_MODE);
  const std::vector<double> depths = FOptions.WordList(FOptions.Find(SANE_NAME_BIT_DEPTH));
  const bool oneBit = std::find(depths.begin(), depths.end(), 1.0) != depths.end();
  for (const std::string& m : FOptions.StringList(mode)) {
    if (ContainsNoCase(m, "lineart") || ContainsNoCase(m, "halftone") || ContainsNoCase(m, "binary")) {
      if (!ContainsNoCase(m, "color")) add(TWPT_BW);
    } else if (ContainsNoCase(m, "gray") || ContainsNoCase(m, "grey")) {
      add(TWPT_GRAY);
      if (oneBit) add(TWPT_BW);
    } else if (ContainsNoCase(m, "color") || ContainsNoCase(m, "colour")) {
      add(TWPT_RGB);
    }
  }
  std::sort(types.begin(), types.end());
  return types;
}

TW_UINT16 TSaneSource::CurrentPixelType() const {
  std::string mode;
  FOptions.GetString(FOptions.Find(SANE_NAME_SCAN_MODE), mode);
  double depth = 8;
  FOptions.GetNumber(FOptions.Find(SANE_NAME_BIT_DEPTH), depth);
  if (ContainsNoCase(mode, "color") || ContainsNoCase(mode, "colour"))
    return ContainsNoCase(mode, "lineart") ? TWPT_BW : TWPT_RGB;
  if (ContainsNoCase(mode, "gray") || ContainsNoCase(mode, "grey")) return depth == 1 ? TWPT_BW : TWPT_GRAY;
  if (mode.empty()) return depth == 1 ? TWPT_BW : TWPT_GRAY;
  return TWPT_BW;
}

bool TSaneSource::SetPixelType(TW_UINT16 Type) {
  const int mode = FOptions.Find(SANE_NAME_SCAN_MODE);
  const std::vector<std::string> modes = FOptions.StringList(mode);
  auto pick = [&](std::initializer_list<const char*> parts, const char* without) -> std::string {
    for (const std::string& m : modes)
      for (const char* part : parts)
        if (ContainsNoCase(m, part) && (without == nullptr || !ContainsNoCase(m, without))) return m;
    return {};
  };
  const int depthOption = FOptions.Find(SANE_NAME_BIT_DEPTH);
  auto setDepth = [&](bool one) {
    double depth = 8;
    if (!FOptions.GetNumber(depthOption, depth)) return !one;
    if (one) return depth == 1 || FOptions.SetNumber(depthOption, 1);
    if (depth != 1) return true;
    const std::vector<double> depths = FOptions.WordList(depthOption);
    const double wanted = std::find(depths.begin(), depths.end(), 8.0) != depths.end()
                              ? 8.0
                              : (depths.empty() ? 8.0 : *std::max_element(depths.begin(), depths.end()));
    return FOptions.SetNumber(depthOption, wanted);
  };
  switch (Type) {
  case TWPT_BW: {
    const std::string art = pick({"lineart", "halftone", "binary"}, "color");
    if (!art.empty()) return FOptions.SetString(mode, art);
    const std::string gray = pick({"gray", "grey"}, nullptr);
    return !gray.empty() && FOptions.SetString(mode, gray) && setDepth(true);
  }
  case TWPT_GRAY: {
    const std::string gray = pick({"gray", "grey"}, nullptr);
    return !gray.empty() && FOptions.SetString(mode, gray) && setDepth(false);
  }
  case TWPT_RGB: {
    const std::string color = pick({"color", "colour"}, "lineart");
    return !color.empty() && FOptions.SetString(mode, color) && setDepth(false);
  }
  default: return false;
  }
}

// ---- document sources

int TSaneSource::SourceIndex(const char* Kind) const {
  const std::vector<std::string> list = FOptions.StringList(FOptions.Find(SANE_NAME_SCAN_SOURCE));
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string& s = list[i];
    const bool match = std::strcmp(Kind, "duplex") == 0
                           ? ContainsNoCase(s, "duplex")
                           : (ContainsNoCase(s, "adf") || ContainsNoCase(s, "feeder") ||
                              ContainsNoCase(s, "automatic"));
    if (match) return static_cast<int>(i);
  }
  return -1;
}

bool TSaneSource::SelectSource(const char* Kind, bool On) {
  const int option = FOptions.Find(SANE_NAME_SCAN_SOURCE);
  const std::vector<std::string> list = FOptions.StringList(option);
  const int match = SourceIndex(Kind);
  if (match < 0) return false;
  if (On) return FOptions.SetString(option, list[static_cast<std::size_t>(match)]);
  for (const std::string& s : list)
    if (!ContainsNoCase(s, "adf") && !ContainsNoCase(s, "feeder") && !ContainsNoCase(s, "automatic") &&
        !ContainsNoCase(s, "duplex"))
      return FOptions.SetString(option, s);
  return false;
}

// ---- capabilities

TW_UINT16 TSaneSource::Bool(TW_CAPABILITY& Cap, bool Value) {
  Cap.ConType = TWON_ONEVALUE;
  Cap.hContainer = TwainMakeOneValue(TWTY_BOOL, Value ? 1 : 0);
  return Cap.hContainer != nullptr ? Succeed() : Fail(TWCC_LOWMEMORY);
}

TW_UINT16 TSaneSource::Enumeration(TW_CAPABILITY& Cap, const std::vector<TW_UINT32>& Items,
                                   TW_UINT32 Current) {
  const auto at = std::find(Items.begin(), Items.end(), Current);
  const auto index = static_cast<TW_UINT32>(at == Items.end() ? 0 : at - Items.begin());
  Cap.ConType = TWON_ENUMERATION;
  Cap.hContainer = TwainMakeEnumeration(TWTY_UINT16, Items, index, index);
  return Cap.hContainer != nullptr ? Succeed() : Fail(TWCC_LOWMEMORY);
}

TW_UINT16 TSaneSource::ResolutionCapability(TW_CAPABILITY& Cap, bool X) {
  int option = FOptions.Find(X ? SANE_NAME_SCAN_X_RESOLUTION : SANE_NAME_SCAN_Y_RESOLUTION);
  if (!FOptions.Usable(option)) option = FOptions.Find(SANE_NAME_SCAN_RESOLUTION);
  double current = 0;
  if (!FOptions.GetNumber(option, current)) return Fail(TWCC_CAPUNSUPPORTED);
  const TW_UINT32 now = TwainFix32Bits(TwainToFix32(current));
  const std::vector<double> list = FOptions.WordList(option);
  if (!list.empty()) {
    std::vector<TW_UINT32> items;
    TW_UINT32 index = 0;
    for (double v : list) {
      if (v == current) index = static_cast<TW_UINT32>(items.size());
      items.push_back(TwainFix32Bits(TwainToFix32(v)));
    }
    Cap.ConType = TWON_ENUMERATION;
    Cap.hContainer = TwainMakeEnumeration(TWTY_FIX32, items, index, index);
  } else {
    double lo = current, hi = current, step = 0;
    FOptions.Range(option, lo, hi, step);
    Cap.ConType = TWON_RANGE;
    Cap.hContainer = TwainMakeRange(TWTY_FIX32, TwainFix32Bits(TwainToFix32(lo)),
                                    TwainFix32Bits(TwainToFix32(hi)),
                                    TwainFix32Bits(TwainToFix32(step > 0 ? step : 1)), now, now);
  }
  return Cap.hContainer != nullptr ? Succeed() : Fail(TWCC_LOWMEMORY);
}

TW_UINT16 TSaneSource::RangeCapability(TW_CAPABILITY& Cap, const char* Option) {
  const int option = FOptions.Find(Option);
  double current = 0, lo = 0, hi = 0, step = 0;
  if (!FOptions.GetNumber(option, current) || !FOptions.Range(option, lo, hi, step))
    return Fail(TWCC_CAPUNSUPPORTED);
  const TW_UINT32 now = TwainFix32Bits(TwainToFix32(current));
  Cap.ConType = TWON_RANGE;
  Cap.hContainer = TwainMakeRange(TWTY_FIX32, TwainFix32Bits(TwainToFix32(lo)),
                                  TwainFix32Bits(TwainToFix32(hi)),
                                  TwainFix32Bits(TwainToFix32(step > 0 ? step : 1)), now, now);
  return Cap.hContainer != nullptr ? Succeed() : Fail(TWCC_LOWMEMORY);
}

TW_UINT16 TSaneSource::ThresholdCapability(TW_CAPABILITY& Cap) {
  // The scanner's own scale is laid onto 0..255.
  const int option = FOptions.Find(SANE_NAME_THRESHOLD);
  double current = 0, lo = 0, hi = 0, step = 0;
  if (!FOptions.GetNumber(option, current) || !FOptions.Range(option, lo, hi, step) || hi <= lo)
    return Fail(TWCC_CAPUNSUPPORTED);
  const double value = (current - lo) * 255.0 / (hi - lo);
  const TW_UINT32 now = TwainFix32Bits(TwainToFix32(value));
  Cap.ConType = TWON_RANGE;
  Cap.hContainer = TwainMakeRange(TWTY_FIX32, 0, TwainFix32Bits(TwainToFix32(255)),
                                  TwainFix32Bits(TwainToFix32(1)), now, now);
  return Cap.hContainer != nullptr ? Succeed() : Fail(TWCC_LOWMEMORY);
}

TW_UINT16 TSaneSource::GetCapability(TW_CAPABILITY& Cap) {
  Cap.hContainer = nullptr;
  const bool feeder = SourceIndex("feeder") >= 0;
  std::string source;
  FOptions.GetString(FOptions.Find(SANE_NAME_SCAN_SOURCE), source);
  const bool onFeeder = feeder && (ContainsNoCase(source, "adf") || ContainsNoCase(source, "feeder") ||
                                   ContainsNoCase(source, "automatic"));
  switch (Cap.Cap) {
  case ICAP_UNITS: return Enumeration(Cap, {TWUN_INCHES}, TWUN_INCHES);
  case ICAP_PIXELFLAVOR:
    return Enumeration(Cap, {TWPF_CHOCOLATE, TWPF_VANILLA}, FChocolate ? TWPF_CHOCOLATE : TWPF_VANILLA);
  case ICAP_PLANARCHUNKY: return Enumeration(Cap, {TWPC_CHUNKY}, TWPC_CHUNKY);
  case ICAP_XFERMECH: return Enumeration(Cap, {TWSX_NATIVE, TWSX_MEMORY}, FXferMech);
  case ICAP_UNDEFINEDIMAGESIZE: return Bool(Cap, FUndefinedSize);
  case ICAP_PIXELTYPE: {
    const std::vector<TW_UINT16> types = PixelTypes();
    if (types.empty()) return Fail(TWCC_CAPUNSUPPORTED);
    return Enumeration(Cap, std::vector<TW_UINT32>(types.begin(), types.end()), CurrentPixelType());
  }
  case ICAP_XRESOLUTION: return ResolutionCapability(Cap, true);
  case ICAP_YRESOLUTION: return ResolutionCapability(Cap, false);
  case ICAP_BRIGHTNESS: return RangeCapability(Cap, SANE_NAME_BRIGHTNESS);
  case ICAP_CONTRAST: return RangeCapability(Cap, SANE_NAME_CONTRAST);
  case ICAP_THRESHOLD: return ThresholdCapability(Cap);
  case ICAP_PHYSICALWIDTH:
  case ICAP_PHYSICALHEIGHT: {
    const int option = FOptions.Find(Cap.Cap == ICAP_PHYSICALWIDTH ? SANE_NAME_SCAN_BR_X : SANE_NAME_SCAN_BR_Y);
    const SANE_Option_Descriptor* d = FOptions.Descriptor(option);
    double lo = 0, hi = 0, step = 0;
    if (d == nullptr || d->unit != SANE_UNIT_MM || !FOptions.Range(option, lo, hi, step))
      return Fail(TWCC_CAPUNSUPPORTED);
    Cap.ConType = TWON_ONEVALUE;
    Cap.hContainer = TwainMakeOneValue(TWTY_FIX32, TwainFix32Bits(TwainToFix32(hi / 25.4)));
    return Cap.hContainer != nullptr ? Succeed() : Fail(TWCC_LOWMEMORY);
  }
  case CAP_FEEDERENABLED:
  case CAP_FEEDERLOADED:
    return feeder ? Bool(Cap, onFeeder) : Fail(TWCC_CAPUNSUPPORTED);
  case CAP_AUTOFEED: return feeder ? Bool(Cap, FAutoFeed) : Fail(TWCC_CAPUNSUPPORTED);
  case CAP_PAPERDETECTABLE: return Bool(Cap, false);
  case CAP_DUPLEX: {
    Cap.ConType = TWON_ONEVALUE;
    Cap.hContainer = TwainMakeOneValue(TWTY_UINT16, SourceIndex("duplex") >= 0 ? 1 : 0);
    return Cap.hContainer != nullptr ? Succeed() : Fail(TWCC_LOWMEMORY);
  }
  case CAP_DUPLEXENABLED:
    return SourceIndex("duplex") >= 0 ? Bool(Cap, ContainsNoCase(source, "duplex"))
                                      : Fail(TWCC_CAPUNSUPPORTED);
  case CAP_INDICATORS: return Bool(Cap, FIndicators);
  default: return Fail(TWCC_CAPUNSUPPORTED);
  }
}

TW_UINT16 TSaneSource::SetCapability(TW_CAPABILITY& Cap) {
  TW_UINT32 item = 0;
  TW_UINT16 type = 0;
  if (!TwainCurrentItem(Cap, item, type)) return Fail(TWCC_BADVALUE);
  const double value = type == TWTY_FIX32 ? TwainFromFix32(TwainFix32FromBits(item))
                       : (type == TWTY_INT8 || type == TWTY_INT16 || type == TWTY_INT32)
                           ? static_cast<double>(static_cast<TW_INT32>(item))
                           : static_cast<double>(item);
  auto result = [this](bool ok) { return ok ? Succeed() : Fail(TWCC_BADVALUE); };
  switch (Cap.Cap) {
  case ICAP_UNITS: return result(value == TWUN_INCHES);
  case ICAP_PIXELFLAVOR:
    if (value != TWPF_CHOCOLATE && value != TWPF_VANILLA) return Fail(TWCC_BADVALUE);
    FChocolate = value == TWPF_CHOCOLATE;
    return Succeed();
  case ICAP_PLANARCHUNKY: return result(value == TWPC_CHUNKY);
  case ICAP_XFERMECH:
    if (value != TWSX_NATIVE && value != TWSX_MEMORY) return Fail(TWCC_BADVALUE);
    FXferMech = static_cast<TW_UINT16>(value);
    return Succeed();
  case ICAP_UNDEFINEDIMAGESIZE: FUndefinedSize = value != 0; return Succeed();
  case ICAP_PIXELTYPE: return result(SetPixelType(static_cast<TW_UINT16>(value)));
  case ICAP_XRESOLUTION:
  case ICAP_YRESOLUTION: {
    int option = FOptions.Find(Cap.Cap == ICAP_XRESOLUTION ? SANE_NAME_SCAN_X_RESOLUTION
                                                           : SANE_NAME_SCAN_Y_RESOLUTION);
    if (!FOptions.Usable(option)) option = FOptions.Find(SANE_NAME_SCAN_RESOLUTION);
    if (option < 0) return Fail(TWCC_CAPUNSUPPORTED);
    return result(FOptions.SetNumber(option, value));
  }
  case ICAP_BRIGHTNESS:
  case ICAP_CONTRAST: {
    const int option = FOptions.Find(Cap.Cap == ICAP_BRIGHTNESS ? SANE_NAME_BRIGHTNESS : SANE_NAME_CONTRAST);
    if (option < 0) return Fail(TWCC_CAPUNSUPPORTED);
    return result(FOptions.SetNumber(option, value));
  }
  case ICAP_THRESHOLD: {
    const int option = FOptions.Find(SANE_NAME_THRESHOLD);
    double lo = 0, hi = 0, step = 0;
    if (option < 0 || !FOptions.Range(option, lo, hi, step)) return Fail(TWCC_CAPUNSUPPORTED);
    return result(FOptions.SetNumber(option, lo + std::clamp(value, 0.0, 255.0) * (hi - lo) / 255.0));
  }
  case CAP_FEEDERENABLED:
    if (SourceIndex("feeder") < 0) return Fail(TWCC_CAPUNSUPPORTED);
    return result(SelectSource("feeder", value != 0));
  case CAP_AUTOFEED:
    if (SourceIndex("feeder") < 0) return Fail(TWCC_CAPUNSUPPORTED);
    FAutoFeed = value != 0;
    return Succeed();
  case CAP_DUPLEXENABLED:
    if (SourceIndex("duplex") < 0) return Fail(TWCC_CAPUNSUPPORTED);
    return result(SelectSource("duplex", value != 0));
  case CAP_INDICATORS: FIndicators = value != 0; return Succeed();
  case CAP_FEEDERLOADED:
  case CAP_PAPERDETECTABLE:
  case CAP_DUPLEX:
  case ICAP_PHYSICALWIDTH:
  case ICAP_PHYSICALHEIGHT: return Fail(TWCC_CAPBADOPERATION);
  default: return Fail(TWCC_CAPUNSUPPORTED);
  }
}

TW_UINT16 TSaneSource::Capability(TW_UINT16 MSG, TW_CAPABILITY& Cap) {
  // The options belong to the worker while it scans.
  if (Scanning()) return Fail(TWCC_SEQERROR);
  switch (MSG) {
  case MSG_GET:
  case MSG_GETCURRENT:
  case MSG_GETDEFAULT: return GetCapability(Cap);
  case MSG_SET: return FState == 4 ? SetCapability(Cap) : Fail(TWCC_SEQERROR);
  default: return Fail(TWCC_CAPBADOPERATION);
  }
}

TW_UINT16 TSaneSource::ImageLayout(TW_UINT16 MSG, TW_IMAGELAYOUT& Layout) {
  if (Scanning()) return Fail(TWCC_SEQERROR);
  const int edges[4] = {FOptions.Find(SANE_NAME_SCAN_TL_X), FOptions.Find(SANE_NAME_SCAN_TL_Y),
                        FOptions.Find(SANE_NAME_SCAN_BR_X), FOptions.Find(SANE_NAME_SCAN_BR_Y)};
  TW_FIX32* frame[4] = {&Layout.Frame.Left, &Layout.Frame.Top, &Layout.Frame.Right, &Layout.Frame.Bottom};
  if (std::any_of(std::begin(edges), std::end(edges), [](int i) { return i < 0; }))
    return Fail(TWCC_BADPROTOCOL);
  if (MSG == MSG_SET || MSG == MSG_RESET) {
    if (FState != 4) return Fail(TWCC_SEQERROR);
    bool ok = true;
    for (int i = 0; i < 4; ++i) {
      double inches = TwainFromFix32(*frame[i]);
      if (MSG == MSG_RESET) {
        double lo = 0, hi = 0, step = 0;
        FOptions.Range(edges[i], lo, hi, step);
        inches = (i < 2 ? lo : hi) / 25.4;
      }
      ok = FOptions.SetInches(edges[i], inches) && ok;
    }
    if (!ok) return Fail(TWCC_BADVALUE);
  } else if (MSG != MSG_GET && MSG != MSG_GETCURRENT && MSG != MSG_GETDEFAULT) {
    return Fail(TWCC_BADPROTOCOL);
  }
  for (int i = 0; i < 4; ++i) {
    double inches = 0;
    if (!FOptions.GetInches(edges[i], inches)) return Fail(TWCC_BADVALUE);
    *frame[i] = TwainToFix32(inches);
  }
  Layout.DocumentNumber = Layout.PageNumber = Layout.FrameNumber = 1;
  return Succeed();
}

// ---- enabling and the scan

TW_UINT16 TSaneSource::Enable(const TW_USERINTERFACE& UI, const std::string& Title) {
  if (FState != 4) return Fail(TWCC_SEQERROR);
  FShowUI = UI.ShowUI != 0;
  FProxy = static_cast<QObject*>(UI.hParent);
  FMessages.clear();
  FState = 5;
  if (FShowUI && qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    // A source's window needs a program with windows.
    FState = 4;
    return Fail(TWCC_OPERATIONERROR);
  }
  if (FShowUI) {
    QWidget* owner = nullptr;
    if (auto* proxy = qobject_cast<QWidget*>(FProxy.data()); proxy != nullptr && proxy->parentWidget() != nullptr)
      owner = proxy->parentWidget()->window();
    FDialog = MakeSourceDialog(*this, owner, Title);
    if (UI.ModalUI != 0) FDialog->setWindowModality(Qt::ApplicationModal);
    FDialog->show();
  } else {
    StartScan();
  }
  return Succeed();
}

TW_UINT16 TSaneSource::Disable() {
  if (FState != 5) return Fail(TWCC_SEQERROR);
  CancelScan();
  CloseWindows();
  FMessages.clear();
  FPage.reset();
  FState = 4;
  return Succeed();
}

void TSaneSource::StartScan() {
  if (Scanning() || FState != 5) return;
  FJob = std::make_unique<TScanJob>();
  FJob->Handle = FHandle;
  FJob->Chocolate = FChocolate;
  FJob->PixelLimit = TwainPixelLimit();
  FJob->DpiX = FJob->DpiY = FOptions.CurrentDpi();
  double y = 0;
  if (FOptions.Usable(FOptions.Find(SANE_NAME_SCAN_Y_RESOLUTION)) &&
      FOptions.GetNumber(FOptions.Find(SANE_NAME_SCAN_Y_RESOLUTION), y) && y > 0)
    FJob->DpiY = y;
  // Without widgets in the program there is no progress window either.
  if (FIndicators && !FShowUI && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
    auto* progress = new QProgressDialog(QStringLiteral("Scanning..."), QStringLiteral("Cancel"), 0, 100);
    progress->setObjectName(TwainProgressName);
    progress->setMinimumDuration(500);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    QObject::connect(progress, &QProgressDialog::canceled, FNotifier.get(), [this] {
      if (FJob) CancelPass(*FJob);
    });
    FProgress = progress;
  }
  auto* timer = new QTimer(FNotifier.get());
  timer->setObjectName(QStringLiteral("ScanProgressTimer"));
  QObject::connect(timer, &QTimer::timeout, FNotifier.get(), [this] {
    if (FProgress) FProgress->setValue(ScanPercent());
    if (FDialog) SourceDialogProgress(FDialog, ScanPercent());
  });
  timer->start(100);
  TScanJob* job = FJob.get();
  QObject* notifier = FNotifier.get();
  FWorker = std::thread([this, job, notifier] {
    RunScan(*job);
    QMetaObject::invokeMethod(notifier, [this] { ScanFinished(); }, Qt::QueuedConnection);
  });
}

void TSaneSource::ScanFinished() {
  if (!FJob) return;
  JoinWorker();
  for (QTimer* t : FNotifier->findChildren<QTimer*>()) delete t;
  delete FProgress.data();
  FScanStatus = FJob->Status;
  FPage = std::make_unique<TPage>(std::move(FJob->Page));
  FJob.reset();
  if (FScanStatus != SANE_STATUS_GOOD) FPage.reset();
  if (FShowUI && FScanStatus != SANE_STATUS_GOOD) {
    // The source's own window tells the user and lets him try again.
    if (FDialog)
      SourceDialogScanEnded(FDialog, FScanStatus == SANE_STATUS_CANCELLED
                                         ? QString()
                                         : QString::fromUtf8(sane_strstatus(FScanStatus)));
    return;
  }
  if (FDialog) SourceDialogScanEnded(FDialog, QString());
  FNextRow = 0;
  Post(MSG_XFERREADY);
}

TW_UINT16 TSaneSource::ProcessEvent(TW_EVENT& Event) {
  Event.TWMessage = MSG_NULL;
  if (FState < 5) return Fail(TWCC_SEQERROR);
  const auto* e = static_cast<const QEvent*>(Event.pEvent);
  if (e == nullptr || e->type() != MessageEventType() || FMessages.empty()) {
    FCondition = TWCC_SUCCESS;
    return TWRC_NOTDSEVENT;
  }
  Event.TWMessage = FMessages.front();
  FMessages.pop_front();
  FCondition = TWCC_SUCCESS;
  return TWRC_DSEVENT;
}

// ---- transfers

TW_UINT16 TSaneSource::ImageInfo(TW_IMAGEINFO& Info) {
  if (FState < 6) return Fail(TWCC_SEQERROR);
  if (!FPage) return Fail(ConditionOfStatus(FScanStatus));
  Info = TW_IMAGEINFO();
  Info.XResolution = TwainToFix32(FPage->DpiX);
  Info.YResolution = TwainToFix32(FPage->DpiY);
  Info.ImageWidth = FPage->Width;
  // A page of undefined size is told as such when the application asked.
  Info.ImageLength = FUndefinedSize && FPage->UnknownLength ? -1 : FPage->Height;
  Info.BitsPerPixel = static_cast<TW_INT16>(FPage->BitsPerPixel);
  Info.SamplesPerPixel = FPage->BitsPerPixel == 24 ? 3 : 1;
  for (int i = 0; i < Info.SamplesPerPixel; ++i)
    Info.BitsPerSample[i] = static_cast<TW_INT16>(FPage->BitsPerPixel == 1 ? 1 : 8);
  Info.PixelType = static_cast<TW_INT16>(FPage->BitsPerPixel == 1 ? TWPT_BW
                                         : FPage->BitsPerPixel == 8 ? TWPT_GRAY
                                                                    : TWPT_RGB);
  Info.Planar = 0;
  Info.Compression = TWCP_NONE;
  return Succeed();
}

TW_UINT16 TSaneSource::SetupMemXfer(TW_SETUPMEMXFER& Setup) {
  const TW_UINT32 row = FPage ? static_cast<TW_UINT32>(FPage->BytesPerRow) : 1;
  Setup.MinBufSize = row;
  Setup.MaxBufSize = std::max<TW_UINT32>(row, 1u << 20);
  Setup.Preferred = std::max<TW_UINT32>(row, (64u * 1024u) / row * row);
  return Succeed();
}

TW_UINT16 TSaneSource::MemXfer(TW_IMAGEMEMXFER& Xfer) {
  if (FState < 6) return Fail(TWCC_SEQERROR);
  if (!FPage) {
    if (FScanStatus == SANE_STATUS_CANCELLED) return TWRC_CANCEL;
    return Fail(ConditionOfStatus(FScanStatus));
  }
  const TPage& page = *FPage;
  const auto bpr = static_cast<TW_UINT32>(page.BytesPerRow);
  if (Xfer.Memory.TheMem == nullptr || Xfer.Memory.Length < bpr) return Fail(TWCC_BADVALUE);
  const int rows = std::min<int>(static_cast<int>(Xfer.Memory.Length / bpr), page.Height - FNextRow);
  std::memcpy(Xfer.Memory.TheMem, page.Rows.data() + static_cast<std::size_t>(FNextRow) * bpr,
              static_cast<std::size_t>(rows) * bpr);
  Xfer.Compression = TWCP_NONE;
  Xfer.BytesPerRow = bpr;
  Xfer.Columns = static_cast<TW_UINT32>(page.Width);
  Xfer.Rows = static_cast<TW_UINT32>(rows);
  Xfer.XOffset = 0;
  Xfer.YOffset = static_cast<TW_UINT32>(FNextRow);
  Xfer.BytesWritten = static_cast<TW_UINT32>(rows) * bpr;
  FNextRow += rows;
  FState = 7;
  FCondition = TWCC_SUCCESS;
  return FNextRow >= page.Height ? TWRC_XFERDONE : TWRC_SUCCESS;
}

TW_UINT16 TSaneSource::NativeXfer(TW_HANDLE* Handle) {
  if (FState != 6 || Handle == nullptr) return Fail(TWCC_SEQERROR);
  if (!FPage) {
    if (FScanStatus == SANE_STATUS_CANCELLED) return TWRC_CANCEL;
    return Fail(ConditionOfStatus(FScanStatus));
  }
  // A packed device-independent bitmap: header, palette, rows bottom-up.
  const TPage& page = *FPage;
  const int colours = page.BitsPerPixel == 1 ? 2 : page.BitsPerPixel == 8 ? 256 : 0;
  const std::size_t stride = (static_cast<std::size_t>(page.Width) * page.BitsPerPixel + 31) / 32 * 4;
  const std::size_t header = 40 + 4 * static_cast<std::size_t>(colours);
  auto* dib = static_cast<std::uint8_t*>(TwainAlloc(header + stride * static_cast<std::size_t>(page.Height)));
  if (dib == nullptr) return Fail(TWCC_LOWMEMORY);
  auto put32 = [dib](std::size_t at, std::uint32_t v) { std::memcpy(dib + at, &v, 4); };
  put32(0, 40);
  put32(4, static_cast<std::uint32_t>(page.Width));
  put32(8, static_cast<std::uint32_t>(page.Height));
  dib[12] = 1;
  dib[14] = static_cast<std::uint8_t>(page.BitsPerPixel);
  put32(20, static_cast<std::uint32_t>(stride * static_cast<std::size_t>(page.Height)));
  const auto perMetre = [](double dpi) { return static_cast<std::uint32_t>(std::lround(dpi / 0.0254)); };
  put32(24, perMetre(page.DpiX));
  put32(28, perMetre(page.DpiY));
  put32(32, static_cast<std::uint32_t>(colours));
  for (int i = 0; i < colours; ++i) {
    // The bits of a 1-bit page follow its flavour; its palette stays black, white.
    const auto v = static_cast<std::uint8_t>(colours == 2 ? i * 255 : i);
    std::memset(dib + 40 + 4 * i, v, 3);
  }
  for (int y = 0; y < page.Height; ++y) {
    const std::uint8_t* src = page.Rows.data() + static_cast<std::size_t>(y) * page.BytesPerRow;
    std::uint8_t* dst = dib + header + static_cast<std::size_t>(page.Height - 1 - y) * stride;
    if (page.BitsPerPixel == 24) {
      for (int x = 0; x < page.Width; ++x) {
        dst[3 * x] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x];
      }
    } else {
      std::memcpy(dst, src, static_cast<std::size_t>(page.BytesPerRow));
    }
  }
  *Handle = dib;
  FNextRow = page.Height;
  FState = 7;
  FCondition = TWCC_SUCCESS;
  return TWRC_XFERDONE;
}

TW_UINT16 TSaneSource::PendingXfers(TW_UINT16 MSG, TW_PENDINGXFERS& Pending) {
  Pending.Count = 0;
  switch (MSG) {
  case MSG_GET:
    Pending.Count = FState >= 6 ? 1 : 0;
    return Succeed();
  case MSG_ENDXFER:
    if (FState != 6 && FState != 7) return Fail(TWCC_SEQERROR);
    break;
  case MSG_RESET:
    if (FState != 6) return Fail(TWCC_SEQERROR);
    break;
  default: return Fail(TWCC_BADPROTOCOL);
  }
  // One page per scan: nothing more is pending.
  FPage.reset();
  FNextRow = 0;
  FState = 5;
  return Succeed();
}

} // namespace platform::twainsane
