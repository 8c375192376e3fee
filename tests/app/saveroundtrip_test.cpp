// Every layout the readers produce, turned or flipped and saved the way the
// program saves when a picture is left (or by Ctrl+S after a resize): the
// file comes back as ImageMagick's turn of the original, pixel for pixel and
// alpha for alpha, its resolution swapped by a quarter turn, and all else it
// held the same (chunks, markers, tags, palettes, frames, trailing bytes);
// or the save asks first, naming what it would lose, and the file stays.
#include "app/mainform.h"
#include "app/renamedlg.h"
#include "platform/metafile.h"
#include "apptestenv.h"
#include "mainwindowhost.h"
#include "reftools.h"

#include <QCryptographicHash>
#include <QImage>
#include <QLineEdit>
#include <QTransform>
#include <QtEndian>
#include <array>
#include <bit>
#include <functional>
#include <tuple>
#include <gtest/gtest.h>
#include <zlib.h>

namespace {

using namespace apptest;

constexpr int W = 480, H = 320;

QByteArray Chars(std::initializer_list<int> Values) {
  QByteArray B;
  for (int V : Values) B += char(V);
  return B;
}
// V in Bytes bytes, least significant first.
QByteArray Le(quint64 V, int Bytes) {
  QByteArray B;
  for (int I = 0; I < Bytes; ++I) B += char(V >> 8 * I);
  return B;
}
QByteArray Be32(quint32 V) { return Chars({int(V >> 24), int(V >> 16), int(V >> 8), int(V)}); }
// A byte of the file, 0 past its end.
int ByteAt(const QByteArray& F, qsizetype I) { return I >= 0 && I < F.size() ? uchar(F[I]) : 0; }
QString Digest(const QByteArray& D) {
  return QString::fromLatin1(QCryptographicHash::hash(D, QCryptographicHash::Md5).toHex().left(10)) +
         QStringLiteral("/%1").arg(D.size());
}
QByteArray Deflated(const QByteArray& D) {
  uLongf Size = compressBound(uLong(D.size()));
  QByteArray Out(qsizetype(Size), '\0');
  compress2(reinterpret_cast<Bytef*>(Out.data()), &Size, reinterpret_cast<const Bytef*>(D.constData()),
            uLong(D.size()), 6);
  return Out.left(qsizetype(Size));
}

QByteArray Inflated(const QByteArray& D) {
  QByteArray Out(1 << 20, '\0');
  uLongf Size = uLongf(Out.size());
  if (uncompress(reinterpret_cast<Bytef*>(Out.data()), &Size, reinterpret_cast<const Bytef*>(D.constData()),
                 uLong(D.size())) != Z_OK)
    return "not inflated";
  return Out.left(qsizetype(Size));
}

// ---- PNG files of an exact layout, which ImageMagick cannot be told.

struct TPng {
  int Depth = 8;
  int Type = 2; // PNG colour type
  int Entries = 0;
  int Alpha = 0; // 0 none; 1 a clear entry (palette) or a colour key; 2 every entry its own alpha
  // Chunks before the picture's data; a type starting with '<' before the
  // palette (colour chunks must), with '+' after the data.
  QList<QPair<QByteArray, QByteArray>> Chunks = {};
  int Width = W, Height = H;
};

QByteArray PngChunk(const QByteArray& Type, const QByteArray& Data) {
  const QByteArray Body = Type + Data;
  return Be32(quint32(Data.size())) + Body +
         Be32(quint32(crc32(0, reinterpret_cast<const Bytef*>(Body.constData()), uInt(Body.size()))));
}

// The colours of palette entries: red and blue for two, else all distinct.
QByteArray PngPalette(int Entries) {
  QByteArray P;
  for (int I = 0; I < Entries; ++I)
    P += Entries == 2 ? (I == 0 ? QByteArray("\xFF\0\0", 3) : QByteArray("\0\0\xFF", 3))
                      : Chars({I, 255 - I, I * 37});
  return P;
}

QByteArray PngFile(const TPng& L) {
  const int Channels = L.Type == 2 ? 3 : L.Type == 4 ? 2 : L.Type == 6 ? 4 : 1;
  const int Levels = L.Type == 3 ? L.Entries : 1 << std::min(L.Depth, 8);
  QByteArray Raw;
  for (int Y = 0; Y < L.Height; ++Y) {
    Raw += '\0';
    QByteArray Row;
    quint32 Bits = 0;
    int Held = 0;
    for (int X = 0; X < L.Width; ++X) {
      const int Level = (X / 16 + Y / 16 * 7) % Levels;
      const int Samples[4] = {Channels >= 3 ? X & 255 : Level, Y & 255, (X ^ Y) & 255, (X + Y) & 255};
      for (int C = 0; C < Channels; ++C) {
        const int S = Channels == 2 && C == 1 ? Samples[3] : Samples[C];
        if (L.Depth == 16) {
          Row += char(S);
          Row += char(S * 7 + 1); // not a multiple of 257: 16 bits in use
        } else if (L.Depth == 8) {
          Row += char(S);
        } else {
          Bits = Bits << L.Depth | quint32(S);
          if ((Held += L.Depth) == 8) Row += char(Bits), Bits = 0, Held = 0;
        }
      }
    }
    if (Held > 0) Row += char(Bits << (8 - Held));
    Raw += Row;
  }
  QByteArray F("\x89PNG\r\n\x1a\n", 8);
  F += PngChunk("IHDR", Be32(L.Width) + Be32(L.Height) + Chars({L.Depth, L.Type, 0, 0, 0}));
  for (const auto& [Type, Data] : L.Chunks)
    if (Type.startsWith('<')) F += PngChunk(Type.mid(1), Data);
  if (L.Type == 3) F += PngChunk("PLTE", PngPalette(L.Entries));
  if (L.Alpha != 0) {
    QByteArray T;
    if (L.Type == 3)
      for (int I = 0; I < (L.Alpha == 1 ? 1 : L.Entries); ++I) T += char(L.Alpha == 1 ? 0 : I * 255 / (L.Entries - 1));
    else
      T = L.Type == 0 ? QByteArray("\0\x01", 2) : QByteArray("\0\0\0\0\0\0", 6);
    F += PngChunk("tRNS", T);
  }
  QByteArray After;
  for (const auto& [Type, Data] : L.Chunks)
    if (!Type.startsWith('<')) (Type.startsWith('+') ? After : F) += PngChunk(Type.mid(Type.startsWith('+') ? 1 : 0), Data);
  return F + PngChunk("IDAT", Deflated(Raw)) + After + PngChunk("IEND", {});
}

QByteArray Xmp(const QByteArray& Inner) {
  return "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
         "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' " +
         Inner + "/></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
}

// A big-endian Exif block of one field, the artist.
const QByteArray ExifArtist("MM\0*\0\0\0\x08\0\x01\x01\x3B\0\x02\0\0\0\x08\0\0\0\x1A\0\0\0\0Someone\0", 34);

// A big-endian Exif block of one resolution: 300 x 150 dots per inch.
const QByteArray ExifDpi = QByteArray("MM\0*\0\0\0\x08\0\x03\x01\x1A\0\x05\0\0\0\x01\0\0\0\x32"
                                      "\x01\x1B\0\x05\0\0\0\x01\0\0\0\x3A\x01\x28\0\x03\0\0\0\x01\0\x02\0\0\0\0\0\0", 50) +
                           Be32(300) + Be32(1) + Be32(150) + Be32(1);

// The text, Exif, XMP and colour chunks a camera or an editor leaves.
QList<QPair<QByteArray, QByteArray>> PngTexts(bool Palette) {
  return {{"<gAMA", Be32(45455)},
          {"<cHRM", Be32(31270) + Be32(32900) + Be32(64000) + Be32(33000) + Be32(30000) + Be32(60000) + Be32(15000) +
                       Be32(6000)},
          {"<sRGB", QByteArray(1, '\0')},
          {"tEXt", QByteArray("Title\0A caption", 15)},
          {"zTXt", QByteArray("Comment\0\0", 9) + Deflated("A remark, compressed")},
          {"iTXt", QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22) + Xmp("xmlns:dc='http://purl.org/dc/elements/1.1/' dc:rights='Mine'")},
          {"eXIf", ExifArtist},
          {"bKGD", Palette ? QByteArray(1, '\x05') : QByteArray("\0\x10\0\x20\0\x30", 6)},
          {"pHYs", Be32(11811) + Be32(5906) + QByteArray(1, '\1')},
          {"+tIME", QByteArray("\x07\xEA\x0C\x09\x0A\x0B\x0C", 7)}};
}

