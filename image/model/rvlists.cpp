#include "image/model/rvlists.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace rv {

TRvList::TRvList() { TRvList::Clear(); }

void TRvList::SetCount(int N) {
  if (N < 0) N = 0;
  FData.resize(static_cast<std::size_t>(N) * static_cast<std::size_t>(FItemSize));
  FCount = N;
  FFlags |= rvlfItemsChanged;
}

void TRvList::Delete(int Index) {
  if (Index < 0 || Index >= FCount) return;
  const auto size = static_cast<std::size_t>(FItemSize);
  auto first = FData.begin() + static_cast<std::ptrdiff_t>(Index * size);
  FData.erase(first, first + static_cast<std::ptrdiff_t>(size));
  --FCount;
  FFlags |= rvlfItemsChanged;
}

void TRvList::Clear() {
  FCount = 0;
  FData.clear();
  FData.shrink_to_fit();
  FFlags = 0;
}

void TRvList::Assign(const TRvList* Source) {
  if (Source == nullptr || Source == this) return;
  FCount = Source->FCount;
  FItemSize = Source->FItemSize;
  FFlags = Source->FFlags;
  FData = Source->FData;
}

int TRvList::AddItem(const void* P) {
  SetCount(FCount + 1);
  std::memcpy(GetItem(FCount - 1), P, static_cast<std::size_t>(FItemSize));
  FFlags |= rvlfItemsChanged;
  return FCount - 1;
}

int TRvList::IndexOf(const void* P) const {
  for (int i = 0; i < FCount; ++i)
    if (std::memcmp(GetItem(i), P, static_cast<std::size_t>(FItemSize)) == 0) return i;
  return -1;
}

void TRvList::SetItem(int N, const void* P) {
  if (N < 0 || N >= FCount) return;
  std::memcpy(GetItem(N), P, static_cast<std::size_t>(FItemSize));
  FFlags |= rvlfItemsChanged;
}

template <typename T>
void TRvValueList<T>::Assign(const TRvList* Source) {
  TRvList::Assign(Source);
  if (auto* src = dynamic_cast<const TRvValueList<T>*>(Source); src && src != this) {
    FRangeMin = src->FRangeMin;
    FRangeMax = src->FRangeMax;
    FRangeStep = src->FRangeStep;
    FCurrent = src->FCurrent;
  }
}

template <typename T>
T TRvValueList<T>::Items(int N) const {
  T value;
  std::memcpy(&value, GetItem(N), sizeof(T));
  return value;
}

template class TRvValueList<double>;
template class TRvValueList<std::int32_t>;

TRvByteArray::TRvByteArray() : FCapacity(BlockSize), FData(static_cast<std::size_t>(BlockSize)) {}

void TRvByteArray::SetSize(std::int64_t N) {
  if (N < 0) N = 0;
  if (N > FCapacity || N < FCapacity - BlockSize) {
    // Shrinking keeps the first N bytes; growing keeps the bytes in use.
    std::vector<std::uint8_t> block(static_cast<std::size_t>(BlockSize + N));
    std::memcpy(block.data(), FData.data(), static_cast<std::size_t>(std::min(FSize, N)));
    FData.swap(block);
    FCapacity = BlockSize + N;
  }
  FSize = N;
}

void TRvByteArray::AddByte(std::uint8_t B) {
  SetSize(FSize + 1);
  FData[static_cast<std::size_t>(FSize - 1)] = B;
}

std::int64_t TRvByteArray::AppendFromStream(platform::TStream& Stream, std::int64_t Count) {
  if (Count <= 0) return 0;
  const std::int64_t start = FSize;
  SetSize(start + Count);
  std::int64_t got = Stream.Read(FData.data() + start, Count);
  got = std::clamp<std::int64_t>(got, 0, Count);
  if (got < Count) SetSize(start + got);
  return got;
}

std::int64_t TNulStream::Advance(std::int64_t Count) {
  FPosition += Count;
  if (FPosition >= FSize) FSize = FPosition;
  return Count;
}

std::int64_t TNulStream::Read(void*, std::int64_t Count) { return Advance(Count); }

std::int64_t TNulStream::Write(const void*, std::int64_t Count) { return Advance(Count); }

std::int64_t TNulStream::Seek(std::int64_t Offset, platform::TSeekOrigin Origin) {
  switch (Origin) {
  case platform::soBeginning:
    FPosition = Offset;
    if (Offset >= FSize) FSize = Offset;
    break;
  case platform::soCurrent:
    Advance(Offset);
    break;
  case platform::soEnd:
    FPosition = FSize - Offset;
    break;
  default:
    break;
  }
  return FPosition;
}

void RvSafeStreamWrite(platform::TStream& Stream, bool& Aborting, const void* Buffer,
                       std::int64_t Count) {
  if (Stream.Write(Buffer, Count) < Count) Aborting = true;
}

void RvSafeStreamWrite(platform::TStream& Stream, std::atomic<bool>& Aborting,
                       const void* Buffer, std::int64_t Count) {
  if (Stream.Write(Buffer, Count) < Count) Aborting = true;
}

std::int64_t RvIntPow2(int Bits, int Count) {
  if (Count < 1) return 1;
  // Exponents of 32 and more are real answers for 16-bit samples: 64-bit.
  const std::int64_t exponent = static_cast<std::int64_t>(Bits) * Count;
  if (exponent <= 0) return exponent == 0 ? 1 : 0;
  if (exponent >= 63) return std::numeric_limits<std::int64_t>::max();
  return std::int64_t{1} << exponent;
}

} // namespace rv
