// The scanner protocol the image library speaks: identities, triplets,
// capability containers and transfer records with the numbers of the
// published TWAIN standard, and the entry of a source manager. Our own
// manager (twainsane.h) answers these triplets from SANE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

using TW_INT8 = std::int8_t;
using TW_INT16 = std::int16_t;
using TW_INT32 = std::int32_t;
using TW_UINT8 = std::uint8_t;
using TW_UINT16 = std::uint16_t;
using TW_UINT32 = std::uint32_t;
using TW_BOOL = std::uint16_t;
using TW_HANDLE = void*;
using TW_MEMREF = void*;
// 32 characters and a terminating zero, padded to an even size.
using TW_STR32 = char[34];

struct TW_FIX32 {
  TW_INT16 Whole = 0;
  TW_UINT16 Frac = 0;
};

struct TW_VERSION {
  TW_UINT16 MajorNum = 0;
  TW_UINT16 MinorNum = 0;
  TW_UINT16 Language = 0;
  TW_UINT16 Country = 0;
  TW_STR32 Info = {};
};

struct TW_IDENTITY {
  TW_UINT32 Id = 0;
  TW_VERSION Version;
  TW_UINT16 ProtocolMajor = 0;
  TW_UINT16 ProtocolMinor = 0;
  TW_UINT32 SupportedGroups = 0;
  TW_STR32 Manufacturer = {};
  TW_STR32 ProductFamily = {};
  TW_STR32 ProductName = {};
};

struct TW_USERINTERFACE {
  TW_BOOL ShowUI = 0;
  TW_BOOL ModalUI = 0;
  TW_HANDLE hParent = nullptr;
};

struct TW_CAPABILITY {
  TW_UINT16 Cap = 0;
  TW_UINT16 ConType = 0;
  TW_HANDLE hContainer = nullptr;
};

// Containers: items are stored in the size of ItemType behind the header.
struct TW_ONEVALUE {
  TW_UINT16 ItemType;
  TW_UINT32 Item;
};

struct TW_ENUMERATION {
  TW_UINT16 ItemType;
  TW_UINT32 NumItems;
  TW_UINT32 CurrentIndex;
  TW_UINT32 DefaultIndex;
  TW_UINT8 ItemList[1];
};

struct TW_ARRAY {
  TW_UINT16 ItemType;
  TW_UINT32 NumItems;
  TW_UINT8 ItemList[1];
};

struct TW_RANGE {
  TW_UINT16 ItemType;
  TW_UINT32 MinValue;
  TW_UINT32 MaxValue;
  TW_UINT32 StepSize;
  TW_UINT32 DefaultValue;
  TW_UINT32 CurrentValue;
};

struct TW_FRAME {
  TW_FIX32 Left;
  TW_FIX32 Top;
  TW_FIX32 Right;
  TW_FIX32 Bottom;
};

struct TW_IMAGELAYOUT {
  TW_FRAME Frame;
  TW_UINT32 DocumentNumber = 0;
  TW_UINT32 PageNumber = 0;
  TW_UINT32 FrameNumber = 0;
};

struct TW_EVENT {
  TW_MEMREF pEvent = nullptr;
  TW_UINT16 TWMessage = 0;
};

struct TW_PENDINGXFERS {
  TW_UINT16 Count = 0;
  TW_UINT32 Reserved = 0;
};

struct TW_SETUPMEMXFER {
  TW_UINT32 MinBufSize = 0;
  TW_UINT32 MaxBufSize = 0;
  TW_UINT32 Preferred = 0;
};

struct TW_MEMORY {
  TW_UINT32 Flags = 0;
  TW_UINT32 Length = 0;
  TW_MEMREF TheMem = nullptr;
};

struct TW_IMAGEMEMXFER {
  TW_UINT16 Compression = 0;
  TW_UINT32 BytesPerRow = 0;
  TW_UINT32 Columns = 0;
  TW_UINT32 Rows = 0;
  TW_UINT32 XOffset = 0;
  TW_UINT32 YOffset = 0;
  TW_UINT32 BytesWritten = 0;
  TW_MEMORY Memory;
};

