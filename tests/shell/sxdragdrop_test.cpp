#include "shell/sxdragdrop.h"
#include "shell/sxnamespace.h"
#include "shelltestenv.h"

#include <gtest/gtest.h>

#include <QtCore/QUrl>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

using namespace sx;
using shelltest::TPrivateHome;

namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& B, std::size_t At) {
  return B[At] | B[At + 1] << 8 | B[At + 2] << 16 | static_cast<std::uint32_t>(B[At + 3]) << 24;
}

TFormatEtc Fmt(std::uint16_t Format, std::uint32_t Tymed = TYMED_HGLOBAL, std::uint32_t Aspect = DVASPECT_CONTENT) {
  return TFormatEtc{Format, nullptr, Aspect, -1, Tymed};
}

TSxItemIDList ParentOf(const TSxItemIDList& List) {
  TSxItemIDList Parent = ILClone(List);
  ILRemoveLastID(Parent);
  return Parent;
}

// The items of one folder, as the tree and the list hand them over.
struct TDragged {
  explicit TDragged(const std::vector<std::string>& Paths) {
    for (const std::string& P : Paths) {
      auto Abs = SxPathToIDList(P, true);
      EXPECT_TRUE(Abs.has_value()) << P;
      if (!Abs) continue;
      if (First.IsEmpty()) First = *Abs;
      Relative.push_back(ILFindLastID(*Abs));
    }
  }
  TSxItemIDList First;
  std::vector<TSxItemIDList> Relative;
};

// What a receiver in another process sees: the bytes of each offered type.
std::unique_ptr<QMimeData> CopyOf(const QMimeData& Source) {
  auto Copy = std::make_unique<QMimeData>();
  for (const QString& F : Source.formats()) Copy->setData(F, Source.data(F));
  return Copy;
}

} // namespace

TEST(SxDragDrop, DropSourceDecidesTheEnd) {
  TSxDropSource S;
  EXPECT_EQ(S.QueryContinueDrag(true, MK_LBUTTON), DRAGDROP_S_CANCEL);
  EXPECT_EQ(S.QueryContinueDrag(false, 0), DRAGDROP_S_DROP);
  EXPECT_EQ(S.QueryContinueDrag(false, MK_LBUTTON), S_OK);
  EXPECT_EQ(S.GiveFeedback(1), DRAGDROP_S_USEDEFAULTCURSORS);
}

TEST(SxDragDrop, OneFolderGivesCountOneAndOnePath) {
  TPrivateHome H;
  const std::string Dir = H.MakeDir("tree/Pictures");
  TDragged D({Dir});
  TSxDataObject Obj(D.Relative, D.First);
  EXPECT_EQ(Obj.ItemCount(), 1u);

  TStgMedium M;
  ASSERT_EQ(Obj.GetData(Fmt(CF_IDLIST), M), S_OK);
  EXPECT_EQ(M.tymed, TYMED_HGLOBAL);
  const std::vector<std::uint8_t> Block = *M.hGlobal;
  const TSxItemIDList Parent = ParentOf(D.First);
  ASSERT_EQ(Block.size(), 12 + Parent.Size() + D.Relative[0].Size());
  EXPECT_EQ(U32(Block, 0), 1u);
  EXPECT_EQ(U32(Block, 4), 12u);
  EXPECT_EQ(U32(Block, 8), 12u + Parent.Size());
  EXPECT_EQ(std::vector<std::uint8_t>(Block.begin() + 12, Block.begin() + 12 + Parent.Size()), Parent.Bytes());

  ASSERT_EQ(Obj.GetData(Fmt(CF_HDROP), M), S_OK);
  const std::vector<std::uint8_t>& Drop = *M.hGlobal;
  ASSERT_EQ(Drop.size(), 20 + Dir.size() + 2);
  EXPECT_EQ(U32(Drop, 0), 20u);
  for (std::size_t I = 4; I < 20; ++I) EXPECT_EQ(Drop[I], 0) << I;
  EXPECT_EQ(std::string(Drop.begin() + 20, Drop.begin() + 20 + Dir.size()), Dir);
  EXPECT_EQ(Drop[Drop.size() - 2], 0);
  EXPECT_EQ(Drop[Drop.size() - 1], 0);

  // Repeated requests give the same bytes, each in memory of its own.
  TStgMedium Again;
  ASSERT_EQ(Obj.GetData(Fmt(CF_IDLIST), Again), S_OK);
  EXPECT_EQ(*Again.hGlobal, Block);
}

