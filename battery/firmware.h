// Records of the firmware battery methods, as they travel through
// CellioDeviceControl (little-endian, packed as the firmware lays them out).
#pragma once

#include <stdint.h>

#pragma pack(push, 1)

// BBIF: identity and wear data of one battery.
struct BBIF {
    uint32_t dwSN;          // serial number
    uint32_t dwProduct;     // manufacture date, FAT date form
    uint32_t dwStartDate;   // first-use date word (EncodeStartDate)
    char szBattName[256];   // ANSI model name; also names the OS battery device
    uint32_t dwDCAP;        // design capacity
    uint32_t dwFCC;         // full-charge capacity, same unit as dwDCAP
    uint32_t dwCycle;       // charge cycle count
};

// BBST: status with temperature.
struct BBST {
    uint32_t dwRemaining;   // remaining capacity, same unit as BBIF::dwFCC
    uint32_t dwReserved1;
    uint32_t dwReserved2;
    uint32_t dwTemperature; // tenths of a kelvin
};

#pragma pack(pop)

static_assert(sizeof(BBIF) == 280, "BBIF is 280 bytes");
static_assert(sizeof(BBST) == 16, "BBST is 16 bytes");

// PSTS word.
constexpr uint32_t PSTS_CHGC = 0x1;              // charge control on (normal)
constexpr uint32_t PSTS_ADPC = 0x2;              // adapter control on (normal)
constexpr uint32_t PSTS_PROTECT_SUPPORT = 0x20000;

// Arguments of the refresh switches.
constexpr uint32_t ADPC_START_REFRESH = 0; // firmware discharge on
constexpr uint32_t ADPC_END_REFRESH = 1;
constexpr uint32_t CHGC_REFRESHING = 0;
constexpr uint32_t CHGC_NORMAL = 1;

// First-use date word: day bits 0-4, month bits 5-8, (year - 1980) mod 64 in
// bits 9-14, bit 15 the disable-charge (battery protect) flag.
constexpr uint32_t START_DATE_PROTECT_FLAG = 0x8000;

constexpr uint32_t EncodeStartDate(unsigned year, unsigned month, unsigned day, bool protect) {
    return ((((year + 4u) << 9) & 0x7E00u) | ((month & 0xFu) << 5) | (day & 0x1Fu)) |
           (protect ? START_DATE_PROTECT_FLAG : 0u);
}
static_assert(EncodeStartDate(2024, 3, 5, false) == 0x5865, "date word");
static_assert(EncodeStartDate(2024, 3, 5, true) == 0xD865, "date word with flag");