struct TW_IMAGEINFO {
  TW_FIX32 XResolution;
  TW_FIX32 YResolution;
  TW_INT32 ImageWidth = 0;
  TW_INT32 ImageLength = 0;
  TW_INT16 SamplesPerPixel = 0;
  TW_INT16 BitsPerSample[8] = {};
  TW_INT16 BitsPerPixel = 0;
  TW_BOOL Planar = 0;
  TW_INT16 PixelType = 0;
  TW_UINT16 Compression = 0;
};

struct TW_STATUS {
  TW_UINT16 ConditionCode = 0;
  TW_UINT16 Reserved = 0;
};

// (origin, destination, data group, data argument type, message, data)
using DSMENTRYPROC = TW_UINT16 (*)(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 DG,
                                   TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);

// Return codes.
inline constexpr TW_UINT16 TWRC_SUCCESS = 0;
inline constexpr TW_UINT16 TWRC_FAILURE = 1;
inline constexpr TW_UINT16 TWRC_CHECKSTATUS = 2;
inline constexpr TW_UINT16 TWRC_CANCEL = 3;
inline constexpr TW_UINT16 TWRC_DSEVENT = 4;
inline constexpr TW_UINT16 TWRC_NOTDSEVENT = 5;
inline constexpr TW_UINT16 TWRC_XFERDONE = 6;
inline constexpr TW_UINT16 TWRC_ENDOFLIST = 7;

// Condition codes.
inline constexpr TW_UINT16 TWCC_SUCCESS = 0;
inline constexpr TW_UINT16 TWCC_BUMMER = 1;
inline constexpr TW_UINT16 TWCC_LOWMEMORY = 2;
inline constexpr TW_UINT16 TWCC_NODS = 3;
inline constexpr TW_UINT16 TWCC_OPERATIONERROR = 5;
inline constexpr TW_UINT16 TWCC_BADCAP = 6;
inline constexpr TW_UINT16 TWCC_BADPROTOCOL = 9;
inline constexpr TW_UINT16 TWCC_BADVALUE = 10;
inline constexpr TW_UINT16 TWCC_SEQERROR = 11;
inline constexpr TW_UINT16 TWCC_BADDEST = 12;
inline constexpr TW_UINT16 TWCC_CAPUNSUPPORTED = 13;
inline constexpr TW_UINT16 TWCC_CAPBADOPERATION = 14;
inline constexpr TW_UINT16 TWCC_DENIED = 16;
inline constexpr TW_UINT16 TWCC_PAPERJAM = 20;
inline constexpr TW_UINT16 TWCC_PAPERDOUBLEFEED = 21;
inline constexpr TW_UINT16 TWCC_CHECKDEVICEONLINE = 23;

// Data groups.
inline constexpr TW_UINT32 DG_CONTROL = 0x0001;
inline constexpr TW_UINT32 DG_IMAGE = 0x0002;

// Data argument types.
inline constexpr TW_UINT16 DAT_CAPABILITY = 0x0001;
inline constexpr TW_UINT16 DAT_EVENT = 0x0002;
inline constexpr TW_UINT16 DAT_IDENTITY = 0x0003;
inline constexpr TW_UINT16 DAT_PARENT = 0x0004;
inline constexpr TW_UINT16 DAT_PENDINGXFERS = 0x0005;
inline constexpr TW_UINT16 DAT_SETUPMEMXFER = 0x0006;
inline constexpr TW_UINT16 DAT_STATUS = 0x0008;
inline constexpr TW_UINT16 DAT_USERINTERFACE = 0x0009;
inline constexpr TW_UINT16 DAT_IMAGEINFO = 0x0101;
inline constexpr TW_UINT16 DAT_IMAGELAYOUT = 0x0102;
inline constexpr TW_UINT16 DAT_IMAGEMEMXFER = 0x0103;
inline constexpr TW_UINT16 DAT_IMAGENATIVEXFER = 0x0104;

