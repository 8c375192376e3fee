#include "platform/twain.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace platform {

TW_HANDLE TwainAlloc(std::size_t Size) { return std::calloc(Size == 0 ? 1 : Size, 1); }

void TwainFree(TW_HANDLE Handle) { std::free(Handle); }

TW_FIX32 TwainToFix32(double Value) {
  const double scaled = Value * 65536.0;
  const auto bits = static_cast<std::int32_t>(scaled < 0 ? -std::floor(-scaled + 0.5)
                                                         : std::floor(scaled + 0.5));
  return TwainFix32FromBits(static_cast<TW_UINT32>(bits));
}

double TwainFromFix32(TW_FIX32 Value) { return Value.Whole + Value.Frac / 65536.0; }

TW_UINT32 TwainFix32Bits(TW_FIX32 Value) {
  return (static_cast<TW_UINT32>(static_cast<TW_UINT16>(Value.Whole)) << 16) | Value.Frac;
}

TW_FIX32 TwainFix32FromBits(TW_UINT32 Bits) {
  TW_FIX32 f;
  f.Whole = static_cast<TW_INT16>(static_cast<TW_UINT16>(Bits >> 16));
  f.Frac = static_cast<TW_UINT16>(Bits & 0xFFFF);
  return f;
}

int TwainItemSize(TW_UINT16 ItemType) {
  switch (ItemType) {
  case TWTY_INT8:
  case TWTY_UINT8: return 1;
  case TWTY_INT16:
  case TWTY_UINT16:
  case TWTY_BOOL: return 2;
  case TWTY_INT32:
  case TWTY_UINT32:
  case TWTY_FIX32: return 4;
  default: return 0;
  }
}

TW_UINT32 TwainReadItem(const TW_UINT8* List, TW_UINT16 ItemType, TW_UINT32 Index) {
  const int size = TwainItemSize(ItemType);
  if (size == 0) return 0;
  const TW_UINT8* p = List + static_cast<std::size_t>(Index) * static_cast<std::size_t>(size);
  switch (ItemType) {
  case TWTY_INT8: return static_cast<TW_UINT32>(static_cast<TW_INT32>(static_cast<TW_INT8>(*p)));
  case TWTY_UINT8: return *p;
  case TWTY_INT16: {
    TW_INT16 v;
    std::memcpy(&v, p, 2);
    return static_cast<TW_UINT32>(static_cast<TW_INT32>(v));
  }
  case TWTY_UINT16:
  case TWTY_BOOL: {
    TW_UINT16 v;
    std::memcpy(&v, p, 2);
    return v;
  }
  case TWTY_FIX32: {
    TW_FIX32 v;
    std::memcpy(&v, p, 4);
    return TwainFix32Bits(v);
  }
  default: {
    TW_UINT32 v;
    std::memcpy(&v, p, 4);
    return v;
  }
  }
}

namespace {

void WriteItem(TW_UINT8* List, TW_UINT16 ItemType, TW_UINT32 Index, TW_UINT32 Item) {
  const int size = TwainItemSize(ItemType);
  TW_UINT8* p = List + static_cast<std::size_t>(Index) * static_cast<std::size_t>(size);
  if (size == 1) {
    *p = static_cast<TW_UINT8>(Item);
  } else if (size == 2) {
    const auto v = static_cast<TW_UINT16>(Item);
    std::memcpy(p, &v, 2);
  } else if (ItemType == TWTY_FIX32) {
    const TW_FIX32 v = TwainFix32FromBits(Item);
    std::memcpy(p, &v, 4);
  } else if (size == 4) {
    std::memcpy(p, &Item, 4);
  }
}

template <typename T>
std::size_t ListBytes(TW_UINT16 ItemType, std::size_t Count) {
  const std::size_t bytes = offsetof(T, ItemList) + Count * static_cast<std::size_t>(TwainItemSize(ItemType));
  return bytes < sizeof(T) ? sizeof(T) : bytes;
}

} // namespace

