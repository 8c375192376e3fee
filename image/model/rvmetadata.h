// The metadata that travels with a picture besides its pixels: the JPEG
// markers a reader keeps so that a writer can put them back, and the IPTC
// records of an APP13 segment.
#pragma once

#include <cstdint>
#include <vector>

namespace rv {

// Marker codes as stored in the list.
inline constexpr std::uint8_t RvMarkerComment = 0xFE;
inline constexpr std::uint8_t RvMarkerApp0 = 0xE0; // APP0 .. APP15 = 0xE0 .. 0xEF

// COM and APPn segments: each the payload without marker code and length.
class TRvMarkerList {
public:
  TRvMarkerList() = default;
  ~TRvMarkerList() = default;
  TRvMarkerList(const TRvMarkerList&) = delete;
  TRvMarkerList& operator=(const TRvMarkerList&) = delete;

  int Count() const { return static_cast<int>(FData.size()); }
  // No range checks: callers walk 0 .. Count - 1.
  std::uint8_t* MarkerData(int N) { return FData[N].data(); }
  const std::uint8_t* MarkerData(int N) const { return FData[N].data(); }
  std::uint8_t MarkerType(int N) const { return FTypes[N]; }
  int MarkerLength(int N) const { return static_cast<int>(FData[N].size()); }

  // The first marker with that code, -1 when none.
  int IndexOf(std::uint8_t Code) const;
  // Appends a copy of the data; answers its index. A negative length counts as 0.
  int AddMarker(std::uint8_t Code, const void* Data, int Length);
  void SetMarkerData(int N, std::uint8_t Code, const void* Data, int Length);
  void Clear();
  // Null is ignored.
  void Assign(const TRvMarkerList* Source);

private:
  std::vector<std::vector<std::uint8_t>> FData;
  std::vector<std::uint8_t> FTypes;
};

// One IIM data set's place: record number, data-set number, data length.
struct TRvIPTCRecord {
  std::int32_t RecordNumber = 0;
  std::int32_t DataSet = 0;
  std::int32_t Length = 0;
};

// IPTC Information Interchange Model data sets, as found in (and written to)
// a Photoshop APP13 block.
class TRvIPTCInfoList {
public:
  TRvIPTCInfoList() = default;
  ~TRvIPTCInfoList() = default;
  TRvIPTCInfoList(const TRvIPTCInfoList&) = delete;
  TRvIPTCInfoList& operator=(const TRvIPTCInfoList&) = delete;

  int Count() const { return static_cast<int>(FRecords.size()); }
  // No range checks.
  int RecordNumber(int N) const { return FRecords[N].RecordNumber; }
  int DataSet(int N) const { return FRecords[N].DataSet; }
  int ItemLength(int N) const { return FRecords[N].Length; }
  const std::uint8_t* ItemData(int N) const { return FData[N].data(); }

  // Appends a copy of the data; answers its index.
  int AddItem(int RecordNumber, int DataSet, int Length, const void* Data);
  void Clear();
  // Null is ignored.
  void Assign(const TRvIPTCInfoList* Source);

  // The APP13 payload: "Photoshop 3.0", an 8BIM IPTC-NAA resource, the IIM
  // records (all but record 2 data set 0), padded to an even length.
  std::vector<std::uint8_t> SaveToStandardBuffer() const;
  // Parses the IIM records found from the first 0x1C byte on; a truncated
  // record ends parsing with the items read so far.
  void LoadFromStandardBuffer(const void* Buffer, std::int64_t Size);

  // True after any change made through the methods above; false right after
  // LoadFromStandardBuffer. Writers rebuild the APP13 segment only when set.
  bool Changed = false;

private:
  std::vector<std::vector<std::uint8_t>> FData;
  std::vector<TRvIPTCRecord> FRecords;
};

} // namespace rv