TEST(SxDragDrop, ItemWithoutPathGetsEmptyEntry) {
  const TSxItemIDList Trash({kTrashID});
  TSxDataObject Obj({Trash}, Trash);
  EXPECT_TRUE(Obj.ParentIDList().IsEmpty());
  TStgMedium M;
  ASSERT_EQ(Obj.GetData(Fmt(CF_HDROP), M), S_OK);
  ASSERT_EQ(M.hGlobal->size(), 22u);
  EXPECT_EQ((*M.hGlobal)[20], 0);
  EXPECT_EQ((*M.hGlobal)[21], 0);
  EXPECT_TRUE(Obj.urls().isEmpty());
}

TEST(SxDragDrop, QueryGetDataAnswers) {
  TSxDataObject Obj({TSxItemIDList({"a"})}, TSxItemIDList({"d", "a"}));
  EXPECT_EQ(Obj.QueryGetData(Fmt(CF_IDLIST)), S_OK);
  EXPECT_EQ(Obj.QueryGetData(Fmt(CF_IDLIST, TYMED_ISTREAM | TYMED_HGLOBAL)), S_OK);
  EXPECT_EQ(Obj.QueryGetData(Fmt(CF_IDLIST, TYMED_ISTREAM)), DV_E_TYMED);
  EXPECT_EQ(Obj.QueryGetData(Fmt(2)), DV_E_FORMATETC);
  EXPECT_EQ(Obj.QueryGetData(Fmt(CF_HDROP, TYMED_HGLOBAL, 4)), DV_E_FORMATETC);

  TStgMedium M;
  EXPECT_EQ(Obj.GetData(Fmt(CF_IDLIST, TYMED_ISTREAM), M), DV_E_TYMED);
  EXPECT_FALSE(M.hGlobal);
  EXPECT_EQ(Obj.GetData(Fmt(2), M), DV_E_FORMATETC);
  EXPECT_EQ(Obj.GetDataHere(Fmt(CF_IDLIST), M), E_NOTIMPL);
  EXPECT_EQ(Obj.SetData(Fmt(CF_IDLIST), M, true), E_NOTIMPL);
  EXPECT_EQ(Obj.DAdvise(), OLE_E_ADVISENOTSUPPORTED);
  EXPECT_EQ(Obj.EnumDAdvise(), OLE_E_ADVISENOTSUPPORTED);

  int Device = 0;
  TFormatEtc In = Fmt(CF_HDROP);
  In.ptd = &Device;
  TFormatEtc Out;
  EXPECT_EQ(Obj.GetCanonicalFormatEtc(In, Out), DATA_S_SAMEFORMATETC);
  EXPECT_EQ(Out.ptd, nullptr);
  EXPECT_EQ(Out.cfFormat, CF_HDROP);
}

TEST(SxDragDrop, EnumeratingFormats) {
  TSxDataObject Obj({TSxItemIDList({"a"})}, TSxItemIDList({"d", "a"}));
  std::unique_ptr<TSxEnumFormatEtc> E;
  EXPECT_EQ(Obj.EnumFormatEtc(2, E), E_NOTIMPL);
  EXPECT_FALSE(E);
  ASSERT_EQ(Obj.EnumFormatEtc(DATADIR_GET, E), S_OK);

  const std::uint16_t Expected[] = {CF_IDLIST, CF_HDROP, CF_TEXT};
  for (std::uint16_t F : Expected) {
    TFormatEtc R;
    std::uint32_t Fetched = 9;
    ASSERT_EQ(E->Next(1, &R, &Fetched), S_OK);
    EXPECT_EQ(Fetched, 1u);
    EXPECT_EQ(R.cfFormat, F);
    EXPECT_EQ(R.dwAspect, DVASPECT_CONTENT);
    EXPECT_EQ(R.lindex, -1);
    EXPECT_EQ(R.tymed, TYMED_HGLOBAL);
  }
  TFormatEtc R;
  std::uint32_t Fetched = 9;
  EXPECT_EQ(E->Next(1, &R, &Fetched), S_FALSE);
  EXPECT_EQ(Fetched, 0u);

  E->Reset();
  EXPECT_EQ(E->Skip(1), S_OK);
  std::unique_ptr<TSxEnumFormatEtc> C;
  ASSERT_EQ(E->Clone(C), S_OK);
  TFormatEtc Two[5];
  EXPECT_EQ(C->Next(5, Two, &Fetched), S_FALSE);
  EXPECT_EQ(Fetched, 2u);
  EXPECT_EQ(Two[0].cfFormat, CF_HDROP);
  EXPECT_EQ(E->Skip(3), S_FALSE);  // past the end stops at the end
  EXPECT_EQ(E->Next(1, &R, &Fetched), S_FALSE);
  EXPECT_EQ(Fetched, 0u);
  E->Reset();
  EXPECT_EQ(E->Skip(3), S_OK);
}