TW_HANDLE TwainMakeOneValue(TW_UINT16 ItemType, TW_UINT32 Item) {
  auto* one = static_cast<TW_ONEVALUE*>(TwainAlloc(sizeof(TW_ONEVALUE)));
  if (one == nullptr) return nullptr;
  one->ItemType = ItemType;
  // The item lies in the first bytes of the field, in the size of its type.
  WriteItem(reinterpret_cast<TW_UINT8*>(&one->Item), ItemType, 0, Item);
  return one;
}

TW_HANDLE TwainMakeEnumeration(TW_UINT16 ItemType, const std::vector<TW_UINT32>& Items,
                               TW_UINT32 CurrentIndex, TW_UINT32 DefaultIndex) {
  auto* e = static_cast<TW_ENUMERATION*>(TwainAlloc(ListBytes<TW_ENUMERATION>(ItemType, Items.size())));
  if (e == nullptr) return nullptr;
  e->ItemType = ItemType;
  e->NumItems = static_cast<TW_UINT32>(Items.size());
  e->CurrentIndex = CurrentIndex;
  e->DefaultIndex = DefaultIndex;
  for (std::size_t i = 0; i < Items.size(); ++i)
    WriteItem(e->ItemList, ItemType, static_cast<TW_UINT32>(i), Items[i]);
  return e;
}

TW_HANDLE TwainMakeArray(TW_UINT16 ItemType, const std::vector<TW_UINT32>& Items) {
  auto* a = static_cast<TW_ARRAY*>(TwainAlloc(ListBytes<TW_ARRAY>(ItemType, Items.size())));
  if (a == nullptr) return nullptr;
  a->ItemType = ItemType;
  a->NumItems = static_cast<TW_UINT32>(Items.size());
  for (std::size_t i = 0; i < Items.size(); ++i)
    WriteItem(a->ItemList, ItemType, static_cast<TW_UINT32>(i), Items[i]);
  return a;
}

TW_HANDLE TwainMakeRange(TW_UINT16 ItemType, TW_UINT32 Min, TW_UINT32 Max, TW_UINT32 Step,
                         TW_UINT32 Default, TW_UINT32 Current) {
  auto* r = static_cast<TW_RANGE*>(TwainAlloc(sizeof(TW_RANGE)));
  if (r == nullptr) return nullptr;
  r->ItemType = ItemType;
  r->MinValue = Min;
  r->MaxValue = Max;
  r->StepSize = Step;
  r->DefaultValue = Default;
  r->CurrentValue = Current;
  return r;
}

bool TwainCurrentItem(const TW_CAPABILITY& Cap, TW_UINT32& Item, TW_UINT16& ItemType) {
  if (Cap.hContainer == nullptr) return false;
  switch (Cap.ConType) {
  case TWON_ONEVALUE: {
    const auto* one = static_cast<const TW_ONEVALUE*>(Cap.hContainer);
    ItemType = one->ItemType;
    Item = TwainReadItem(reinterpret_cast<const TW_UINT8*>(&one->Item), ItemType, 0);
    return TwainItemSize(ItemType) != 0;
  }
  case TWON_ENUMERATION: {
    const auto* e = static_cast<const TW_ENUMERATION*>(Cap.hContainer);
    ItemType = e->ItemType;
    if (e->CurrentIndex >= e->NumItems || TwainItemSize(ItemType) == 0) return false;
    Item = TwainReadItem(e->ItemList, ItemType, e->CurrentIndex);
    return true;
  }
  case TWON_RANGE: {
    const auto* r = static_cast<const TW_RANGE*>(Cap.hContainer);
    ItemType = r->ItemType;
    Item = r->CurrentValue;
    return TwainItemSize(ItemType) != 0;
  }
  case TWON_ARRAY: {
    const auto* a = static_cast<const TW_ARRAY*>(Cap.hContainer);
    ItemType = a->ItemType;
    if (a->NumItems == 0 || TwainItemSize(ItemType) == 0) return false;
    Item = TwainReadItem(a->ItemList, ItemType, 0);
    return true;
  }
  default: return false;
  }
}

} // namespace platform
