// The reference tools the save tests judge files with (ImageMagick and
// the like), and a small colour profile to put into files.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <string>

namespace apptest {

// Arguments separated by "|".
inline QStringList Args(const QString& Text) { return Text.split(QLatin1Char('|')); }
inline QString Q(const std::string& Text) { return QString::fromStdString(Text); }

// What a reference tool prints; empty when it fails. A loaded machine can
// take over a minute for a file of many frames: only a hung tool fails.
inline QByteArray Tool(const QString& Program, const QStringList& Arguments) {
  QProcess P;
  P.start(Program, Arguments);
  if (!P.waitForFinished(180000) || P.exitStatus() != QProcess::NormalExit || P.exitCode() != 0) return {};
  return P.readAllStandardOutput();
}
inline QByteArray Magick(const QStringList& Arguments) { return Tool(QStringLiteral("convert"), Arguments); }
inline QByteArray Identify(const std::string& Path, const char* Format) {
  return Tool(QStringLiteral("identify"), {QStringLiteral("-format"), QString::fromLatin1(Format), Q(Path)});
}
inline QByteArray Bytes(const std::string& Path) {
  QFile File(Q(Path));
  return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}
inline bool WriteBytes(const std::string& Path, const QByteArray& Data) {
  QFile File(Q(Path));
  return File.open(QIODevice::WriteOnly) && File.write(Data) == Data.size();
}

// A small RGB display profile as colour-managed programs write them: a
// header, the colourants, white point, curves and a text.
inline QByteArray Profile() {
  auto Be32 = [](QByteArray& B, quint32 V) { B.append(char(V >> 24)).append(char(V >> 16)).append(char(V >> 8)).append(char(V)); };
  auto Xyz = [&](double X, double Y, double Z) {
    QByteArray B("XYZ \0\0\0\0", 8);
    for (double V : {X, Y, Z}) Be32(B, quint32(qint32(V * 65536)));
    return B;
  };
  const QByteArray Curve("curv\0\0\0\0\0\0\0\x01\x02\x33\0\0", 16);
  const QList<QPair<QByteArray, QByteArray>> Tags = {
      {"cprt", QByteArray("text\0\0\0\0No copyright\0\0\0\0", 24)}, {"wtpt", Xyz(0.9642, 1, 0.8249)},
      {"rXYZ", Xyz(0.4361, 0.2225, 0.0139)}, {"gXYZ", Xyz(0.3851, 0.7169, 0.0971)},
      {"bXYZ", Xyz(0.1431, 0.0606, 0.7141)}, {"rTRC", Curve}, {"gTRC", Curve}, {"bTRC", Curve}};
  QByteArray Table, Data;
  Be32(Table, quint32(Tags.size()));
  for (const auto& [Signature, Value] : Tags) {
    Table += Signature;
    Be32(Table, quint32(128 + 4 + 12 * Tags.size() + Data.size()));
    Be32(Table, quint32(Value.size()));
    Data += Value;
  }
  QByteArray Header(128, '\0');
  qToBigEndian<quint32>(quint32(128 + Table.size() + Data.size()), Header.data());
  Header.replace(8, 4, QByteArray("\x02\x10\0\0", 4));
  Header.replace(12, 12, "mntrRGB XYZ ");
  Header.replace(36, 4, "acsp");
  Header.replace(68, 12, QByteArray("\0\0\xF6\xD6\0\x01\0\0\0\0\xD3\x2D", 12));
  return Header + Table + Data;
}

} // namespace apptest