TEST(SxDragDrop, MimeRoundTrip) {
  TPrivateHome H;
  const std::string Dir = H.MakeDir("drag");
  // A name is its bytes: Latin-1 is no UTF-8.
  const std::vector<std::string> Paths = {Dir + "/a b%.jpg", Dir + "/\xC3\xA9t\xC3\xA9.png", Dir + "/caf\xE9.png"};
  for (const auto& P : Paths) TPrivateHome::Touch(P);
  TDragged D(Paths);
  TSxDataObject Obj(D.Relative, D.First);
  EXPECT_FALSE(Obj.hasFormat(SxGnomeCopiedFilesMimeType));
  EXPECT_TRUE(Obj.hasUrls());

  const auto Received = CopyOf(Obj);
  EXPECT_EQ(SxPathsFromMime(Received.get()), Paths);
  const QList<QUrl> Urls = Received->urls();
  ASSERT_EQ(Urls.size(), 3);
  EXPECT_EQ(Urls[0].toLocalFile().toStdString(), Paths[0]);
  EXPECT_EQ(Received->data(SxTextMimeType).toStdString(), Paths[0] + "\n" + Paths[1] + "\n" + Paths[2]);

  auto Array = SxIDListArrayFromMime(Received.get());
  ASSERT_TRUE(Array);
  EXPECT_EQ(Array->Parent, ParentOf(D.First));
  EXPECT_EQ(Array->Items, D.Relative);
  EXPECT_EQ(SxDisplayNameOf(ILCombine(Array->Parent, Array->Items[1]), SHGDN_FORPARSING), Paths[1]);
  EXPECT_EQ(SxDisplayNameOf(ILCombine(Array->Parent, Array->Items[2]), SHGDN_FORPARSING), Paths[2]);

  // A file manager's own drop carries only the file list.
  QMimeData Foreign;
  Foreign.setUrls({QUrl::fromLocalFile(QString::fromStdString(Paths[1])), QUrl("https://example.org/x.jpg")});
  EXPECT_FALSE(SxIDListArrayFromMime(&Foreign));
  EXPECT_EQ(SxPathsFromMime(&Foreign), std::vector<std::string>{Paths[1]});
}

TEST(SxDragDrop, CopiedFilesForCutAndCopy) {
  TPrivateHome H;
  const std::string Dir = H.MakeDir("clip");
  TPrivateHome::Touch(Dir + "/a.jpg");
  TDragged D({Dir + "/a.jpg"});
  TSxDataObject Obj(D.Relative, D.First);
  std::vector<std::string> Got;
  EXPECT_EQ(SxCopiedFilesFromMime(&Obj, &Got), TSxClipboardAction::None);

  Obj.SetClipboardAction(TSxClipboardAction::Cut);
  ASSERT_TRUE(Obj.hasFormat(SxGnomeCopiedFilesMimeType));
  const auto Received = CopyOf(Obj);
  EXPECT_EQ(Received->data(SxGnomeCopiedFilesMimeType).toStdString(), "cut\nfile://" + Dir + "/a.jpg");
  EXPECT_EQ(SxCopiedFilesFromMime(Received.get(), &Got), TSxClipboardAction::Cut);
  EXPECT_EQ(Got, std::vector<std::string>{Dir + "/a.jpg"});

  Obj.SetClipboardAction(TSxClipboardAction::Copy);
  EXPECT_EQ(SxCopiedFilesFromMime(CopyOf(Obj).get(), &Got), TSxClipboardAction::Copy);

  QMimeData Bad;
  Bad.setData(SxGnomeCopiedFilesMimeType, "move\nfile:///x");
  EXPECT_EQ(SxCopiedFilesFromMime(&Bad, &Got), TSxClipboardAction::None);
  EXPECT_TRUE(Got.empty());
}

