// Reading a folder for the folder list off the user-interface thread: names
// first, sorted as the shell sorts them, then the details (stat, type, column
// texts) handed over in sorted batches, so that the first screen comes at
// once and a folder of tens of thousands of files never blocks the loop.
#pragma once

#include "shell/sxdictionary.h"
#include "shell/sxnamespace.h"
#include "shell/sxshellitems.h"

#include <QtCore/QLocale>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QObject;

namespace sx {

// The folder list's texts and settings its rows are made with.
struct TSxListTexts {
  std::string FileFolder = "File Folder";
  std::string File = "File";
  QLocale Locale;
  QString DateFormat;  // short date, blank, short time
  TSxListTexts();
};

// What TypeNames holds per extension: the MIME database's description
// (empty when it has none) and the type's name, for its icon.
struct TSxTypeEntry {
  std::string Description;
  QString MimeName;
};

// TypeNames: 250 buckets from extension (with its dot, any case) to a
// TSxTypeEntry it owns. Lookups fill it from the MIME database on first use;
// any thread may look up.
std::unique_ptr<TSxDictionary> SxMakeTypeNames();
const TSxTypeEntry& SxTypeEntry(TSxDictionary& typeNames, const std::string& extension);
// The extension of a path's file name, from its last "."; empty without one.
std::string SxExtensionOf(const std::string& path);
// The type column of a file: the shell's type name, else the MIME
// database's, else "QQZZ File" for ".qqzz", "File" without an extension.
std::string SxFileTypeText(TSxDictionary& typeNames, const TSxListTexts& texts, const TSxShellItem& item);
// "0KB" for an empty file, "1KB" up to 1,024 bytes, "1,024KB" for 1 MB.
std::string SxSizeText(std::int64_t size);
std::string SxDateText(const TSxListTexts& texts, double dateTime);
// Fills the column texts of an item whose details are read: size, type,
// modified, attributes; for the trash, original location, date deleted,
// type and size.
void SxFillSubItems(TSxShellItem& item, TSxDictionary& typeNames, const TSxListTexts& texts, bool trash);

using TSxItemBatch = std::vector<std::unique_ptr<TSxShellItem>>;

struct TSxLoadRequest {
  TSxItemIDList Folder;
  TSxCustomShellController* Controller = nullptr;
  TSxDictionary* TypeNames = nullptr;
  TSxListTexts Texts;
  bool Hidden = false;
  bool Trash = false;        // the trash's own columns
  bool Descending = false;   // hand the items out from the end of the order
};

class TSxFolderLoader {
public:
  TSxFolderLoader();
  ~TSxFolderLoader();
  TSxFolderLoader(const TSxFolderLoader&) = delete;
  TSxFolderLoader& operator=(const TSxFolderLoader&) = delete;

  // Reads the folder on a thread of its own; OnBatch receives its items on
  // this thread, in the shell's order (reversed when Descending), the last
  // call with Last set. A new Start or a Cancel drops what the previous run
  // still had to say.
  void Start(TSxLoadRequest request);
  void Cancel();
  bool Busy() const { return FBusy; }

  std::function<void(TSxItemBatch& Batch, bool Last)> OnBatch;
  // The first batch fills a screen; the rest come at most this many at a
  // time, or every BatchMs.
  int FirstBatch = 96;
  int BatchSize = 2048;
  int BatchMs = 40;

  // The whole folder at once, on the calling thread (tests, small folders).
  static TSxItemBatch ReadAll(const TSxLoadRequest& request, const std::atomic<bool>* cancel = nullptr,
                              const std::function<void(TSxItemBatch&, bool)>& deliver = {},
                              int firstBatch = 0, int batchSize = 0, int batchMs = 0);

private:
  void Deliver(std::uint64_t generation, std::shared_ptr<TSxItemBatch> batch, bool last);

  QObject* FContext;
  std::thread FThread;
  std::shared_ptr<std::atomic<bool>> FCancel;
  std::uint64_t FGeneration = 0;
  bool FBusy = false;
};

} // namespace sx