// ---- What a file holds besides its pixels, one line a piece, with the
// resolution (and TIFF's position) of a quarter turn swapped.

quint16 Le16(const QByteArray& F, qsizetype At) { return At + 2 <= F.size() ? qFromLittleEndian<quint16>(F.constData() + At) : 0; }
quint32 Le32(const QByteArray& F, qsizetype At) { return At + 4 <= F.size() ? qFromLittleEndian<quint32>(F.constData() + At) : 0; }
quint16 B16(const QByteArray& F, qsizetype At) { return At + 2 <= F.size() ? qFromBigEndian<quint16>(F.constData() + At) : 0; }
quint32 B32(const QByteArray& F, qsizetype At) { return At + 4 <= F.size() ? qFromBigEndian<quint32>(F.constData() + At) : 0; }

// An Exif block's X and Y resolution (swapped by a quarter turn) and the
// rest of its bytes, where the two entries put their values not counted.
QString ExifResolution(QByteArray D, bool Quarter) {
  const bool Intel = D.startsWith("II");
  auto U16 = [&](qsizetype At) { return Intel ? Le16(D, At) : B16(D, At); };
  auto U32 = [&](qsizetype At) { return Intel ? Le32(D, At) : B32(D, At); };
  QString Res[2];
  for (int I = 0, N = U16(U32(4)); I < N; ++I) {
    const qsizetype E = U32(4) + 2 + 12 * I, At = U32(E + 8);
    if (const int Tag = U16(E); (Tag == 282 || Tag == 283) && At + 8 <= D.size()) {
      Res[Tag - 282] = QStringLiteral("%1/%2").arg(U32(At)).arg(U32(At + 4));
      D.replace(E + 8, 4, QByteArray(4, '\0')).replace(At, 8, QByteArray(8, '\0'));
    }
  }
  if (Quarter) std::swap(Res[0], Res[1]);
  return QStringLiteral("resolution %1 %2 ").arg(Res[0], Res[1]) + Digest(D);
}

QStringList PngAnatomy(const QByteArray& F, bool Quarter) {
  QStringList L;
  for (qsizetype At = 8; At + 12 <= F.size();) {
    const quint32 Len = B32(F, At);
    const QByteArray Type = F.mid(At + 4, 4), Data = F.mid(At + 8, Len);
    At += 12 + qsizetype(Len);
    if (Type == "IDAT") {
      if (L.isEmpty() || L.last() != "IDAT") L << QStringLiteral("IDAT");
    } else if (Type == "IHDR") {
      L << QStringLiteral("IHDR depth %1 type %2 interlace %3").arg(uchar(Data[8])).arg(uchar(Data[9])).arg(uchar(Data[12]));
    } else if (Type == "pHYs") {
      quint32 X = B32(Data, 0), Y = B32(Data, 4);
      if (Quarter) std::swap(X, Y);
      L << QStringLiteral("pHYs %1 %2 %3").arg(X).arg(Y).arg(uchar(Data[8]));
    } else if (Type == "sCAL") {
      QList<QByteArray> Sides = Data.mid(1).split('\0');
      if (Quarter && Sides.size() == 2) std::swap(Sides[0], Sides[1]);
      L << QStringLiteral("sCAL %1 ").arg(ByteAt(Data, 0)) + QString::fromLatin1(Sides.join(' '));
    } else if (Type == "eXIf") {
      L << QStringLiteral("eXIf ") + ExifResolution(Data, Quarter);
    } else if (Type == "iCCP" || Type == "zTXt") {
      // Its keyword and what its deflated data holds, however deflated.
      const qsizetype End = Data.indexOf('\0');
      L << QString::fromLatin1(Type + ' ' + Data.left(End) + ' ') + Digest(Inflated(Data.mid(End + 2)));
    } else {
      L << QString::fromLatin1(Type) + ' ' + Digest(Data);
    }
  }
  return L;
}

QStringList GifAnatomy(const QByteArray& F, bool Quarter) {
  QStringList L{QString::fromLatin1(F.left(6))};
  quint16 SW = Le16(F, 6), SH = Le16(F, 8);
  if (Quarter) std::swap(SW, SH);
  const uchar Packed = ByteAt(F, 10);
  // Pixels (Aspect + 15) / 64 as wide as high are the inverse once turned.
  int Aspect = ByteAt(F, 12);
  if (Quarter && Aspect != 0) Aspect = std::clamp(int(std::lround(4096.0 / (Aspect + 15))) - 15, 1, 255);
  // The screen's size as the first image's when that covers it (a resize
  // scales both; a turn leaves out what lies past the screen).
  const qsizetype Screen = L.size();
  L << QStringLiteral("screen %1 %2 %3 %4 %5").arg(SW).arg(SH).arg(Packed).arg(ByteAt(F, 11)).arg(Aspect);
  qsizetype At = 13;
  auto Table = [&](uchar P, const char* What) {
    if ((P & 0x80) == 0) return;
    const qsizetype N = qsizetype(3) << ((P & 7) + 1);
    L << QString::fromLatin1(What) + ' ' + Digest(F.mid(At, N));
    At += N;
  };
  auto SubBlocks = [&] {
    QByteArray D;
    for (uchar N; At < F.size() && (N = uchar(F[At++])) != 0; At += N) D += F.mid(At, N);
    return D;
  };
  Table(Packed, "global");
  while (At < F.size()) {
    const uchar C = uchar(F[At++]);
    if (C == 0x21) {
      const uchar Label = ByteAt(F, At++);
      const QByteArray D = SubBlocks();
      L << QStringLiteral("extension %1 %2").arg(Label, 0, 16).arg(Label == 0xF9 ? QString::fromLatin1(D.toHex()) : Digest(D));
    } else if (C == 0x2C) {
      if (Le16(F, At) == 0 && Le16(F, At + 2) == 0 && Le16(F, At + 4) >= Le16(F, 6) && Le16(F, At + 6) >= Le16(F, 8))
        L[Screen] = QStringLiteral("screen of the image %1 %2 %3").arg(Packed).arg(ByteAt(F, 11)).arg(Aspect);
      const uchar P = ByteAt(F, At + 8);
      L << QStringLiteral("image %1").arg(P & 0xC7);
      At += 9;
      Table(P, "local");
      ++At;
      SubBlocks();
    } else {
      L << (C == 0x3B ? QStringLiteral("end") : QStringLiteral("stray %1").arg(C));
      break;
    }
  }
  return L;
}

QStringList BmpAnatomy(const QByteArray& F, bool Quarter) {
  const quint32 Size = Le32(F, 14);
  if (Size == 12) {
    const int Bits = Le16(F, 24);
    return {QStringLiteral("core %1").arg(Bits), Digest(F.mid(26, Bits <= 8 ? 3 << Bits : 0))};
  }
  const int Bits = Le16(F, 28);
  quint32 X = Le32(F, 38), Y = Le32(F, 42);
  if (Quarter) std::swap(X, Y);
  const quint32 Used = Le32(F, 46), Compression = Le32(F, 30);
  const quint32 Entries = Used != 0 ? Used : Bits <= 8 ? 1u << Bits : 0;
  return {QStringLiteral("header %1 bits %2 compression %3 ppm %4 %5 used %6 important %7")
              .arg(Size).arg(Bits).arg(Compression).arg(X).arg(Y).arg(Used).arg(Le32(F, 50)),
          QStringLiteral("header rest ") + Digest(F.mid(54, qsizetype(Size) - 40 + (Compression == 3 && Size == 40 ? 12 : 0))),
          QStringLiteral("palette ") + Digest(F.mid(14 + Size, 4 * qsizetype(Entries)))};
}