TEST(SxDragDrop, BrokenIDListArraysAreRefused) {
  const TSxItemIDList Parent({"home", "u"}), Item({"x.jpg"});
  const std::vector<std::uint8_t> Good = SxBuildIDListArray(Parent, {Item, Item});
  ASSERT_EQ(Good.size(), 16 + Parent.Size() + 2 * Item.Size());
  ASSERT_TRUE(SxParseIDListArray(Good.data(), Good.size()));

  for (std::size_t N = 0; N < Good.size(); ++N)
    EXPECT_FALSE(SxParseIDListArray(Good.data(), N)) << N;

  std::vector<std::uint8_t> B = Good;
  B[0] = 0xFF, B[1] = 0xFF, B[2] = 0xFF, B[3] = 0xFF;  // a count far beyond the bytes
  EXPECT_FALSE(SxParseIDListArray(B.data(), B.size()));
  B = Good;
  B[8] = static_cast<std::uint8_t>(Good.size());  // an offset at the end
  EXPECT_FALSE(SxParseIDListArray(B.data(), B.size()));
  B = Good;
  B[Good.size() - 1] = 7;  // the last list loses its terminator
  EXPECT_FALSE(SxParseIDListArray(B.data(), B.size()));
  EXPECT_FALSE(SxParseIDListArray(nullptr, 0));

  const std::vector<std::uint8_t> Empty = SxBuildIDListArray(TSxItemIDList(), {});
  auto None = SxParseIDListArray(Empty.data(), Empty.size());
  ASSERT_TRUE(None);
  EXPECT_TRUE(None->Items.empty());
  EXPECT_EQ(Empty.size(), 10u);
}

// A dropped or pasted block whose offsets all point into one long list: each
// item would take that list from its own offset to its end. What a block
// gives holds no more than the block's own bytes.
TEST(SxDragDrop, ListsOfABlockTakeNoMoreThanItsBytes) {
  auto Held = [](const TSxIDListArray& A) {
    std::size_t N = A.Parent.Size();
    for (const TSxItemIDList& I : A.Items) N += I.Size();
    return N;
  };
  auto Block = [](std::uint32_t Count, const std::vector<std::uint8_t>& List, std::uint32_t Step) {
    std::vector<std::uint8_t> B(8 + 4 * std::size_t{Count});
    B.insert(B.end(), List.begin(), List.end());
    for (std::uint32_t I = 0; I <= Count; ++I) {
      const std::uint32_t At = 8 + 4 * Count + Step * I;
      for (int K = 0; K < 4; ++K) B[4 + 4 * I + K] = static_cast<std::uint8_t>(At >> (8 * K));
    }
    B[0] = static_cast<std::uint8_t>(Count), B[1] = static_cast<std::uint8_t>(Count >> 8);
    return B;
  };
  auto Offered = [](const std::vector<std::uint8_t>& Bytes) {
    auto Mime = std::make_unique<QMimeData>();
    Mime->setData(SxIDListMimeType,
                  QByteArray(reinterpret_cast<const char*>(Bytes.data()), static_cast<qsizetype>(Bytes.size())));
    return Mime;
  };
  // 24,000 offsets and a list of 32,000 one-letter items, about 192 KB.
  const TSxItemIDList Long(std::vector<std::string>(32000, "a"));
  for (std::uint32_t Step : {0u, 3u}) {
    SCOPED_TRACE(Step);
    const std::vector<std::uint8_t> Bytes = Block(24000, Long.Bytes(), Step);
    const auto Array = SxIDListArrayFromMime(Offered(Bytes).get());
    EXPECT_FALSE(Array);
    if (Array) {
      EXPECT_LE(Held(*Array), Bytes.size());
    }
  }
  // That list as the parent of 16,000 items, all the same empty list: the
  // block holds it once, and each path would hold it again, longer than any
  // system call takes.
  std::vector<std::uint8_t> Parented = Block(16000, Long.Bytes(), 0);
  const std::uint32_t Item = static_cast<std::uint32_t>(Parented.size());
  Parented.insert(Parented.end(), {0, 0});
  for (std::size_t I = 1; I <= 16000; ++I)
    for (int K = 0; K < 4; ++K) Parented[4 + 4 * I + K] = static_cast<std::uint8_t>(Item >> (8 * K));
  const auto Mime = Offered(Parented);
  ASSERT_TRUE(SxIDListArrayFromMime(Mime.get()));
  EXPECT_TRUE(SxPathsFromMime(Mime.get()).empty());
  // Offsets that share a list are read while the lists fit in the block.
  const TSxItemIDList Short({"home", "u"});
  const std::vector<std::uint8_t> Shared = Block(1, Short.Bytes(), 0);
  const auto Array = SxParseIDListArray(Shared.data(), Shared.size());
  ASSERT_TRUE(Array);
  EXPECT_EQ(Array->Parent, Short);
  EXPECT_EQ(Array->Items, std::vector<TSxItemIDList>(1, Short));
  EXPECT_LE(Held(*Array), Shared.size());
  const std::vector<std::uint8_t> Three = Block(2, Short.Bytes(), 0);
  EXPECT_FALSE(SxParseIDListArray(Three.data(), Three.size()));
}