// Messages.
inline constexpr TW_UINT16 MSG_NULL = 0x0000;
inline constexpr TW_UINT16 MSG_GET = 0x0001;
inline constexpr TW_UINT16 MSG_GETCURRENT = 0x0002;
inline constexpr TW_UINT16 MSG_GETDEFAULT = 0x0003;
inline constexpr TW_UINT16 MSG_GETFIRST = 0x0004;
inline constexpr TW_UINT16 MSG_GETNEXT = 0x0005;
inline constexpr TW_UINT16 MSG_SET = 0x0006;
inline constexpr TW_UINT16 MSG_RESET = 0x0007;
inline constexpr TW_UINT16 MSG_XFERREADY = 0x0101;
inline constexpr TW_UINT16 MSG_CLOSEDSREQ = 0x0102;
inline constexpr TW_UINT16 MSG_OPENDSM = 0x0301;
inline constexpr TW_UINT16 MSG_CLOSEDSM = 0x0302;
inline constexpr TW_UINT16 MSG_OPENDS = 0x0401;
inline constexpr TW_UINT16 MSG_CLOSEDS = 0x0402;
inline constexpr TW_UINT16 MSG_USERSELECT = 0x0403;
inline constexpr TW_UINT16 MSG_DISABLEDS = 0x0501;
inline constexpr TW_UINT16 MSG_ENABLEDS = 0x0502;
inline constexpr TW_UINT16 MSG_PROCESSEVENT = 0x0601;
inline constexpr TW_UINT16 MSG_ENDXFER = 0x0701;

// Container types.
inline constexpr TW_UINT16 TWON_ARRAY = 3;
inline constexpr TW_UINT16 TWON_ENUMERATION = 4;
inline constexpr TW_UINT16 TWON_ONEVALUE = 5;
inline constexpr TW_UINT16 TWON_RANGE = 6;
inline constexpr TW_UINT16 TWON_DONTCARE16 = 0xFFFF;
inline constexpr TW_UINT32 TWON_DONTCARE32 = 0xFFFFFFFF;

// Item types.
inline constexpr TW_UINT16 TWTY_INT8 = 0;
inline constexpr TW_UINT16 TWTY_INT16 = 1;
inline constexpr TW_UINT16 TWTY_INT32 = 2;
inline constexpr TW_UINT16 TWTY_UINT8 = 3;
inline constexpr TW_UINT16 TWTY_UINT16 = 4;
inline constexpr TW_UINT16 TWTY_UINT32 = 5;
inline constexpr TW_UINT16 TWTY_BOOL = 6;
inline constexpr TW_UINT16 TWTY_FIX32 = 7;

// Capabilities.
inline constexpr TW_UINT16 ICAP_COMPRESSION = 0x0100;
inline constexpr TW_UINT16 ICAP_PIXELTYPE = 0x0101;
inline constexpr TW_UINT16 ICAP_UNITS = 0x0102;
inline constexpr TW_UINT16 ICAP_XFERMECH = 0x0103;
inline constexpr TW_UINT16 CAP_FEEDERENABLED = 0x1002;
inline constexpr TW_UINT16 CAP_FEEDERLOADED = 0x1003;
inline constexpr TW_UINT16 CAP_AUTOFEED = 0x1007;
inline constexpr TW_UINT16 CAP_INDICATORS = 0x100B;
inline constexpr TW_UINT16 CAP_PAPERDETECTABLE = 0x100D;
inline constexpr TW_UINT16 CAP_DUPLEX = 0x1012;
inline constexpr TW_UINT16 CAP_DUPLEXENABLED = 0x1013;
inline constexpr TW_UINT16 ICAP_BRIGHTNESS = 0x1101;
inline constexpr TW_UINT16 ICAP_CONTRAST = 0x1103;
inline constexpr TW_UINT16 ICAP_GAMMA = 0x1108;
inline constexpr TW_UINT16 ICAP_ORIENTATION = 0x1110;
inline constexpr TW_UINT16 ICAP_PHYSICALWIDTH = 0x1111;
inline constexpr TW_UINT16 ICAP_PHYSICALHEIGHT = 0x1112;
inline constexpr TW_UINT16 ICAP_XRESOLUTION = 0x1118;
inline constexpr TW_UINT16 ICAP_YRESOLUTION = 0x1119;
inline constexpr TW_UINT16 ICAP_PIXELFLAVOR = 0x111F;
inline constexpr TW_UINT16 ICAP_PLANARCHUNKY = 0x1120;
inline constexpr TW_UINT16 ICAP_SUPPORTEDSIZES = 0x1122;
inline constexpr TW_UINT16 ICAP_THRESHOLD = 0x1123;
inline constexpr TW_UINT16 ICAP_XSCALING = 0x1124;
inline constexpr TW_UINT16 ICAP_YSCALING = 0x1125;
inline constexpr TW_UINT16 ICAP_BITDEPTH = 0x112B;
inline constexpr TW_UINT16 ICAP_UNDEFINEDIMAGESIZE = 0x112D;