QStringList TiffAnatomy(const QByteArray& F, bool Quarter) {
  const bool Intel = F.startsWith("II");
  auto U16 = [&](qsizetype At) { return Intel ? Le16(F, At) : B16(F, At); };
  auto U32 = [&](qsizetype At) { return Intel ? Le32(F, At) : B32(F, At); };
  static const int Sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  QStringList L{QString::fromLatin1(F.left(2))};
  quint32 Ifd = U32(4);
  for (int Page = 0; Ifd != 0 && Ifd + 2 <= quint32(F.size()) && Page < 16; ++Page) {
    const int N = U16(Ifd);
    QStringList Tags;
    for (int I = 0; I < N; ++I) {
      const qsizetype E = Ifd + 2 + 12 * I;
      int Tag = U16(E);
      const int Type = U16(E + 2);
      const quint32 Count = U32(E + 4);
      // Sizes and how the data is laid out are the writer's to choose; an
      // orientation of 1 says no more than none.
      if (QList<int>{256, 257, 266, 273, 278, 279, 284, 322, 323, 324, 325}.contains(Tag)) continue;
      if (Tag == 274 && U16(E + 8) == 1) continue;
      if (Quarter && (Tag == 282 || Tag == 283 || Tag == 286 || Tag == 287)) Tag ^= 1;
      const qsizetype Bytes = qsizetype(Count) * (Type < 14 ? Sizes[Type] : 1);
      const QByteArray V = Bytes <= 4 ? F.mid(E + 8, Bytes) : F.mid(U32(E + 8), Bytes);
      Tags << QStringLiteral("%1 %2 %3 %4").arg(Tag, 5).arg(Type).arg(Count).arg(Bytes <= 16 ? QString::fromLatin1(V.toHex()) : Digest(V));
    }
    Tags.sort();
    L << QStringLiteral("page %1").arg(Page) << Tags;
    Ifd = U32(Ifd + 2 + 12 * N);
  }
  return L;
}

QStringList JpegAnatomy(const QByteArray& F, bool Quarter) {
  QStringList L;
  qsizetype At = 2;
  while (At + 4 <= F.size() && uchar(F[At]) == 0xFF) {
    const uchar M = uchar(F[At + 1]);
    const int Len = B16(F, At + 2);
    const QByteArray D = F.mid(At + 4, Len - 2);
    if (M == 0xE0 && D.startsWith(QByteArray("JFIF\0", 5))) {
      int X = B16(D, 8), Y = B16(D, 10);
      if (Quarter) std::swap(X, Y);
      L << QStringLiteral("JFIF units %1 density %2 %3").arg(uchar(D[7])).arg(X).arg(Y);
    } else if ((M >= 0xE0 && M <= 0xEF) || M == 0xFE) {
      L << QStringLiteral("marker %1 ").arg(M, 0, 16) + Digest(D);
    } else if (M >= 0xC0 && M <= 0xCF && M != 0xC4 && M != 0xC8 && M != 0xCC) {
      L << QStringLiteral("frame of %1 components").arg(ByteAt(D, 5));
    }
    if (M == 0xDA) break;
    At += 2 + Len;
  }
  // Entropy-coded data never holds FF D9: the first after the scans ends the picture.
  const qsizetype End = F.indexOf(QByteArray("\xFF\xD9", 2), At);
  L << QStringLiteral("after the picture ") + Digest(End < 0 ? QByteArray() : F.mid(End + 2));
  return L;
}

QStringList PnmAnatomy(const QByteArray& F, bool) {
  QStringList L{QString::fromLatin1(F.left(2))};
  int Numbers = 0;
  const int Wanted = F[1] == '1' || F[1] == '4' ? 2 : 3;
  for (qsizetype At = 2; At < F.size() && Numbers < Wanted;) {
    const char C = F[At];
    if (C == '#') {
      const qsizetype End = F.indexOf('\n', At);
      L << QString::fromLatin1(F.mid(At, End - At));
      At = End < 0 ? F.size() : End;
    } else if (C >= '0' && C <= '9') {
      qsizetype End = At;
      while (End < F.size() && F[End] >= '0' && F[End] <= '9') ++End;
      if (++Numbers == 3) L << QStringLiteral("max ") + QString::fromLatin1(F.mid(At, End - At));
      At = End;
    } else {
      ++At;
    }
  }
  return L;
}

QStringList TgaAnatomy(const QByteArray& F, bool Quarter) {
  const int Id = ByteAt(F, 0);
  const qsizetype Map = qsizetype(Le16(F, 5)) * ((ByteAt(F, 7) + 7) / 8);
  const bool Footer = F.endsWith(QByteArray("TRUEVISION-XFILE.\0", 18));
  QStringList L{QStringLiteral("header ") + QString::fromLatin1(F.left(8).toHex()) + QStringLiteral(" depth %1 descriptor %2").arg(ByteAt(F, 16)).arg(ByteAt(F, 17)),
                QStringLiteral("id ") + Digest(F.mid(18, Id)), QStringLiteral("map ") + Digest(F.mid(18 + Id, Map)),
                Footer ? QStringLiteral("footer") : QString()};
  // The extension area: where it is, its texts, date, job, software and key
  // colour as bytes, its aspect ratio (turned), gamma and offsets.
  if (const qsizetype E = Footer ? qsizetype(Le32(F, F.size() - 26)) : 0; E != 0) {
    const int N = Le16(F, E + 474), D = Le16(F, E + 476);
    L << QStringLiteral("extension of %1 bytes %2 before the footer, developer area %3, fields %4, aspect %5/%6, gamma %7/%8, offsets %9")
             .arg(Le16(F, E)).arg(F.size() - 26 - E).arg(Le32(F, F.size() - 22)).arg(Digest(F.mid(E + 2, 472)))
             .arg(Quarter ? D : N).arg(Quarter ? N : D).arg(Le16(F, E + 478)).arg(Le16(F, E + 480)).arg(QString::fromLatin1(F.mid(E + 482, 13).toHex()));
  }
  return L;
}

QStringList PcxAnatomy(const QByteArray& F, bool Quarter) {
  quint16 X = Le16(F, 12), Y = Le16(F, 14);
  if (Quarter) std::swap(X, Y);
  const bool Vga = ByteAt(F, 3) == 8 && ByteAt(F, 65) == 1 && F.size() > 769 && uchar(F[F.size() - 769]) == 12;
  return {QStringLiteral("header ") + QString::fromLatin1(F.left(4).toHex()) + QStringLiteral(" dpi %1 %2 planes %3").arg(X).arg(Y).arg(ByteAt(F, 65)),
          QStringLiteral("palette ") + Digest(F.mid(16, 48)), QStringLiteral("vga ") + Digest(Vga ? F.right(768) : QByteArray())};
}

// A JPEG-2000 code stream's components and their depths (SIZ); a JP2
// file's boxes, the header's inside, the resolution swapped by a quarter
// turn.
QString CodeStream(const QByteArray& C) {
  if (B16(C, 0) != 0xFF4F || B16(C, 2) != 0xFF51) return QStringLiteral("no code stream");
  const int Components = B16(C, 40);
  QString L = QStringLiteral("code stream of %1 components:").arg(Components);
  for (int I = 0; I < Components; ++I) L += QStringLiteral(" %1").arg(ByteAt(C, 42 + 3 * I));
  return L;
}

void Jp2Boxes(const QByteArray& F, qsizetype At, qsizetype End, const QString& In, bool Quarter, QStringList& L) {
  while (At + 8 <= End) {
    qint64 Length = B32(F, At);
    qsizetype Head = 8;
    if (Length == 1) Length = qint64(B32(F, At + 8)) << 32 | B32(F, At + 12), Head = 16;
    else if (Length == 0) Length = End - At;
    if (Length < Head || At + Length > End) {
      L << In + QStringLiteral("box past its end");
      return;
    }
    const QByteArray Type = F.mid(At + 4, 4), Data = F.mid(At + Head, qsizetype(Length) - Head);
    const QString Name = In + QString::fromLatin1(Type);
    if (Type == "jp2h" || Type == "res ") {
      Jp2Boxes(F, At + Head, At + qsizetype(Length), Name + '/', Quarter, L);
    } else if (Type == "ihdr") {
      L << Name + QStringLiteral(" components %1 depth %2 compression %3").arg(B16(Data, 8)).arg(ByteAt(Data, 10)).arg(ByteAt(Data, 11));
    } else if (Type == "resc" || Type == "resd") {
      QByteArray V = Data.left(4), H = Data.mid(4, 4);
      char VE = Data.size() > 8 ? Data[8] : 0, HE = Data.size() > 9 ? Data[9] : 0;
      if (Quarter) std::swap(V, H), std::swap(VE, HE);
      L << Name + ' ' + QString::fromLatin1((V + H).toHex()) + QStringLiteral(" %1 %2").arg(int(VE)).arg(int(HE));
    } else if (Type == "jp2c") {
      L << Name + ' ' + CodeStream(Data);
    } else if (Type == "ftyp") {
      // The brands are the writer's; the file's kind is not.
      L << Name + ' ' + QString::fromLatin1(Data.left(4));
    } else {
      L << Name + ' ' + Digest(Data);
    }
    At += qsizetype(Length);
  }
}

