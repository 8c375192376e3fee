// Small containers of the image library: a growable array of fixed-size
// items with its float, integer and record kinds, a byte buffer that grows in
// blocks, and a stream that only counts what passes through it.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/stream.h"

namespace rv {

// Flags of a TRvList: which parts a caller edited since the list was filled.
inline constexpr std::uint32_t rvlfItemsChanged = 1;
inline constexpr std::uint32_t rvlfRangeChanged = 2;
inline constexpr std::uint32_t rvlfCurrentChanged = 4;

class TRvList {
public:
  TRvList();
  virtual ~TRvList() = default;
  TRvList(const TRvList&) = delete;
  TRvList& operator=(const TRvList&) = delete;

  // New items are not initialised.
  virtual void SetCount(int N);
  virtual void Delete(int Index);
  virtual void Clear();
  virtual void Assign(const TRvList* Source);

  int AddItem(const void* P);
  int IndexOf(const void* P) const;
  // No range check, as callers walk the list themselves.
  void* GetItem(int N) { return FData.data() + static_cast<std::size_t>(N) * FItemSize; }
  const void* GetItem(int N) const {
    return FData.data() + static_cast<std::size_t>(N) * FItemSize;
  }
  void SetItem(int N, const void* P);

  int Count() const { return FCount; }
  int ItemSize() const { return FItemSize; }
  std::uint8_t* Data() { return FCount > 0 ? FData.data() : nullptr; }
  std::uint32_t Flags() const { return FFlags; }
  void SetFlags(std::uint32_t Value) { FFlags = Value; }

protected:
  int FCount = 0;
  int FItemSize = 0;
  std::vector<std::uint8_t> FData;
  std::uint32_t FFlags = 0;
};

// The float and integer kinds carry an allowed range and a current value, as
// a scanner capability does.
template <typename T>
class TRvValueList : public TRvList {
public:
  TRvValueList() { ResetValues(); }

  void Clear() override {
    TRvList::Clear();
    ResetValues();
  }
  void Assign(const TRvList* Source) override;

  int Add(T Value) { return AddItem(&Value); }
  T Items(int N) const;
  void SetItems(int N, T Value) { SetItem(N, &Value); }
  int IndexOf(T Value) const { return TRvList::IndexOf(&Value); }

  T RangeMin() const { return FRangeMin; }
  T RangeMax() const { return FRangeMax; }
  T RangeStep() const { return FRangeStep; }
  T Current() const { return FCurrent; }
  void SetRangeMin(T V) { FRangeMin = V; FFlags |= rvlfRangeChanged; }
  void SetRangeMax(T V) { FRangeMax = V; FFlags |= rvlfRangeChanged; }
  void SetRangeStep(T V) { FRangeStep = V; FFlags |= rvlfRangeChanged; }
  void SetCurrent(T V) { FCurrent = V; FFlags |= rvlfCurrentChanged; }

private:
  void ResetValues() {
    FItemSize = sizeof(T);
    FRangeMin = FRangeMax = FRangeStep = FCurrent = T(0);
  }
  T FRangeMin{}, FRangeMax{}, FRangeStep{}, FCurrent{};
};

using TRvDoubleList = TRvValueList<double>;
using TRvIntegerList = TRvValueList<std::int32_t>;

class TRvRecordList : public TRvList {
public:
  explicit TRvRecordList(int ItemSize) { FItemSize = ItemSize > 0 ? ItemSize : 0; }
};

class TRvByteArray {
public:
  static constexpr std::int64_t BlockSize = 8192;

  TRvByteArray();

  void SetSize(std::int64_t N);
  void AddByte(std::uint8_t B);
  // Answers the number of bytes read; the array keeps only those.
  std::int64_t AppendFromStream(platform::TStream& Stream, std::int64_t Count);

  std::int64_t Size() const { return FSize; }
  std::int64_t Capacity() const { return FCapacity; }
  std::uint8_t* Data() { return FData.data(); }
  const std::uint8_t* Data() const { return FData.data(); }

private:
  std::int64_t FSize = 0;
  std::int64_t FCapacity = 0;
  std::vector<std::uint8_t> FData;
};

// Stores nothing: writing a picture into it measures the output's size.
class TNulStream : public platform::TStream {
public:
  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  // From the end the offset is subtracted: Seek(10, soEnd) lands 10 bytes
  // before the end.
  std::int64_t Seek(std::int64_t Offset, platform::TSeekOrigin Origin) override;
  std::int64_t Size() override { return FSize; }

private:
  std::int64_t Advance(std::int64_t Count);
  std::int64_t FPosition = 0;
  std::int64_t FSize = 0;
};

// The writers' stream write: a short write sets Aborting, which is never
// cleared here. Exceptions of the stream pass through.
void RvSafeStreamWrite(platform::TStream& Stream, bool& Aborting, const void* Buffer,
                       std::int64_t Count);
void RvSafeStreamWrite(platform::TStream& Stream, std::atomic<bool>& Aborting,
                       const void* Buffer, std::int64_t Count);

// 2 to the power Bits x Count; 1 when Count < 1. Saturates at INT64_MAX.
std::int64_t RvIntPow2(int Bits, int Count);

} // namespace rv