// The paths of a drop resolve its parent once, and come out as each item
// joined to the parent resolves on its own, below every kind of root.
TEST(SxDragDrop, ChildPathsAreThePathsOfTheJoinedLists) {
  TPrivateHome H;
  const std::vector<TSxItemIDList> Parents = {
      TSxItemIDList(),           TSxItemIDList({kHomeID}),         TSxItemIDList({kTrashID}),
      TSxItemIDList({kComputerID}), TSxItemIDList({kComputerID, "/mnt/"}), TSxItemIDList({kHomeID, "a", "b"}),
      TSxItemIDList({"x"}),      TSxItemIDList({kHomeID, ".."}),   TSxItemIDList({kComputerID, "mnt"})};
  const std::vector<TSxItemIDList> Items = {TSxItemIDList({"f.jpg"}), TSxItemIDList({kHomeID, "g"}),
                                            TSxItemIDList({"/media/u"}), TSxItemIDList({"c", "d"}),
                                            TSxItemIDList({".."}),    TSxItemIDList()};
  for (const TSxItemIDList& Parent : Parents) {
    const std::vector<std::string> Paths = SxIDListChildPaths(Parent, Items);
    ASSERT_EQ(Paths.size(), Items.size());
    // An item without names would be the parent itself: it is no child.
    for (std::size_t K = 0; K < Items.size(); ++K)
      EXPECT_EQ(Paths[K], Items[K].IsEmpty() ? std::string() : SxIDListToPath(ILCombine(Parent, Items[K])))
          << Parent.Count() << " " << K;
    const auto First = std::find_if(Paths.begin(), Paths.end(), [](const std::string& P) { return !P.empty(); });
    EXPECT_EQ(SxIDListFirstChildPath(Parent, Items), First == Paths.end() ? std::string() : *First);
  }
}

// The paths of a dropped or pasted block take a small multiple of its bytes:
// items without names are no children, a check for files stops at the first
// path, and a block whose paths would take more names no files.
TEST(SxDragDrop, PathsOfABlockTakeASmallMultipleOfItsBytes) {
  // A parent whose path is nearly as long as a path can be.
  std::vector<std::string> Names = {kComputerID, "/"};
  for (char C = 'a'; C < 'a' + 19; ++C) Names.push_back(std::string(200, C));
  const TSxItemIDList Deep(Names);
  // The bytes of paths made for a block offered by another program: all its
  // files read (every one of Files found), or a check for any.
  auto Made = [](const TSxItemIDList& Parent, const std::vector<TSxItemIDList>& Items, bool All, int Files) {
    const std::vector<std::uint8_t> Block = SxBuildIDListArray(Parent, Items);
    QMimeData Mime;
    Mime.setData(SxIDListMimeType, QByteArray(reinterpret_cast<const char*>(Block.data()),
                                              static_cast<qsizetype>(Block.size())));
    const std::int64_t Before = SxChildPathBytesMade();
    EXPECT_EQ(All ? static_cast<int>(SxPathsFromMime(&Mime).size()) : SxMimeHasPaths(&Mime) ? Files : 0, Files);
    return SxChildPathBytesMade() - Before;
  };
  // 229,393 empty items below it (900 KB when they share one list) made
  // 876 MB of copies of the parent's path; as many three-letter names as
  // 900 KB hold, 317 MB.
  const std::vector<TSxItemIDList> Empty(229393);
  std::vector<TSxItemIDList> Tiny;
  for (int I = 0; I < 83000; ++I) Tiny.push_back(TSxItemIDList({std::to_string(100 + I % 900)}));
  for (bool All : {true, false}) {
    EXPECT_EQ(Made(Deep, Empty, All, 0), 0);
    EXPECT_EQ(Made(Deep, Tiny, All, 0), 0);
  }
  // 200 files of that deep folder, and 10,000 of a shallow one: every path,
  // or the first one only for a check.
  for (const auto& [Parent, Files] : {std::pair{Deep, 200}, std::pair{TSxItemIDList({kComputerID, "/srv"}), 10000}}) {
    std::vector<TSxItemIDList> Items;
    std::int64_t Bytes = 0;
    for (int I = 0; I < Files; ++I) {
      Items.push_back(TSxItemIDList({"picture " + std::to_string(I) + ".jpg"}));
      Bytes += SxIDListToPath(ILCombine(Parent, Items.back())).size();
    }
    EXPECT_EQ(Made(Parent, Items, true, Files), Bytes);
    EXPECT_EQ(Made(Parent, Items, false, 1), SxIDListToPath(ILCombine(Parent, Items[0])).size());
  }
}