QStringList Jp2Anatomy(const QByteArray& F, bool Quarter) {
  QStringList L;
  if (F.startsWith("\xFF\x4F")) L << CodeStream(F);
  else Jp2Boxes(F, 0, F.size(), {}, Quarter, L);
  return L;
}

QStringList Anatomy(const std::string& Path, bool Quarter) {
  const QByteArray F = Bytes(Path);
  const QString Ext = Q(Path).section(QLatin1Char('.'), -1);
  using TAnatomy = QStringList (*)(const QByteArray&, bool);
  const QList<QPair<QString, TAnatomy>> Kinds = {
      {"png", PngAnatomy}, {"gif", GifAnatomy}, {"bmp", BmpAnatomy}, {"tif", TiffAnatomy}, {"jpg", JpegAnatomy},
      {"pbm", PnmAnatomy}, {"pgm", PnmAnatomy}, {"ppm", PnmAnatomy}, {"tga", TgaAnatomy},  {"pcx", PcxAnatomy},
      {"jp2", Jp2Anatomy}, {"j2k", Jp2Anatomy}};
  for (const auto& [Kind, Of] : Kinds)
    if (Kind == Ext) return Of(F, Quarter);
  return {};
}

// ---- 16-bit BMPs of bit fields, which ImageMagick cannot be told and
// misreads: it leaves fields of 1 to 4 bits their low bits clear (a 1-bit
// alpha is 128) and takes a 10-bit field's top to 254.

// The fields of Masks (red, green, blue, alpha) after a header of Size bytes
// (40: the masks follow it), each a gradient through every value it holds.
std::function<QByteArray(const std::string&)> Bmp16(quint32 Size, std::array<quint32, 4> Masks) {
  return [=](const std::string&) {
    const quint32 Offset = 14 + Size + (Size == 40 ? 12 : 0);
    QByteArray F = "BM" + Le(Offset + 2 * W * H, 4) + Le(0, 4) + Le(Offset, 4) + Le(Size, 4) + Le(W, 4) + Le(H, 4) + Le(1, 2) +
                   Le(16, 2) + Le(3, 4) + Le(2 * W * H, 4) + Le(2835, 4) + Le(3780, 4) + Le(0, 4) + Le(0, 4);
    for (int K = 0; K < (Size == 40 ? 3 : 4); ++K) F += Le(Masks[K], 4);
    if (Size >= 108) F += "BGRs" + QByteArray(qsizetype(Size) - 60, '\0');
    for (int Y = H - 1; Y >= 0; --Y)
      for (int X = 0; X < W; ++X) {
        // Down, across and along two diagonals.
        const double Along[4] = {Y / double(H), X / double(W), (X + Y) / double(W + H), (X + 2 * Y) / double(W + 2 * H)};
        quint32 V = 0;
        for (int K = 0; K < 4; ++K)
          if (const int Low = std::countr_zero(Masks[K]); Masks[K] != 0)
            V |= quint32(Along[K] * double((Masks[K] >> Low) + 1)) << Low;
        F += Le(V, 2);
      }
    return F;
  };
}

// The pixels of such a file (rows without padding), each field of up to 8
// bits widened to 0..255, a wider one by its top 8 bits; opaque without alpha.
QImage SixteenBitPixels(const QByteArray& F) {
  if (Le16(F, 28) != 16 || Le32(F, 30) != 3 || Le32(F, 18) != Le16(F, 18) || Le32(F, 22) != Le16(F, 22)) return {};
  const quint32 Masks[4] = {Le32(F, 54), Le32(F, 58), Le32(F, 62), Le32(F, 14) >= 56 ? Le32(F, 66) : 0};
  QImage I(int(Le32(F, 18)), int(Le32(F, 22)), QImage::Format_RGBA8888);
  for (int Y = 0; Y < I.height(); ++Y)
    for (int X = 0; X < I.width(); ++X)
      for (int K = 0; K < 4; ++K) {
        const quint32 V = Le16(F, Le32(F, 10) + 2 * ((I.height() - 1 - Y) * I.width() + X));
        const quint32 Width = quint32(std::popcount(Masks[K])), Field = Width == 0 ? 0 : (V & Masks[K]) >> std::countr_zero(Masks[K]);
        I.scanLine(Y)[4 * X + K] =
            uchar(Width == 0 ? (K == 3 ? 255 : 0) : Width > 8 ? Field >> (Width - 8) : Field * 255 / ((1u << Width) - 1));
      }
  return I;
}

// ---- The table

// ImageMagick's pictures: a plasma of many colours cut to a few, or shapes.
QString Plasma(int Colours) {
  return QStringLiteral("-seed|7|-size|%1x%2|plasma:fractal|-depth|8|-colors|%3").arg(W).arg(H).arg(Colours);
}
const QString Shapes = QStringLiteral("-size|480x320|xc:red|+antialias|-fill|blue|-draw|circle 240,160 240,40");

struct TCase {
  const char* Name; // the file's name; its extension gives the format
  std::function<QByteArray(const std::string& Folder)> Make;
  const char* Edit = "RotateCW";
  // The lines of the question the save asks, empty when it saves silently.
  QStringList Lost = {};
  // The mean difference a sample may show (a JPEG's new encoding, at the
  // quality saves are made with); -1 when
  // the pixels are not compared (a resize).
  double Tolerance = 0;
  // How the file begins once "Overwrite" is the answer to the question:
  // the format its name says.
  QByteArray Begins = {};
  // The pixels by the test's own reading, for files ImageMagick misreads:
  // the saved file's against the original's edited.
  QImage (*Decode)(const QByteArray&) = nullptr;
  // The error a read refused the file with: no picture is shown, and the
  // edit and the save cannot put one in its place.
  const char* Refused = nullptr;
};

// Made by ImageMagick's convert from the arguments (separated by "|").
std::function<QByteArray(const std::string&)> Im(const QString& Arguments, const char* Name) {
  return [=](const std::string& Folder) {
    const std::string Path = Folder + "/made-" + Name;
    QStringList A = Args(Arguments);
    // A format named before the name ("BMP3:") is one argument with it.
    if (A.last().endsWith(QLatin1Char(':'))) A.last() += Q(Path);
    else A << Q(Path);
    Magick(A);
    return Bytes(Path);
  };
}
std::function<QByteArray(const std::string&)> Png(const TPng& Layout) {
  return [=](const std::string&) { return PngFile(Layout); };
}

// A file with bytes after its picture that no part of it names.
const QByteArray Appended = "Appended by another program\n";
std::function<QByteArray(const std::string&)> Trailed(std::function<QByteArray(const std::string&)> Made) {
  return [=](const std::string& Folder) { return Made(Folder) + Appended; };
}

// ImageMagick's Targa with another program's extension area: texts, date,
// job time, software, key colour, and the pixels' aspect ratio and gamma
// as numerators and denominators (0/0: not stated).
std::function<QByteArray(const std::string&)> TgaExtended(const char* Name, QList<int> AspectGamma) {
  auto Made = Im(Plasma(4000), Name);
  return [=](const std::string& Folder) {
    const QByteArray F = Made(Folder);
    auto Words = [](QList<int> Values) { QByteArray B; for (int V : Values) B += Le(quint64(V), 2); return B; };
    auto Text = [](const char* T, int Size) { return QByteArray(T).leftJustified(Size, '\0'); };
    return F + Words({495}) + Text("Someone", 41) + Text("A remark", 324) + Words({3, 14, 2024, 15, 9, 26}) + Text("A job", 41) +
           Words({1, 2, 3}) + Text("Another program", 41) + Words({123}) + "b" + Chars({16, 32, 48, 64}) + Words(AspectGamma) +
           QByteArray(13, '\0') + Words({int(F.size()), int(F.size() >> 16), 0, 0}) + QByteArray("TRUEVISION-XFILE.\0", 18);
  };
}