// Capability values.
inline constexpr TW_UINT16 TWPT_BW = 0;
inline constexpr TW_UINT16 TWPT_GRAY = 1;
inline constexpr TW_UINT16 TWPT_RGB = 2;
inline constexpr TW_UINT16 TWUN_INCHES = 0;
inline constexpr TW_UINT16 TWUN_CENTIMETERS = 1;
inline constexpr TW_UINT16 TWPF_CHOCOLATE = 0;
inline constexpr TW_UINT16 TWPF_VANILLA = 1;
inline constexpr TW_UINT16 TWPC_CHUNKY = 0;
inline constexpr TW_UINT16 TWPC_PLANAR = 1;
inline constexpr TW_UINT16 TWSX_NATIVE = 0;
inline constexpr TW_UINT16 TWSX_MEMORY = 2;
inline constexpr TW_UINT16 TWCP_NONE = 0;

// Memory flags of TW_MEMORY.
inline constexpr TW_UINT32 TWMF_APPOWNS = 0x0001;
inline constexpr TW_UINT32 TWMF_HANDLE = 0x0010;

// Identity values.
inline constexpr TW_UINT16 TWLG_USA = 13;
inline constexpr TW_UINT16 TWCY_USA = 1;

// Blocks handed between application and source (containers, memory
// buffers, native pictures): zero-filled; the receiver frees them.
TW_HANDLE TwainAlloc(std::size_t Size);
void TwainFree(TW_HANDLE Handle);

// FIX32 <-> double: v x 65536 rounded half away from zero, whole part in
// the high 16 bits.
TW_FIX32 TwainToFix32(double Value);
double TwainFromFix32(TW_FIX32 Value);
TW_UINT32 TwainFix32Bits(TW_FIX32 Value);
TW_FIX32 TwainFix32FromBits(TW_UINT32 Bits);

// Containers as both sides build and read them. Items travel as 32-bit
// patterns: a FIX32 as Whole << 16 | Frac, a signed 16-bit item sign-extended.
int TwainItemSize(TW_UINT16 ItemType);
TW_UINT32 TwainReadItem(const TW_UINT8* List, TW_UINT16 ItemType, TW_UINT32 Index);
TW_HANDLE TwainMakeOneValue(TW_UINT16 ItemType, TW_UINT32 Item);
TW_HANDLE TwainMakeEnumeration(TW_UINT16 ItemType, const std::vector<TW_UINT32>& Items,
                               TW_UINT32 CurrentIndex, TW_UINT32 DefaultIndex);
TW_HANDLE TwainMakeArray(TW_UINT16 ItemType, const std::vector<TW_UINT32>& Items);
TW_HANDLE TwainMakeRange(TW_UINT16 ItemType, TW_UINT32 Min, TW_UINT32 Max, TW_UINT32 Step,
                         TW_UINT32 Default, TW_UINT32 Current);

// The value a container stands for: the one value, the current item of an
// enumeration, the current value of a range, the first item of an array.
// False for an unknown container.
bool TwainCurrentItem(const TW_CAPABILITY& Cap, TW_UINT32& Item, TW_UINT16& ItemType);

} // namespace platform
