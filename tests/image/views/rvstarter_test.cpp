#include "image/views/rvstarter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include "image/io/png/rvpng.h"
#include "image/io/rastrumio.h"
#include "image/io/rvioparams.h"
#include "image/io/rvmio.h"
#include "image/views/rvmview.h"
#include "image/views/rvthumbfit.h"
#include "mviewtestutil.h"
#include "support/filesizelimit.h"
#include "support/gatedreads.h"
#include "support/tempfolder.h"

namespace {

using namespace rv;
using namespace mviewtest;

// The fill colour of file i, 0x00RRGGBB.
std::uint32_t FillOf(int I) { return 0x102030u + 0x0A0B0Cu * static_cast<std::uint32_t>(I); }

class TLoader : public testing::Test {
protected:
  std::string Name(int I) const { return Dir.File("p" + std::to_string(I) + ".bmp"); }
  void MakeFiles(int Count, int W = 60, int H = 40) {
    for (int i = 0; i < Count; ++i) SaveMarked(Name(i), W, H, FillOf(i));
  }
  // A strip of Count images named after the files, nothing selected.
  void Strip(TRastrumMView& View, int Count) {
    Shape(View, 170, 60, 0);
    for (int i = 0; i < Count; ++i) View.SetImageFileName(View.AppendImage(), Name(i));
    View.DeselectNU();
  }
  // A strip of 30 thumbnails with image 1 selected, painted once: the
  // other cells on screen are asked for.
  void PaintedStrip(TRastrumMView& View) {
    MakeFiles(30);
    Strip(View, 30);
    View.StoreType = rvtThumb;
    View.SetSelectedImage(1);
    Grab(View);
  }
  // The middle pixel of the stored picture of image Index.
  static std::uint32_t StoredFill(TRastrumMView& View, int Index) {
    platform::TBitmap* b = View.GetImageBitmap(Index);
    if (b == nullptr) return 0xFFFFFFFF;
    const std::uint8_t* p = b->ScanLine(b->Height() / 2) + 3 * (b->Width() / 2);
    const std::uint32_t rgb = (static_cast<std::uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
    View.ReleaseImageBitmap(b);
    return rgb;
  }
  testing_support::TTempFolder Dir;
};

TEST_F(TLoader, VisibleCellsLoadInTheBackground) {
  TRastrumMView view;
  PaintedStrip(view);
  // The current image is read by the workers as the other visible ones
  // are: none at once, and its bitmap is lent out when its read lands.
  EXPECT_FALSE(view.ImageHasPixels(0) || view.ImageHasPixels(1) || view.ImageHasPixels(2));
  EXPECT_EQ(view.GetBitmap(), nullptr);
  ASSERT_TRUE(WaitFor([&] { return view.ImageHasPixels(0) && view.ImageHasPixels(1) && view.ImageHasPixels(2); }));
  ASSERT_NE(view.GetBitmap(), nullptr);
  EXPECT_EQ(view.GetBitmap()->Width(), 50);
  // 170 pixels show cells 0 to 3 (the fourth partly); none beyond.
  EXPECT_TRUE(WaitFor([&] { return view.ImageHasPixels(3); }));
  for (int i = 4; i < 30; ++i) EXPECT_FALSE(view.ImageHasPixels(i)) << i;
  EXPECT_EQ(StoredFill(view, 2), FillOf(2));
  EXPECT_EQ(view.ImageFullWidth(2), 60);
  EXPECT_EQ(view.GetMIO()->GetParams(2)->FileType, rvftBMP);
  // Thumbnails: 60 x 40 fitted into 50 x 40.
  platform::TBitmap* b = view.GetImageBitmap(0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Width(), 50);
  EXPECT_EQ(b->Height(), 33);
  view.ReleaseImageBitmap(b);
}

TEST_F(TLoader, CellsTheStoreCannotTakeWaitAndFillOnceItCan) {
  MakeFiles(4);
  TRastrumMView view;
  Strip(view, 4);
  {
    // The store's file holds one 64 KB block and cannot grow.
    testing_support::TFileSizeLimit limit(65536);
    Grab(view);
    ASSERT_TRUE(WaitFor([&] { return view.LoadRunningCount() == 0 && view.LoadQueueCount() == 0; }));
    QCoreApplication::processEvents();
    int stored = 0;
    for (int i = 0; i < 4; ++i) {
      EXPECT_FALSE(view.ImageLoadFailed(i)) << i; // readable files, not marked unreadable
      if (!view.ImageHasPixels(i)) continue;
      ++stored;
      EXPECT_EQ(StoredFill(view, i), FillOf(i)) << i; // no cell without pixels or with another's
    }
    EXPECT_EQ(stored, 1);
  }
  ASSERT_TRUE(WaitFor([&] {
    Grab(view);
    for (int i = 0; i < 4; ++i)
      if (!view.ImageHasPixels(i)) return false;
    return true;
  }));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(StoredFill(view, i), FillOf(i)) << i;
}

TEST_F(TLoader, ResultsFindTheirImageWhateverChangedMeanwhile) {
  MakeFiles(6);
  TRastrumMView view;
  Strip(view, 4);
  Grab(view); // images 0..3 queued or loading
  // Before any result is delivered (they come as queued calls): the list
  // moves under them, one image goes and one is renamed.
  view.InsertImage(0);
  view.SetImageFileName(0, Name(4));
  view.DeleteImage(2);           // was image 1
  view.SetImageFileName(3, Name(5)); // was image 3: its pending result is stale
  view.DeselectNU();
  ASSERT_TRUE(WaitFor([&] { return view.LoadRunningCount() == 0 && view.LoadQueueCount() == 0; }));
  QCoreApplication::processEvents();
  EXPECT_FALSE(view.ImageHasPixels(3)); // the stale result was dropped
  const std::uint32_t expected[] = {FillOf(4), FillOf(0), FillOf(2), FillOf(5)};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(StoredFill(view, i), expected[i]) << i;
}

TEST_F(TLoader, UnreadableFilesEndAsMarkedCellsAndNeverBlockThePool) {
  MakeFiles(2);
  TRastrumMView view;
  Shape(view, 500, 60, 0);
  view.ThreadPoolSize = 2;
  // Six bad files before two good ones, all visible.
  const char* bad[] = {"BM short", "", "\xFF\xD8\xFF\xE0 not a jpeg", "GIF89a", "\x89PNG\r\n\x1A\n", "II*\0"};
  const char* ext[] = {".bmp", ".bmp", ".jpg", ".gif", ".png", ".tif"};
  for (int i = 0; i < 6; ++i) {
    const std::string name = Dir.File("bad" + std::to_string(i) + ext[i]);
    std::ofstream(name, std::ios::binary) << bad[i];
    view.SetImageFileName(view.AppendImage(), name);
  }
  view.SetImageFileName(view.AppendImage(), Dir.File("gone.png"));
  for (int i = 0; i < 2; ++i) view.SetImageFileName(view.AppendImage(), Name(i));
  view.DeselectNU();
  Grab(view);
  ASSERT_TRUE(WaitFor([&] { return view.ImageHasPixels(7) && view.ImageHasPixels(8); }));
  ASSERT_TRUE(WaitFor([&] {
    for (int i = 0; i < 7; ++i)
      if (!view.ImageLoadFailed(i)) return false;
    return true;
  }));
  // Painting again asks for nothing more.
  Grab(view);
  EXPECT_EQ(view.LoadQueueCount(), 0);
  EXPECT_EQ(view.LoadRunningCount(), 0);
}

TEST_F(TLoader, RequestsForImagesScrolledAwayAreDropped) {
  MakeFiles(40);
  TRastrumMView view;
  Strip(view, 40);
  view.ThreadPoolSize = 0; // requests wait: no worker may start
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(view.RequestLoad(i));
  EXPECT_EQ(view.LoadQueueCount(), 4);
  view.StopLoaders();
  EXPECT_EQ(view.LoadQueueCount(), 0);
  // Queue the four visible cells, then scroll far right: the next request
  // prunes them before a worker reaches them (a pool of 1 runs one at most).
  view.ThreadPoolSize = 1;
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(view.RequestLoad(i));
  view.SetViewX(view.MaxViewX());
  EXPECT_TRUE(view.RequestLoad(39));
  EXPECT_LE(view.LoadQueueCount() + view.LoadRunningCount(), 2);
  ASSERT_TRUE(WaitFor([&] { return view.ImageHasPixels(39); }));
  EXPECT_FALSE(view.ImageHasPixels(3));
  EXPECT_FALSE(view.ImageHasPixels(2));
}

TEST_F(TLoader, ViewGoesAwayWhileItsJobsRun) {
  MakeFiles(8, 1500, 1000);
  for (int round = 0; round < 3; ++round) {
    auto view = std::make_unique<TRastrumMView>();
    Shape(*view, 600, 60, 0);
    view->ThreadPoolSize = 4;
    for (int i = 0; i < 8; ++i) view->SetImageFileName(view->AppendImage(), Name(i));
    view->DeselectNU();
    Grab(*view);
    if (round == 1) WaitFor([&] { return view->LoadRunningCount() > 0; }, 2000);
    if (round == 2) view->Clear();
    view.reset(); // joins the workers; their results die with the view
  }
  QCoreApplication::processEvents();
}

TEST_F(TLoader, JpegThumbnailsDecodeAtTheSmallestCoveringScale) {
  TRastrumIO io;
  MarkedPicture(*io.RvBitmap(), 800, 600, 0x808080, 40);
  io.SaveToFile(Dir.File("big.jpg"));
  TRvLoadRequest request;
  request.FileName = Dir.File("big.jpg");
  request.Thumb = true;
  request.ThumbWidth = 100;
  request.ThumbHeight = 100;
  TRastrumIO job;
  const std::shared_ptr<TRvLoadResult> result = RvRunLoadJob(request, job);
  ASSERT_FALSE(result->Failed);
  // 1/8 would give 75 rows, fewer than the cell's 100: 1/4 it is.
  EXPECT_EQ(result->Params->JpegScaleUsed, 4);
  EXPECT_EQ(result->FullWidth, 200);
  EXPECT_EQ(result->Bitmap->Width(), 100);
  EXPECT_EQ(result->Bitmap->Height(), 75);
  request.FileName = Dir.File("none.jpg");
  const std::shared_ptr<TRvLoadResult> missing = RvRunLoadJob(request, job);
  EXPECT_TRUE(missing->Failed);
}

// The starter cancels a job by its flag and the job's component's abort
// flag; the component clears the latter as its load starts, which lost a
// cancel that came between the job's start and the reader's.
TEST_F(TLoader, ACancelBeforeTheReaderStartsIsKept) {
  TRastrumIO io;
  MarkedPicture(*io.RvBitmap(), 800, 600, 0x808080, 40);
  io.SaveToFile(Dir.File("big.jpg"));
  io.SaveToFile(Dir.File("big.png"));
  for (const char* name : {"big.jpg", "big.png"}) {
    SCOPED_TRACE(name);
    TRvLoadRequest request;
    request.FileName = Dir.File(name);
    request.Thumb = true;
    TRastrumIO job;
    std::atomic<bool> cancelled{true};
    job.Aborting = true;
    const std::shared_ptr<TRvLoadResult> result = RvRunLoadJob(request, job, &cancelled);
    EXPECT_TRUE(result->Failed);
    EXPECT_EQ(result->Params->UnscaledWidth, 0) << "the reader ran";
    // Uncancelled, the same job loads, its progress passing the flag by.
    TRastrumIO again;
    cancelled = false;
    const std::shared_ptr<TRvLoadResult> loaded = RvRunLoadJob(request, again, &cancelled);
    ASSERT_FALSE(loaded->Failed);
    EXPECT_EQ(loaded->Bitmap->Width(), 100);
  }
}

TEST_F(TLoader, PngThumbnailsReducedWhileDecodingLookAsBefore) {
  // A photo-like picture: smooth gradients, a sharp edge and fine texture.
  auto make = [&](const std::string& Name, bool Interlaced, bool Alpha) {
    TRastrumIO io;
    TRvBitmap& b = *io.RvBitmap();
    b.Allocate(1203, 905, rvpf24Bit);
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) {
        std::uint8_t* p = b.Scanline(y) + 3 * x;
        p[0] = static_cast<std::uint8_t>(x * 255 / 1203);
        p[1] = static_cast<std::uint8_t>(x > 600 ? 220 : 30);
        p[2] = static_cast<std::uint8_t>((y * 200 / 905) + ((x * 7 + y * 13) % 31));
      }
    TRvMask mask;
    mask.Allocate(1203, 905, 8);
    for (int y = 0; y < 905; ++y) std::memset(mask.ScanLine(y), y < 400 ? 255 : 90, 1203);
    mask.SetFull(false);
    io.Params().PngInterlaced = Interlaced;
    io.Params().SamplesPerPixel = 3;
    io.Params().BitsPerSample = 8;
    platform::TMemoryStream out;
    TRvAbortFlag aborting{false};
    TRvProgressRec progress;
    progress.Aborting = &aborting;
    PngWriteStream(out, b, io.Params(), Alpha ? &mask : nullptr, progress);
    std::ofstream(Dir.File(Name), std::ios::binary)
        .write(reinterpret_cast<const char*>(out.Memory()), static_cast<std::streamsize>(out.Size()));
  };
  make("plain.png", false, false);
  make("alpha.png", false, true);
  make("interlaced.png", true, false);
  for (const char* name : {"plain.png", "alpha.png", "interlaced.png"}) {
    SCOPED_TRACE(name);
    TRvLoadRequest request;
    request.FileName = Dir.File(name);
    request.Thumb = true;
    request.ThumbWidth = 120;
    request.ThumbHeight = 100;
    request.Filter = rfFastLinear;
    TRastrumIO job;
    const std::shared_ptr<TRvLoadResult> result = RvRunLoadJob(request, job);
    ASSERT_FALSE(result->Failed);
    // The old way: the whole picture, then the resample to the cell.
    TRastrumIO whole;
    whole.LoadFromFile(Dir.File(name));
    ASSERT_EQ(whole.RvBitmap()->Width(), 1203);
    const std::unique_ptr<TRvBitmap> before = RvReduceToThumb(whole.RvBitmap(), 120, 100, rfFastLinear);
    ASSERT_TRUE(before);
    ASSERT_EQ(result->Bitmap->Width(), before->Width());
    ASSERT_EQ(result->Bitmap->Height(), before->Height());
    double sum = 0;
    for (int y = 0; y < before->Height(); ++y)
      for (int i = 0; i < 3 * before->Width(); ++i)
        sum += std::abs(result->Bitmap->Scanline(y)[i] - before->Scanline(y)[i]);
    EXPECT_LT(sum / (3.0 * before->Width() * before->Height()), 2.0);
    // Non-interlaced files come reduced from the reader: 1203 / 9 columns.
    EXPECT_EQ(result->Params->Width, std::string(name) == "interlaced.png" ? 1203 : 134);
  }
}

// A read that has ended waits for the user-interface thread to take it: a
// paint meanwhile does not ask for the same file again.
TEST_F(TLoader, AReadWaitingToBeTakenIsNotAskedForAgain) {
  TRastrumMView view;
  PaintedStrip(view);
  // The paint asked for the cells (small files: they may be read already).
  // No event is served: the results stay with the loader.
  QElapsedTimer timer;
  timer.start();
  while (view.LoadQueueCount() + view.LoadRunningCount() > 0 && timer.elapsed() < 10000) QThread::msleep(2);
  ASSERT_EQ(view.LoadQueueCount() + view.LoadRunningCount(), 0);
  EXPECT_FALSE(view.ImageHasPixels(0));
  Grab(view);
  EXPECT_EQ(view.LoadQueueCount() + view.LoadRunningCount(), 0);
  EXPECT_TRUE(WaitFor([&] { return view.ImageHasPixels(0) && view.ImageHasPixels(2) && view.ImageHasPixels(3); }));

  // The loader's own answer: by key and file.
  TRvStarter starter({});
  starter.SetPoolSize(1);
  starter.Enqueue({7, Name(0)});
  ASSERT_TRUE(WaitFor([&] { return starter.QueueCount() + starter.RunningCount() == 0; }));
  EXPECT_FALSE(starter.IsPending(7));
  EXPECT_TRUE(starter.HasResult(7, Name(0)));
  EXPECT_FALSE(starter.HasResult(7, Name(1)));
  EXPECT_FALSE(starter.HasResult(8, Name(0)));
  int rest = 0;
  EXPECT_EQ(starter.TakeResults(8, rest).size(), 1u);
  EXPECT_FALSE(starter.HasResult(7, Name(0)));
}

// Files slow to read (held at the gate) selected, painted and changed: the
// workers read them all, the window's thread none, and its event loop runs
// meanwhile. Each picture lands in its own image, and a read asked for
// before a change of the file never lands.
TEST_F(TLoader, TheWindowReadsNoFileItsWorkersReadSlowly) {
  testsupport::TGatedReads& Reads = testsupport::TGatedReads::Get();
  Reads.Reset();
  auto Gated = [&](int I) { return Dir.File("g" + std::to_string(I) + ".gate"); };
  TRastrumMView view;
  Shape(view, 170, 60, 0);
  view.SetEnableMultiSelect(true);
  for (int i = 0; i < 3; ++i) {
    testsupport::TGatedReads::Write(Gated(i), FillOf(i));
    view.SetImageFileName(view.AppendImage(), Gated(i));
  }
  view.DeselectNU();
  Reads.Close();
  // As a click selects, then as a folder view selects; then painted.
  view.SetSelectedImage(0);
  view.BeginSelectImages();
  view.SetSelectedImage(1);
  view.EndSelectImages();
  Grab(view);
  bool fired = false;
  QTimer::singleShot(0, [&] { fired = true; });
  ASSERT_TRUE(WaitFor([&] { return fired && Reads.Held == 3; }, 5000));
  EXPECT_EQ(view.GetBitmap(), nullptr);
  Reads.Open();
  ASSERT_TRUE(WaitFor([&] { return view.GetBitmap() != nullptr && view.ImageHasPixels(0) && view.ImageHasPixels(2); }));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(StoredFill(view, i), FillOf(i)) << i;
  const std::uint8_t* current = view.GetBitmap()->ScanLine(10) + 3 * 10;
  EXPECT_EQ((std::uint32_t{current[2]} << 16) | (current[1] << 8) | current[0], FillOf(1));

  // Changed twice while held: the picture it had stays until the second
  // change's read lands; the first change's read is dropped.
  Reads.Close();
  testsupport::TGatedReads::Write(Gated(2), 0x00FF00);
  view.RereadImage(2);
  Grab(view);
  ASSERT_TRUE(WaitFor([&] { return Reads.Held == 1; }, 5000));
  testsupport::TGatedReads::Write(Gated(2), 0x0000FF);
  view.RereadImage(2);
  Grab(view);
  EXPECT_EQ(StoredFill(view, 2), FillOf(2));
  Reads.Open();
  ASSERT_TRUE(WaitFor([&] { return StoredFill(view, 2) != FillOf(2); }, 5000));
  EXPECT_EQ(StoredFill(view, 2), 0x0000FFu);
  EXPECT_EQ(Reads.OnWindow, 0);
  EXPECT_EQ(Reads.Elsewhere, 5);
}

TEST(Starter, QueueOperationsUnderLoad) {
  std::atomic<int> announced{0};
  TRvStarter starter([&] { ++announced; });
  int delivered = 0;
  auto take = [&] {
    int rest = 0;
    delivered += static_cast<int>(starter.TakeResults(2, rest).size());
    return rest;
  };
  starter.SetPoolSize(0);
  for (std::uint64_t k = 1; k <= 6; ++k) starter.Enqueue({k, "/nonexistent/" + std::to_string(k) + ".png"});
  EXPECT_TRUE(starter.IsPending(3));
  starter.Prune([](std::uint64_t Key) { return Key % 2 == 0; }, true);
  EXPECT_EQ(starter.QueueCount(), 3);
  EXPECT_FALSE(starter.IsPending(3));
  starter.SetPoolSize(2);
  ASSERT_TRUE(WaitFor([&] { return starter.QueueCount() + starter.RunningCount() == 0; }));
  EXPECT_GE(announced, 1);
  EXPECT_EQ(take(), 1); // two taken, one waits
  EXPECT_EQ(take(), 0);
  EXPECT_EQ(delivered, 3);
  starter.StopLoaders();
  starter.Terminate();
  starter.Enqueue({9, "x.png"}); // after the end: ignored
  EXPECT_EQ(starter.QueueCount(), 0);
}

} // namespace