// A JPEG with segments put after its first and bytes after its end.
std::function<QByteArray(const std::string&)> JpegWith(const QString& Arguments, const char* Name, const QByteArray& Segments,
                                                       const QByteArray& After) {
  auto Made = Im(Arguments, Name);
  return [=](const std::string& Folder) {
    QByteArray F = Made(Folder);
    return F.insert(4 + B16(F, 4), Segments) + After;
  };
}
QByteArray Segment(uchar Marker, const QByteArray& Data) {
  return Chars({0xFF, Marker, int(Data.size() + 2) >> 8, int(Data.size() + 2)}) + Data;
}

// A phone's motion photo: the video's bytes after the picture, named by the
// XMP as counted from the file's end.
QByteArray MotionVideo() {
  QByteArray V = Be32(24) + "ftypmp42" + Be32(0) + "isommp42" + Be32(8 + 4000) + "mdat";
  for (int I = 0; I < 4000; ++I) V += char(I * 131 >> 3);
  return V;
}
QByteArray MotionXmp() {
  return QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) +
         Xmp("xmlns:GCamera='http://ns.google.com/photos/1.0/camera/' GCamera:MicroVideo='1' GCamera:MicroVideoVersion='1' "
             "GCamera:MicroVideoOffset='" + QByteArray::number(MotionVideo().size()) + "'");
}

// ---- GIF files of one frame placed anywhere on its screen or off it.
// Green (entry 0, transparent), red, blue, white (the background); the
// frame's disposal is 2.

struct TGif {
  int ScreenWidth, ScreenHeight, Left, Top, Width, Height;
};

// Nine-bit codes, a clear code before every 250 pixels so that the code
// width never grows: the pixels stored, not compressed.
QByteArray GifCodes(const QByteArray& Indices) {
  QByteArray Packed;
  quint32 Bits = 0;
  int Held = 0;
  auto Put = [&](int Code) {
    Bits |= quint32(Code) << Held;
    for (Held += 9; Held >= 8; Held -= 8) Packed += char(Bits), Bits >>= 8;
  };
  for (qsizetype I = 0; I < Indices.size(); ++I) {
    if (I % 250 == 0) Put(256);
    Put(uchar(Indices[I]));
  }
  Put(257);
  if (Held > 0) Packed += char(Bits);
  QByteArray D(1, char(8));
  for (qsizetype At = 0; At < Packed.size(); At += 255) D += char(Packed.mid(At, 255).size()) + Packed.mid(At, 255);
  return D + char(0);
}

std::function<QByteArray(const std::string&)> Gif(const TGif& G) {
  return [=](const std::string&) {
    QByteArray Indices;
    for (int Y = 0; Y < G.Height; ++Y)
      for (int X = 0; X < G.Width; ++X) Indices += char((X / 8 + Y / 8) % 3 == 0 ? 0 : 1 + (X / 16 + Y / 32) % 3);
    return "GIF89a" + Le(G.ScreenWidth, 2) + Le(G.ScreenHeight, 2) + Chars({0x91, 3, 0}) +
           Chars({0, 255, 0, 255, 0, 0, 0, 0, 255, 255, 255, 255, 0x21, 0xF9, 4, 0x09, 0, 0, 0, 0, 0x2C}) +
           Le(G.Left, 2) + Le(G.Top, 2) + Le(G.Width, 2) + Le(G.Height, 2) + Chars({0}) +
           GifCodes(Indices) + ';';
  };
}

// A placeable metafile of two shapes, a rectangle and an ellipse.
QByteArray Metafile() {
  auto Le16s = [](std::initializer_list<int> Words) {
    QByteArray B;
    for (int V : Words) B += char(V), B += char(V >> 8);
    return B;
  };
  QByteArray Records = Le16s({7, 0, 0x041B, 400, 600, 40, 40}) + Le16s({7, 0, 0x0418, 300, 500, 100, 100}) +
                       Le16s({3, 0, 0});
  QByteArray Header = Le16s({1, 9, 0x300}) + Le16s({int(9 + Records.size() / 2), 0}) + Le16s({0, 7, 0, 0});
  QByteArray Placeable = Le16s({0xCDD7, 0x9AC6, 0, 0, 0, 640, 480, 96, 0, 0});
  quint16 Check = 0;
  for (int I = 0; I < 10; ++I) Check ^= Le16(Placeable, 2 * I);
  return Placeable + Le16s({Check}) + Header + Records;
}

// A page of gray rows whose Exif directory a SHORT leads to: a read follows
// it, a copy of the page's tags does not.
QByteArray ShortExifTiff() {
  auto Entry = [&](int Tag, int Type, quint32 Value) { return Le(Tag, 2) + Le(Type, 2) + Le(1, 4) + Le(Value, 4); };
  const QByteArray Exif = Le(1, 2) + Entry(0xA002, 4, W) + Le(0, 4);
  const quint32 Page = 8 + Exif.size(), Rows = Page + 2 + 10 * 12 + 4;
  QByteArray F = "II" + Le(42, 2) + Le(Page, 4) + Exif + Le(10, 2);
  for (const auto& [Tag, Type, Value] : std::initializer_list<std::tuple<int, int, quint32>>{
           {256, 3, W}, {257, 3, H}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1}, {273, 4, Rows}, {277, 3, 1},
           {278, 3, H}, {279, 4, W * H}, {34665, 3, 8}})
    F += Entry(Tag, Type, Value);
  F += Le(0, 4);
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) F += char((X ^ Y) & 255);
  return F;
}

// A BigTIFF of gray rows, its directory before them or after them: 8-byte
// offsets and counts, 20-byte entries.
QByteArray BigTiff(bool DirectoryFirst) {
  const quint64 Directory = DirectoryFirst ? 16 : 16 + W * H, Rows = DirectoryFirst ? 16 + 8 + 9 * 20 + 8 : 16;
  QByteArray Ifd = Le(9, 8);
  for (const auto& [Tag, Type, Value] : std::initializer_list<std::tuple<int, int, quint64>>{
           {256, 3, W}, {257, 3, H}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1}, {273, 16, Rows}, {277, 3, 1},
           {278, 3, H}, {279, 16, W * H}})
    Ifd += Le(Tag, 2) + Le(Type, 2) + Le(1, 8) + Le(Value, 8);
  Ifd += Le(0, 8);
  QByteArray Pixels;
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) Pixels += char((X ^ Y) & 255);
  const QByteArray Header = "II" + Le(43, 2) + Le(8, 2) + Le(0, 2) + Le(Directory, 8);
  return DirectoryFirst ? Header + Ifd + Pixels : Header + Pixels + Ifd;
}

// The case's name, not its bytes, in the test's name and messages.
void PrintTo(const TCase& C, std::ostream* Out) { *Out << C.Name; }

const char* const Damaged = "The file is damaged or not in a format that can be read.";
const QString Depth16 = QStringLiteral("The 16-bit depth of its colours (the picture is saved at 8 bits)");
const QString Drawing = QStringLiteral("The drawing: its shapes are saved as a picture of pixels");

