#include "image/model/rvmetadata.h"

#include <cstdint>
#include <cstring>

namespace rv {

namespace {

std::vector<std::uint8_t> CopyBytes(const void* Data, std::int64_t Length) {
  if (Data == nullptr || Length <= 0) return {};
  const auto* P = static_cast<const std::uint8_t*>(Data);
  return std::vector<std::uint8_t>(P, P + Length);
}

void PutBE32(std::uint8_t* P, std::uint32_t V) {
  P[0] = static_cast<std::uint8_t>(V >> 24);
  P[1] = static_cast<std::uint8_t>(V >> 16);
  P[2] = static_cast<std::uint8_t>(V >> 8);
  P[3] = static_cast<std::uint8_t>(V);
}

} // namespace

// ---- TRvMarkerList

int TRvMarkerList::IndexOf(std::uint8_t Code) const {
  for (std::size_t I = 0; I < FTypes.size(); ++I)
    if (FTypes[I] == Code) return static_cast<int>(I);
  return -1;
}

int TRvMarkerList::AddMarker(std::uint8_t Code, const void* Data, int Length) {
  FData.push_back(CopyBytes(Data, Length));
  FTypes.push_back(Code);
  return Count() - 1;
}

void TRvMarkerList::SetMarkerData(int N, std::uint8_t Code, const void* Data, int Length) {
  if (N < 0 || N >= Count()) return;
  FData[N] = CopyBytes(Data, Length);
  FTypes[N] = Code;
}

void TRvMarkerList::Clear() {
  FData.clear();
  FTypes.clear();
}

void TRvMarkerList::Assign(const TRvMarkerList* Source) {
  if (Source == nullptr || Source == this) return;
  Clear();
  for (int I = 0; I < Source->Count(); ++I)
    AddMarker(Source->MarkerType(I), Source->MarkerData(I), Source->MarkerLength(I));
}

// ---- TRvIPTCInfoList

int TRvIPTCInfoList::AddItem(int RecordNumber, int DataSet, int Length, const void* Data) {
  if (Length < 0) Length = 0;
  TRvIPTCRecord R;
  R.RecordNumber = RecordNumber;
  R.DataSet = DataSet;
  R.Length = Length;
  FData.push_back(CopyBytes(Data, Length));
  // A missing data pointer still gives an item of the stated length.
  FData.back().resize(static_cast<std::size_t>(Length));
  FRecords.push_back(R);
  Changed = true;
  return Count() - 1;
}

void TRvIPTCInfoList::Clear() {
  FData.clear();
  FRecords.clear();
  Changed = true;
}

void TRvIPTCInfoList::Assign(const TRvIPTCInfoList* Source) {
  if (Source == nullptr || Source == this) return;
  Clear();
  for (int I = 0; I < Source->Count(); ++I)
    AddItem(Source->RecordNumber(I), Source->DataSet(I), Source->ItemLength(I), Source->ItemData(I));
  Changed = true;
}

std::vector<std::uint8_t> TRvIPTCInfoList::SaveToStandardBuffer() const {
  static const char Header[] = "Photoshop 3.0"; // 13 characters and the zero
  std::vector<std::uint8_t> Out(26, 0);
  std::memcpy(Out.data(), Header, 14);
  std::memcpy(Out.data() + 14, "8BIM", 4);
  Out[18] = 0x04;
  Out[19] = 0x04;
  std::uint32_t RunningSize = 0;
  for (int I = 0; I < Count(); ++I) {
    const TRvIPTCRecord& R = FRecords[I];
    // Readers add the record version themselves.
    if (R.RecordNumber == 2 && R.DataSet == 0) continue;
    const auto Length = static_cast<std::uint32_t>(R.Length);
    Out.push_back(0x1C);
    Out.push_back(static_cast<std::uint8_t>(R.RecordNumber));
    Out.push_back(static_cast<std::uint8_t>(R.DataSet));
    if (Length < 32768) {
      Out.push_back(static_cast<std::uint8_t>(Length >> 8));
      Out.push_back(static_cast<std::uint8_t>(Length));
      RunningSize += 5 + Length;
    } else {
      Out.push_back(0x80);
      Out.push_back(0x04);
      std::uint8_t L[4];
      PutBE32(L, Length);
      Out.insert(Out.end(), L, L + 4);
      RunningSize += 9 + Length;
    }
    Out.insert(Out.end(), FData[I].begin(), FData[I].end());
  }
  if (Out.size() % 2 != 0) Out.push_back(0);
  PutBE32(Out.data() + 22, RunningSize);
  return Out;
}

void TRvIPTCInfoList::LoadFromStandardBuffer(const void* Buffer, std::int64_t Size) {
  Clear();
  const auto* B = static_cast<const std::uint8_t*>(Buffer);
  if (B == nullptr || Size <= 0) {
    Changed = false;
    return;
  }
  std::int64_t P = 0;
  while (P < Size && B[P] != 0x1C) ++P;
  while (P < Size) {
    if (B[P] != 0x1C || P + 5 >= Size) break;
    const int Record = B[P + 1];
    const int DataSet = B[P + 2];
    std::int64_t Length;
    std::int64_t DataStart;
    if (B[P + 3] < 0x80) {
      Length = (B[P + 3] << 8) | B[P + 4];
      DataStart = P + 5;
    } else {
      // The extended length needs its four bytes inside the buffer.
      if (P + 9 > Size) break;
      const auto Raw = static_cast<std::int32_t>((std::uint32_t{B[P + 5]} << 24) |
                                                 (std::uint32_t{B[P + 6]} << 16) |
                                                 (std::uint32_t{B[P + 7]} << 8) | B[P + 8]);
      // In 64 bits, so that the most negative length has an absolute value.
      Length = Raw < 0 ? -static_cast<std::int64_t>(Raw) : Raw;
      DataStart = P + 9;
    }
    if (Length > Size - DataStart || Length > INT32_MAX) break;
    AddItem(Record, DataSet, static_cast<int>(Length), B + DataStart);
    P = DataStart + Length;
  }
  Changed = false;
}

} // namespace rv