const TCase Cases[] = {
    // PNG: every colour type and depth, palettes with and without alpha, chunks.
    {"pal1-redblue.png", Png({1, 3, 2, 0, {{"<iCCP", QByteArray("ICC profile\0\0", 13) + Deflated(Profile())}}})},
    {"pal1-clear.png", Png({1, 3, 2, 1})},
    {"pal2-partial.png", Png({2, 3, 4, 2}), "RotateCCW"},
    {"pal4.png", Png({4, 3, 16, 0, {{"pHYs", Be32(3780) + Be32(3780) + QByteArray(1, '\1')}}}), "FlipHorizontal"},
    {"pal8-partial.png", Png({8, 3, 256, 2})},
    {"pal8-texts.png", Png({8, 3, 200, 1, PngTexts(true)})},
    {"gray1.png", Png({1, 0})},
    {"gray2.png", Png({2, 0}), "Rotate180"},
    {"gray4-key.png", Png({4, 0, 0, 1})},
    {"gray8.png", Png({8, 0})},
    {"grayalpha8.png", Png({8, 4})},
    {"gray16.png", Png({16, 0}), "RotateCW", {Depth16}, 0, "\x89PNG"},
    // Resolutions of no whole dots per inch, the pixels' shape (square
    // pictures too, and turned ones resized), the Exif resolution.
    {"phys-2834.png", Png({8, 2, 0, 0, {{"pHYs", Be32(2834) + Be32(2834) + QByteArray(1, '\1')}}}), "FlipVertical"},
    {"phys-1000x500.png", Trailed(Png({8, 2, 0, 0, {{"pHYs", Be32(1000) + Be32(500) + QByteArray(1, '\1')}}}))},
    {"square-shape.png",
     Png({8, 0, 0, 0, {{"pHYs", Be32(2) + Be32(1) + QByteArray(1, '\0')}, {"sCAL", QByteArray("\x01" "0.001\0" "0.002", 12)}}, 320, 320}),
     "RotateCCW"},
    {"shape-resized.png",
     Png({8, 0, 0, 0, {{"pHYs", Be32(3) + Be32(1) + QByteArray(1, '\0')}, {"sCAL", QByteArray("\x01" "0.001\0" "0.003", 12)}}}),
     "RotateCW Resize", {}, -1},
    {"exif-dpi.png", Png({8, 2, 0, 0, {{"eXIf", ExifDpi}, {"pHYs", Be32(11811) + Be32(5906) + QByteArray(1, '\1')}}})},
    {"rgb8-texts.png", Png({8, 2, 0, 0, PngTexts(false)})},
    {"rgb8-key.png", Png({8, 2, 0, 1}), "FlipVertical"},
    {"rgba8.png", Png({8, 6, 0, 0, {{"tEXt", QByteArray("Author\0Someone", 14)}}})},
    {"rgb16.png", Png({16, 2}), "RotateCW", {Depth16}},
    {"interlaced.png", Im(Plasma(4000) + "|-interlace|PNG", "interlaced.png")},
    {"anim.png",
     [](const std::string& Folder) {
       const std::string Path = Folder + "/made-anim.png";
       Tool(QStringLiteral("ffmpeg"), Args(QStringLiteral("-v|error|-f|lavfi|-i|testsrc=size=480x320:rate=1|-frames|3|-plays|0|-f|apng|") + Q(Path)));
       return Bytes(Path);
     },
     "RotateCW", {"The other 2 frames of the animation"}, 0, "\x89PNG"},
    {"rgb8-resized.png", Png({8, 2, 0, 0, PngTexts(false)}), "Resize", {}, -1},
    // GIF: two colours, a transparent colour also used opaque, tables of 16 and 256.
    {"two.gif", Im(Shapes + "|-type|palette|-colors|2", "two.gif")},
    {"clear-black.gif",
     Im("-size|480x320|xc:white|+antialias|-fill|black|-draw|rectangle 0,0 200,319|-fill|red|-draw|rectangle 300,0 "
        "479,319|-alpha|set|-region|100x320+0+0|-alpha|transparent|+region",
        "clear-black.gif")},
    {"c16.gif", Im(Plasma(16) + "|-comment|A remark", "c16.gif"), "FlipHorizontal"},
    {"c16-resized.gif", Im(Plasma(16) + "|-comment|A remark", "c16-resized.gif"), "Resize", {}, -1},
    {"c256.gif", Im(Plasma(256) + "|-interlace|GIF", "c256.gif"), "RotateCCW"},
    // A frame past its screen, one larger than it (readers leave out what
    // lies past the screen), one wholly off it, a screen with no frame,
    // pixels twice as wide as high.
    {"past-screen.gif", Gif({W, H, 400, 240, 160, 160})},
    {"past-screen-flipped.gif", Gif({W, H, 400, 240, 160, 160}), "FlipHorizontal"},
    {"past-screen-half.gif", Gif({W, H, 400, 240, 160, 160}), "Rotate180"},
    {"larger-than-screen.gif", Gif({W, H, 0, 0, W + 32, H + 32}), "RotateCCW"},
    {"off-screen.gif", Gif({W, H, W, 0, H, H}), "RotateCCW"},
    {"no-frame.gif", [](const std::string&) { return QByteArray("GIF89a\x14\0\x0A\0\x80\0\0\0\0\0\xFF\xFF\xFF;", 20); },
     "RotateCW", {}, 0, {}, nullptr, Damaged},
    {"wide-pixels.gif", [](const std::string& F) { return Im(Plasma(16), "wide-pixels.gif")(F).replace(12, 1, "\x71"); }},
    // BMP: 1, 4, 8 bits of their own palettes, run-length, the old header, resolution.
    {"two.bmp", Im(Shapes + "|-type|palette|-colors|2|BMP3:", "two.bmp")},
    {"c16.bmp", Im(Plasma(16) + "|BMP3:", "c16.bmp")},
    {"c200.bmp", Im(Plasma(200) + "|-units|PixelsPerCentimeter|-density|118.11x59.055|BMP3:", "c200.bmp")},
    {"rle8.bmp", Im(Plasma(61) + "|-compress|RLE|BMP3:", "rle8.bmp"), "RotateCCW"},
    {"core.bmp", Im(Plasma(200) + "|BMP2:", "core.bmp"), "Rotate180"},
    {"rgb.bmp", Im(Plasma(4000) + "|-type|TrueColor|BMP3:", "rgb.bmp")},
    // BMP: 16-bit fields of their own widths and places, with alpha.
    {"rgb16-3103.bmp", Bmp16(40, {0x0038, 0xFFC0, 0x0007, 0}), "RotateCW", {}, 0, {}, SixteenBitPixels},
    {"argb16-1555.bmp", Bmp16(124, {0x7C00, 0x03E0, 0x001F, 0x8000}), "RotateCW", {}, 0, {}, SixteenBitPixels},
    {"argb16-4444.bmp", Bmp16(108, {0x0F00, 0x00F0, 0x000F, 0xF000}), "RotateCCW", {}, 0, {}, SixteenBitPixels},
    // TIFF: a fax of its own resolution, palettes, gray of either byte order, units.
    {"fax.tif", Im(Shapes + "|-monochrome|-compress|Group4|-units|PixelsPerInch|-density|204x98", "fax.tif")},
    {"c16.tif", Im(Plasma(16) + "|-type|palette|-depth|4|-compress|LZW", "c16.tif")},
    {"c200.tif", Im(Plasma(200) + "|-type|palette|-units|PixelsPerCentimeter|-density|40x20", "c200.tif"), "RotateCCW"},
    {"gray-msb.tif", Im(Plasma(4000) + "|-type|grayscale|-endian|MSB", "gray-msb.tif")},
    {"rgb.tif", Im(Plasma(4000) + "|-type|TrueColor|-compress|LZW|-set|comment|A page|-units|PixelsPerInch|-density|300x150", "rgb.tif")},
    {"rgb-resized.tif", Im(Plasma(4000) + "|-type|TrueColor|-set|comment|A page|-density|300x150", "rgb-resized.tif"), "Resize", {}, -1},
    // JPEG: densities, gray, text, and what follows the picture.
    {"dpi.jpg", JpegWith(Plasma(4000) + "|-units|PixelsPerInch|-density|300x150", "dpi.jpg", Segment(0xFE, "A remark"), {}), "RotateCW", {}, 5},
    {"nodensity.jpg", Im(Plasma(4000) + "|-type|grayscale", "nodensity.jpg"), "RotateCW", {}, 5},
    {"motion.jpg", JpegWith(Plasma(4000), "motion.jpg", Segment(0xE1, MotionXmp()), MotionVideo()), "RotateCW", {}, 5},
    {"motion-resized.jpg", JpegWith(Plasma(4000), "motion-resized.jpg", Segment(0xE1, MotionXmp()), MotionVideo()), "Resize", {}, -1},
    // PBM, PGM, PPM: raw and plain, a maxval of its own, 16 bits.
    {"bits.pbm", Im(Shapes + "|-monochrome", "bits.pbm")},
    {"gray.pgm", Im(Plasma(4000) + "|-type|grayscale|-depth|8", "gray.pgm")},
    {"gray15.pgm", Im(Plasma(4000) + "|-type|grayscale|-depth|4", "gray15.pgm"), "RotateCCW"},
    {"rgb.ppm", Im(Plasma(4000) + "|-depth|8", "rgb.ppm")},
    {"rgb16.ppm", Im(Plasma(4000) + "|-depth|16", "rgb16.ppm"), "RotateCW", {Depth16}, 0, "P6 "},
    {"plain15.pgm", Im(Plasma(4000) + "|-type|grayscale|-depth|4|-compress|none", "plain15.pgm"), "FlipHorizontal"},
    // PCX and Targa: palettes, gray, run-length, alpha.
    {"two.pcx", Im(Shapes + "|-monochrome", "two.pcx")},
    {"c200.pcx", Im(Plasma(200) + "|-type|palette|-units|PixelsPerInch|-density|300x150", "c200.pcx")},
    {"rgb.pcx", Im(Plasma(4000) + "|-type|TrueColor", "rgb.pcx")},
    {"c200.tga", Im(Plasma(200) + "|-type|palette", "c200.tga")},
    {"gray.tga", Im(Plasma(4000) + "|-type|grayscale", "gray.tga"), "FlipVertical"},
    {"rgb-rle.tga", Im(Plasma(4000) + "|-compress|RLE", "rgb-rle.tga")},
    {"rgba.tga", Im(Plasma(4000) + "|-alpha|set|-channel|A|-fx|i / w|+channel", "rgba.tga")},
    {"ext-aspect-unstated.tga", TgaExtended("ext-aspect-unstated.tga", {0, 0, 22, 10})},
    {"ext-gamma-unstated.tga", TgaExtended("ext-gamma-unstated.tga", {2, 1, 0, 0}), "RotateCCW"},
    // JPEG-2000 with a channel the read leaves out, with none, with boxes of
    // metadata; a metafile's drawing.
    {"rgba.jp2",
     [](const std::string& Folder) {
       Magick(Args(Plasma(4000) + "|-alpha|set|-channel|A|-fx|j / h|+channel|-depth|8") << Q(Folder + "/made-rgba.png"));
       Tool(QStringLiteral("opj_compress"), {QStringLiteral("-i"), Q(Folder + "/made-rgba.png"), QStringLiteral("-o"), Q(Folder + "/made-rgba.jp2")});
       return Bytes(Folder + "/made-rgba.jp2");
     },
     "RotateCW", {"The transparency"}, 0, QByteArray("\0\0\0\x0CjP  ", 8)},
    {"plain.jp2", Im(Plasma(4000), "plain.jp2"), "FlipHorizontal"},
    {"xmp.jp2",
     [](const std::string& Folder) {
       const QByteArray Data = Xmp("xmlns:dc='http://purl.org/dc/elements/1.1/' dc:rights='Mine'");
       const QByteArray Box = Be32(quint32(8 + Data.size())) + "xml " + Data;
       return Im(Plasma(4000), "xmp.jp2")(Folder) + Box + Be32(12) + "uuid" + "Mine" + Box;
     },
     "RotateCW", {"The boxes xml, uuid of the file"}, 0, QByteArray("\0\0\0\x0CjP  ", 8)},
    // Bytes after the picture, and before a JPEG's.
    {"trailed.png", Trailed(Png({8, 2, 0, 0, PngTexts(false)}))},
    {"trailed.gif", Trailed(Im(Plasma(16), "trailed.gif")), "RotateCCW"},
    {"trailed-resized.gif", Trailed(Im(Plasma(16), "trailed-resized.gif")), "Resize", {}, -1},
    {"trailed.bmp", Trailed(Im(Plasma(200) + "|BMP3:", "trailed.bmp"))},
    {"trailed-rle.bmp", Trailed(Im(Plasma(61) + "|-compress|RLE|BMP3:", "trailed-rle.bmp")), "FlipVertical"},
    {"trailed.tif", Trailed(Im(Plasma(4000) + "|-type|TrueColor", "trailed.tif"))},
    {"trailed-pages.tif", Trailed(Im(Plasma(4000) + "|-size|480x320|gradient:red-blue|-type|TrueColor|-endian|MSB", "trailed-pages.tif")), "RotateCCW"},
    {"trailed-resized.tif", Trailed(Im(Plasma(4000) + "|-type|TrueColor|-compress|LZW", "trailed-resized.tif")), "Resize", {}, -1},
    {"trailed-unkept.tif", Trailed([](const std::string&) { return ShortExifTiff(); }), "RotateCW",
     {"Tags of the file that cannot be copied as they are", "The 28 bytes the file holds after the picture"}, 0, "II*"},
    {"two-pictures.ppm", Trailed([](const std::string& F) { return Im(Plasma(4000), "first.ppm")(F) + Im(Shapes, "second.ppm")(F); })},
    {"trailed.pgm", Trailed(Im(Plasma(4000) + "|-type|grayscale|-compress|none", "trailed.pgm")), "Rotate180"},
    {"trailed.pcx", Trailed(Im(Plasma(4000) + "|-type|TrueColor", "trailed.pcx")), "RotateCW", {"The 28 bytes the file holds after the picture"}, 0, "\x0A\x05\x01"},
    {"trailed.tga", Trailed(Im(Plasma(4000), "trailed.tga")), "RotateCW", {"The 28 bytes the file holds after the picture"}},
    {"trailed.jp2", Trailed(Im(Plasma(4000), "trailed.jp2")), "RotateCW", {"The 28 bytes the file holds after the picture"}},
    {"trailed.j2k", Trailed(Im(Plasma(4000), "trailed.j2k")), "Rotate180", {"The 28 bytes the file holds after the picture"}},
    // Renamed by the program between the read and the save: what follows the
    // picture is copied from the file read, whatever its name now.
    {"renamed-trailed.png", Trailed(Png({8, 2, 0, 0, PngTexts(false)}))},
    {"renamed-motion.jpg", JpegWith(Plasma(4000), "renamed-motion.jpg", Segment(0xE1, MotionXmp()), MotionVideo()), "RotateCW", {}, 5},
    {"renamed-trailed.bmp", Trailed(Im(Plasma(200) + "|BMP3:", "renamed-trailed.bmp")), "FlipHorizontal"},
    {"renamed-two-pictures.ppm", Trailed([](const std::string& F) { return Im(Plasma(4000), "first.ppm")(F) + Im(Shapes, "second.ppm")(F); }), "RotateCCW"},
    {"renamed-trailed.gif", Trailed(Im(Plasma(16), "renamed-trailed.gif")), "Rotate180"},
    {"renamed-trailed-pages.tif", Trailed(Im(Plasma(4000) + "|-size|480x320|gradient:red-blue|-type|TrueColor", "renamed-trailed-pages.tif"))},
    {"leading.jpg", [](const std::string& F) { return QByteArray("Leading") + Im(Plasma(4000), "leading.jpg")(F); },
     "RotateCW", {"The 7 bytes the file holds before the picture"}, 0, "\xFF\xD8\xFF"},
    // Resized: the same save keeps what the file held besides the pixels.
    {"c200-resized.bmp", Im(Plasma(200) + "|-units|PixelsPerCentimeter|-density|118.11x59.055|BMP3:", "c200-resized.bmp"), "Resize", {}, -1},
    {"rle-resized.bmp", Im(Plasma(61) + "|-compress|RLE|BMP3:", "rle-resized.bmp"), "Resize", {}, -1},
    {"plain15-resized.pgm", Im(Plasma(4000) + "|-type|grayscale|-depth|4|-compress|none", "plain15-resized.pgm"), "Resize", {}, -1},
    {"c200-resized.pcx", Im(Plasma(200) + "|-type|palette|-units|PixelsPerInch|-density|300x150", "c200-resized.pcx"), "Resize", {}, -1},
    {"rgba-resized.tga", Im(Plasma(4000) + "|-alpha|set|-channel|A|-fx|i / w|+channel", "rgba-resized.tga"), "Resize", {}, -1},
    {"c16-resized.tif", Im(Plasma(16) + "|-type|palette|-depth|4|-compress|LZW", "c16-resized.tif"), "Resize", {}, -1},
    {"fax-resized.tif", Im(Shapes + "|-monochrome|-compress|Group4|-units|PixelsPerInch|-density|204x98", "fax-resized.tif"), "Resize", {}, -1},
    {"gray16-resized.png", Png({16, 0}), "Resize", {Depth16}, 0, "\x89PNG"},
    {"plan.wmf", [](const std::string&) { return Metafile(); }, "RotateCW", {Drawing}, 0, "\xD7\xCD\xC6\x9A"},
    {"plan.emf",
     [](const std::string& Folder) {
       Magick(Args(Shapes) << Q(Folder + "/made-plan.png"));
       platform::TMetafile Emf;
       Emf.Assign(QImage(Q(Folder + "/made-plan.png")));
       return QByteArray(reinterpret_cast<const char*>(Emf.Data().data()), qsizetype(Emf.Data().size()));
     },
     "RotateCW", {Drawing}, 0, QByteArray("\x01\0\0\0", 4)},
    // Refused, and never written over: a BigTIFF, whose pixels or offsets a
    // classic reader would take for its directory.
    {"bigtiff-after.tif", [](const std::string&) { return BigTiff(false); }, "RotateCW", {}, 0, {},
     nullptr, "BigTIFF files are not supported"},
    {"bigtiff-first.tif", [](const std::string&) { return BigTiff(true); }, "RotateCW", {}, 0, {},
     nullptr, "BigTIFF files are not supported"},
};

class SaveRoundTrip : public ::testing::TestWithParam<TCase>, protected TMainWindowHost {
protected:
  void SetUp() override {
    if (Magick({QStringLiteral("-version")}).isEmpty()) GTEST_SKIP() << "ImageMagick is not installed";
    // Somewhere to step to: the silent save runs on the way.
    Env.Picture("zz.png", 40, 30);
  }
  // The frames of a file as 8-bit RGBA, after ImageMagick's options.
  static QByteArray Pixels(const std::string& Path, const QString& Options = {}) {
    // Upright as the file says: ImageMagick writes Targa rows the other way
    // up from the corner its header names, and reads them back so.
    return Magick(QStringList{Q(Path), QStringLiteral("-coalesce"), QStringLiteral("-auto-orient")} +
                  (Options.isEmpty() ? QStringList() : Args(Options)) +
                  QStringList{QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("rgba:-")});
  }
};

QString TurnOf(const std::string& Edit) {
  if (Edit == "RotateCW") return QStringLiteral("-rotate|90");
  if (Edit == "RotateCCW") return QStringLiteral("-rotate|-90");
  if (Edit == "Rotate180") return QStringLiteral("-rotate|180");
  return Edit == "FlipHorizontal" ? QStringLiteral("-flop") : QStringLiteral("-flip");
}

double MeanDifference(const QByteArray& A, const QByteArray& B) {
  if (A.size() != B.size() || A.isEmpty()) return 1e9;
  double Sum = 0;
  for (qsizetype I = 0; I < A.size(); ++I) Sum += std::abs(int(uchar(A[I])) - int(uchar(B[I])));
  return Sum / double(A.size());
}

} // namespace

TEST_P(SaveRoundTrip, TheFileComesBackTurnedWithAllItHeldOrTheSaveAsks) {
  const TCase& C = GetParam();
  std::string Path = Env.File(C.Name);
  const std::string Was = Env.File(std::string("was-") + C.Name);
  const QByteArray Made = C.Make(Env.Folder());
  ASSERT_FALSE(Made.isEmpty()) << "the reference tool made no file";
  ASSERT_TRUE(WriteBytes(Path, Made) && WriteBytes(Was, Made));
  const std::string Edit = C.Edit;
  Show(Path);
  if (C.Refused != nullptr) {
    // The read fails as a broken file's does; the next picture is shown,
    // and an edit and a save write nothing over the file.
    EXPECT_EQ(Env.LastHelpCaption.toStdString(), "File Error");
    EXPECT_EQ(Env.LastHelpDetail.toStdString(), C.Refused);
    EXPECT_NE(Form().CurrentFilePath().toStdString(), Path) << "the file is shown as a picture";
    Form().Execute(C.Edit);
    Form().Execute("Save");
    EXPECT_TRUE(Bytes(Path) == Made) << "the file was written over";
    return;
  }
  ASSERT_TRUE(Form().HasImage());
  if (QByteArray(C.Name).startsWith("renamed-")) {
    // The program's Rename, before the edit.
    app::TRenameDlg Dialog;
    app::TRenameDlg::ModalAnswer = [](app::TRenameDlg& D) {
      D.EdtNewFileName->setText(D.EdtNewFileName->text().replace(QStringLiteral("renamed-"), QStringLiteral("moved-")));
      D.done(1);
    };
    Form().RenameShownFile();
    app::TRenameDlg::ModalAnswer = nullptr;
    Path = Env.File(QByteArray(C.Name).replace("renamed-", "moved-").toStdString());
    ASSERT_EQ(Form().CurrentFilePath().toStdString(), Path);
  }
  Env.HelpAnswer = 3; // "Discard Changes" when asked
  // A resize, after a turn when one is named before it.
  if (Edit.ends_with("Resize")) {
    if (Edit != "Resize") Form().Execute(Edit.substr(0, Edit.find(' ')).c_str());
    Form().ResizeImage(W * 3 / 4, H * 3 / 4);
    Form().Execute("Save");
  } else {
    Form().Execute(Edit.c_str());
    ASSERT_TRUE(Form().IsImageModified());
    Form().Execute("NextImage");
  }
  Loaded();
  QStringList Asked;
  for (const QString& Line : Env.LastHelpDetail.split(QLatin1Char('\n')))
    if (Line.startsWith(QStringLiteral(" - "))) Asked << Line.mid(3);
  if (!C.Lost.isEmpty()) {
    EXPECT_EQ(Env.LastHelpCaption.toStdString(), "Not everything can be saved");
    EXPECT_EQ(Asked.join(QStringLiteral("; ")).toStdString(), C.Lost.join(QStringLiteral("; ")).toStdString());
    EXPECT_TRUE(Bytes(Path) == Made) << "the file was written, though the user discarded the edit";
    if (C.Begins.isEmpty()) return;
    // Asked again and answered "Overwrite": written as its name says.
    Show(Path);
    Env.HelpAnswer = 1;
    Form().Execute(QString::fromLatin1(C.Edit));
    Form().Execute("Save");
    EXPECT_TRUE(Bytes(Path).startsWith(C.Begins)) << "not written as its name says";
    return;
  }
  EXPECT_EQ(Env.HelpShown, 0) << Env.LastHelpCaption.toStdString() << ": " << Asked.join("; ").toStdString();
  EXPECT_NE(Bytes(Path), Made) << "nothing was saved";
  const bool Quarter = Edit.starts_with("RotateCW") || Edit.starts_with("RotateCCW");
  EXPECT_EQ(Anatomy(Path, false).join('\n').toStdString(), Anatomy(Was, Quarter).join('\n').toStdString());
  // What followed the picture follows it still; the first pictures are
  // compared without it (ImageMagick refuses a BMP longer than it says).
  std::string Bare = Path, BareWas = Was;
  if (Made.endsWith(Appended)) {
    EXPECT_TRUE(Bytes(Path).endsWith(Appended)) << "the bytes after the picture are gone";
    Bare = Env.File(std::string("bare-") + C.Name), BareWas = Env.File(std::string("bare-was-") + C.Name);
    ASSERT_TRUE(WriteBytes(Bare, Bytes(Path).chopped(Appended.size())) && WriteBytes(BareWas, Made.chopped(Appended.size())));
    Bare += "[0]", BareWas += "[0]";
    // Saved twice more from the picture shown: they still follow it.
    Show(Path);
    for (int I = 0; I < 2; ++I) Form().Execute("RotateCW"), Form().Execute("Save");
    EXPECT_TRUE(Bytes(Path).endsWith(Appended)) << "a later save lost the bytes after the picture";
    // Turned a half since: all else the same as after the first save.
    EXPECT_EQ(Anatomy(Path, false).join('\n').toStdString(), Anatomy(Was, Quarter).join('\n').toStdString());
  }
  if (C.Tolerance < 0) return;
  if (C.Decode != nullptr) {
    const QImage Was = C.Decode(Made);
    const QImage Edited = Edit.starts_with("Flip") ? Was.mirrored(Edit == "FlipHorizontal", Edit == "FlipVertical")
                                                   : Was.transformed(QTransform().rotate(Edit == "RotateCW" ? 90 : Edit == "RotateCCW" ? -90 : 180));
    EXPECT_TRUE(!Was.isNull() && C.Decode(Bytes(Path)) == Edited) << "pixels or alpha differ from the file's own edited";
    return;
  }
  const QByteArray Saved = Pixels(Bare), Turned = Pixels(BareWas, TurnOf(Edit));
  ASSERT_FALSE(Turned.isEmpty());
  if (C.Tolerance == 0) {
    EXPECT_TRUE(Saved == Turned) << "pixels or alpha differ from ImageMagick's turn";
  } else {
    EXPECT_LE(MeanDifference(Saved, Turned), C.Tolerance);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, SaveRoundTrip, ::testing::ValuesIn(Cases), [](const auto& Info) {
  QString Name = QString::fromLatin1(Info.param.Name);
  Name.replace(QLatin1Char('.'), QLatin1Char('_')).replace(QLatin1Char('-'), QLatin1Char('_'));
  return Name.toStdString();
});
