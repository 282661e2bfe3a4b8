// Built-in machines, the named fields that simctl and setup files change,
// and the checks that keep a machine physically sensible.
#include "sim/machine.h"

#include "battery/firmware.h"

#include <math.h>
#include <string.h>
#include <strsafe.h>
#include <wchar.h>

#include <string>
#include <vector>

namespace sim {
namespace {

constexpr double kRoomTemperature = 2981.5; // 25 degrees C in 0.1 K
constexpr double kMinTemperature = 2000.0;  // -73 degrees C
constexpr double kMaxTemperature = 4000.0;  // 127 degrees C

constexpr uint32_t FatDate(unsigned year, unsigned month, unsigned day) {
    return ((year - 1980u) << 9) | (month << 5) | day;
}

// A new battery of the given design capacity, healthy, at the given charge.
Battery MakeBattery(const wchar_t* name, uint32_t serial, uint32_t design, double percent) {
    Battery b{};
    b.present = 1;
    b.tag = 1;
    StringCchCopyW(b.name, ARRAYSIZE(b.name), name);
    memcpy(b.chemistry, "LION", 4);
    b.serial = serial;
    b.manufactureDate = FatDate(2024, 3, 5);
    b.startDate = EncodeStartDate(2024, 4, 1, false);
    b.designCapacity = design;
    b.fullChargeCapacity = design * 96 / 100;
    b.cycleCount = 12;
    b.designVoltage = 11100;
    b.adpc = 1;
    b.chgc = 1;
    b.chargeModeSupported = 1;
    b.protectSupported = 1;
    b.remaining = b.fullChargeCapacity * percent / 100.0;
    b.temperature = kRoomTemperature;
    return b;
}

// Wear that the suite grades as the given health: the full charge against
// 90 % of the design capacity (its default battery-life rate) is 40 % for
// a warning (10) and 25 % for a caution (20), well inside their bands
// (31-50 and 30 or below). The firmware's health word says the same.
void Wear(Battery& b, uint32_t health) {
    const double share = health >= 20 ? 0.25 : 0.40;
    const double percent = b.remaining / b.fullChargeCapacity;
    b.fullChargeCapacity = static_cast<uint32_t>(b.designCapacity * 0.9 * share);
    b.remaining = b.fullChargeCapacity * percent;
    b.cycleCount = health >= 20 ? 1450 : 820;
    b.health = health;
}

Machine EmptyMachine() {
    Machine m{};
    m.acOnline = 1;
    m.notChargeLimit = kDefaultNotChargeLimit;
    m.refreshEndPercent = kDefaultRefreshEndPercent;
    m.ambient = kRoomTemperature;
    m.speed = 1.0;
    // Both slots always hold a battery, so that inserting one works on any
    // profile; the profiles say which are present.
    m.battery[0] = MakeBattery(L"BTP-44A1", 0x1A2B, 44000, 80.0);
    m.battery[1] = MakeBattery(L"BTP-22B2", 0x2C3D, 22000, 60.0);
    m.battery[0].present = 0;
    m.battery[1].present = 0;
    return m;
}

struct ProfileDef {
    ProfileInfo info;
    void (*build)(Machine& m);
};

const ProfileDef kProfiles[] = {
    {{L"one", L"one healthy battery (battery 1, 80 %), AC on, charge modes supported"},
     [](Machine& m) { m.battery[0].present = 1; }},
    {{L"one-nomode", L"as one, but the firmware has no charge modes (RBCL/WBCL fail)"},
     [](Machine& m) {
         m.battery[0].present = 1;
         m.battery[0].chargeModeSupported = 0;
     }},
    {{L"one-warning", L"one battery worn to health 10 (warning)"},
     [](Machine& m) {
         m.battery[0].present = 1;
         Wear(m.battery[0], 10);
     }},
    {{L"one-caution", L"one battery worn to health 20 (caution)"},
     [](Machine& m) {
         m.battery[0].present = 1;
         Wear(m.battery[0], 20);
     }},
    {{L"two", L"two healthy batteries (80 % and 60 %)"},
     [](Machine& m) {
         m.battery[0].present = 1;
         m.battery[1].present = 1;
     }},
    {{L"two-worn", L"two batteries, battery 2 worn to health 10"},
     [](Machine& m) {
         m.battery[0].present = 1;
         m.battery[1].present = 1;
         Wear(m.battery[1], 10);
     }},
    {{L"type1-caution",
      L"platform type 1 (health from the firmware's health method): capacity healthy, "
      L"health word 20"},
     [](Machine& m) {
         m.platformType = 1;
         m.battery[0].present = 1;
         m.battery[0].health = 20;
     }},
    {{L"one-312", L"as one, on platform kind 1 code 0x312: the suite ends refresh "
                  L"discharges at 2 %, the firmware only at empty"},
     [](Machine& m) {
         m.platformKind = 1;
         m.platformCode = 0x312;
         m.refreshEndPercent = 0;
         m.battery[0].present = 1;
     }},
    {{L"none", L"no battery present, AC on"}, [](Machine&) {}},
};

// ---- Value parsing ---------------------------------------------------------

bool ParseU32(const wchar_t* s, uint32_t* out) {
    unsigned base = 10;
    if (s[0] == L'0' && (s[1] == L'x' || s[1] == L'X')) {
        base = 16;
        s += 2;
    }
    if (!*s)
        return false;
    uint64_t value = 0;
    for (; *s; ++s) {
        unsigned digit;
        if (*s >= L'0' && *s <= L'9')
            digit = *s - L'0';
        else if (base == 16 && *s >= L'a' && *s <= L'f')
            digit = *s - L'a' + 10;
        else if (base == 16 && *s >= L'A' && *s <= L'F')
            digit = *s - L'A' + 10;
        else
            return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFull)
            return false;
    }
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ParseBool(const wchar_t* s, uint32_t* out) {
    static const wchar_t* const kTrue[] = {L"1", L"on", L"true", L"yes"};
    static const wchar_t* const kFalse[] = {L"0", L"off", L"false", L"no"};
    for (const wchar_t* t : kTrue) {
        if (_wcsicmp(s, t) == 0) {
            *out = 1;
            return true;
        }
    }
    for (const wchar_t* f : kFalse) {
        if (_wcsicmp(s, f) == 0) {
            *out = 0;
            return true;
        }
    }
    return false;
}

bool ParseDouble(const wchar_t* s, double* out) {
    if (!*s)
        return false;
    wchar_t* end = nullptr;
    const double value = wcstod(s, &end);
    if (*end || !isfinite(value))
        return false;
    *out = value;
    return true;
}

bool IsLeapYear(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(unsigned y, unsigned m) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && IsLeapYear(y)) ? 29 : kDays[m - 1];
}

// "YYYY-MM-DD" within [minYear, maxYear].
bool ParseDate(const wchar_t* s, unsigned minYear, unsigned maxYear, unsigned* y, unsigned* m,
               unsigned* d) {
    if (wcslen(s) != 10 || s[4] != L'-' || s[7] != L'-')
        return false;
    unsigned parts[3] = {};
    const int starts[3] = {0, 5, 8};
    const int lengths[3] = {4, 2, 2};
    for (int p = 0; p < 3; ++p) {
        for (int i = 0; i < lengths[p]; ++i) {
            const wchar_t c = s[starts[p] + i];
            if (c < L'0' || c > L'9')
                return false;
            parts[p] = parts[p] * 10 + (c - L'0');
        }
    }
    if (parts[0] < minYear || parts[0] > maxYear || parts[1] < 1 || parts[1] > 12 || parts[2] < 1 ||
        parts[2] > DaysInMonth(parts[0], parts[1]))
        return false;
    *y = parts[0];
    *m = parts[1];
    *d = parts[2];
    return true;
}

DWORD Fail(wchar_t* error, size_t cch, const wchar_t* format, ...) {
    if (error && cch) {
        va_list args;
        va_start(args, format);
        StringCchVPrintfW(error, cch, format, args);
        va_end(args);
    }
    return ERROR_INVALID_DATA;
}

// ---- Fields ----------------------------------------------------------------

struct FieldContext {
    Machine& machine;
    Battery* battery; // null for machine fields
    const wchar_t* field;
    const wchar_t* value;
    wchar_t* error;
    size_t cch;

    DWORD Bad(const wchar_t* expected) const {
        return Fail(error, cch, L"%s: \"%s\" is not %s", field, value, expected);
    }
    DWORD U32(uint32_t* target) const {
        return ParseU32(value, target) ? 0u : Bad(L"a number (decimal or 0x hex)");
    }
    DWORD Bool(uint32_t* target) const {
        return ParseBool(value, target) ? 0u : Bad(L"0/1, on/off, true/false or yes/no");
    }
};

using FieldSetter = DWORD (*)(const FieldContext& c);

struct FieldDef {
    const wchar_t* name;
    bool battery;
    const wchar_t* help;
    FieldSetter set;
};

DWORD SetName(const FieldContext& c) {
    const size_t len = wcslen(c.value);
    if (len == 0 || len >= kNameChars)
        return Fail(c.error, c.cch, L"name: must have 1 to %u characters",
                    static_cast<unsigned>(kNameChars - 1));
    // BBIF carries the name in the ANSI code page: it must survive that.
    char ansi[256] = {};
    BOOL lossy = FALSE;
    const bool utf8 = GetACP() == CP_UTF8;
    const int bytes = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, c.value, -1,
                                          ansi, sizeof(ansi), nullptr, utf8 ? nullptr : &lossy);
    if (bytes <= 0 || lossy)
        return Fail(c.error, c.cch, L"name: \"%s\" cannot be written in the ANSI code page %u",
                    c.value, GetACP());
    StringCchCopyW(c.battery->name, ARRAYSIZE(c.battery->name), c.value);
    return 0;
}

DWORD SetChemistry(const FieldContext& c) {
    const size_t len = wcslen(c.value);
    if (len == 0 || len > 4)
        return c.Bad(L"1 to 4 ASCII letters");
    char chem[4] = {};
    for (size_t i = 0; i < len; ++i) {
        if (c.value[i] <= L' ' || c.value[i] > L'~')
            return c.Bad(L"1 to 4 ASCII letters");
        chem[i] = static_cast<char>(c.value[i]);
    }
    memcpy(c.battery->chemistry, chem, sizeof(chem));
    return 0;
}

// A date word from "YYYY-MM-DD" (years 1980 to maxYear) or from its raw
// 16-bit value. Both words put the date in FAT layout; the first-use word
// has 6 year bits and keeps its protect flag (kept) across a new date.
DWORD SetDateWord(const FieldContext& c, uint32_t* word, unsigned maxYear, uint32_t kept) {
    unsigned y, m, d;
    if (ParseDate(c.value, 1980, maxYear, &y, &m, &d)) {
        *word = FatDate(y, m, d) | (*word & kept);
        return 0;
    }
    uint32_t raw;
    if (ParseU32(c.value, &raw) && raw <= 0xFFFF) {
        *word = raw;
        return 0;
    }
    wchar_t expected[80];
    StringCchPrintfW(expected, ARRAYSIZE(expected),
                     L"a date YYYY-MM-DD (1980-%u) or a date word up to 0xFFFF", maxYear);
    return c.Bad(expected);
}

DWORD SetManufactured(const FieldContext& c) {
    return SetDateWord(c, &c.battery->manufactureDate, 2107, 0);
}

DWORD SetStartDate(const FieldContext& c) {
    return SetDateWord(c, &c.battery->startDate, 2043, START_DATE_PROTECT_FLAG);
}

DWORD SetProtectFlag(const FieldContext& c) {
    uint32_t on = 0;
    if (DWORD rc = c.Bool(&on))
        return rc;
    c.battery->startDate =
        (c.battery->startDate & ~START_DATE_PROTECT_FLAG) | (on ? START_DATE_PROTECT_FLAG : 0u);
    return 0;
}

DWORD SetPercent(const FieldContext& c) {
    double p;
    if (!ParseDouble(c.value, &p) || p < 0.0 || p > 100.0)
        return c.Bad(L"a percentage from 0 to 100");
    c.battery->remaining = c.battery->fullChargeCapacity * p / 100.0;
    c.battery->chargeLatched = 0;
    return 0;
}

DWORD SetRemaining(const FieldContext& c) {
    uint32_t v;
    if (DWORD rc = c.U32(&v))
        return rc;
    c.battery->remaining = v;
    c.battery->chargeLatched = 0;
    return 0;
}

DWORD SetFcc(const FieldContext& c) {
    uint32_t v;
    if (DWORD rc = c.U32(&v))
        return rc;
    c.battery->fullChargeCapacity = v;
    if (c.battery->remaining > v)
        c.battery->remaining = v;
    return 0;
}

DWORD SetChargeMode(const FieldContext& c) {
    if (DWORD rc = c.U32(&c.battery->chargeMode))
        return rc;
    c.battery->chargeLatched = 0;
    return 0;
}

DWORD SetTemperatureField(const FieldContext& c, double* target) {
    double t;
    if (!ParseDouble(c.value, &t) || t < kMinTemperature || t > kMaxTemperature)
        return c.Bad(L"a temperature in 0.1 K from 2000 to 4000 (2981 = 25 C)");
    *target = t;
    return 0;
}

DWORD SetSpeed(const FieldContext& c) {
    double s;
    if (!ParseDouble(c.value, &s) || s < 0.0 || s > kMaxSpeed)
        return c.Bad(L"a speed from 0 (paused) to 100000");
    c.machine.speed = s;
    return 0;
}

const FieldDef kFields[] = {
    // Machine.
    {L"ac", false, L"AC adapter online (on/off)",
     [](const FieldContext& c) { return c.Bool(&c.machine.acOnline); }},
    {L"platform", false, L"platform type (CellioGetPlatformType; 1 = health method)",
     [](const FieldContext& c) { return c.U32(&c.machine.platformType); }},
    {L"kind", false, L"platform kind (GetSystemInfo)",
     [](const FieldContext& c) { return c.U32(&c.machine.platformKind); }},
    {L"code", false, L"platform code (GetSystemInfo)",
     [](const FieldContext& c) { return c.U32(&c.machine.platformCode); }},
    {L"ambient", false, L"ambient temperature, 0.1 K",
     [](const FieldContext& c) { return SetTemperatureField(c, &c.machine.ambient); }},
    {L"speed", false, L"simulated seconds per real second (0 pauses)", SetSpeed},
    {L"refreshend", false, L"percentage at which the firmware ends a refresh discharge (0: empty)",
     [](const FieldContext& c) { return c.U32(&c.machine.refreshEndPercent); }},
    // Battery.
    {L"present", true, L"battery inserted (0/1)",
     [](const FieldContext& c) { return c.Bool(&c.battery->present); }},
    {L"name", true, L"model name (ANSI code page, up to 63 characters)", SetName},
    {L"chemistry", true, L"chemistry, up to 4 letters (LION)", SetChemistry},
    {L"serial", true, L"serial number",
     [](const FieldContext& c) { return c.U32(&c.battery->serial); }},
    {L"manufactured", true, L"manufacture date YYYY-MM-DD (or FAT date word)", SetManufactured},
    {L"startdate", true, L"first-use date YYYY-MM-DD (or the raw date word)", SetStartDate},
    {L"protectflag", true, L"disable-charge flag, bit 15 of the first-use date (0/1)",
     SetProtectFlag},
    {L"design", true, L"design capacity, mWh",
     [](const FieldContext& c) { return c.U32(&c.battery->designCapacity); }},
    {L"fcc", true, L"full-charge capacity, mWh (remaining is cut to it)", SetFcc},
    {L"truecap", true, L"capacity the cells really hold, mWh (0: as fcc; see the gauge model)",
     [](const FieldContext& c) { return c.U32(&c.battery->trueCapacity); }},
    {L"cycles", true, L"charge cycle count",
     [](const FieldContext& c) { return c.U32(&c.battery->cycleCount); }},
    {L"voltage", true, L"design voltage, mV",
     [](const FieldContext& c) { return c.U32(&c.battery->designVoltage); }},
    {L"remaining", true, L"remaining capacity, mWh", SetRemaining},
    {L"percent", true, L"remaining capacity as a percentage of fcc", SetPercent},
    {L"temperature", true, L"cell temperature, 0.1 K",
     [](const FieldContext& c) { return SetTemperatureField(c, &c.battery->temperature); }},
    {L"chargemode", true, L"charge mode (0, 80, 50, NotChargeLimit, 128+)", SetChargeMode},
    {L"adpc", true, L"ADPC switch (1 normal, 0 refresh discharge)",
     [](const FieldContext& c) { return c.Bool(&c.battery->adpc); }},
    {L"chgc", true, L"CHGC switch (1 normal, 0 charging held off)",
     [](const FieldContext& c) { return c.Bool(&c.battery->chgc); }},
    {L"modesupport", true, L"firmware supports charge modes (0/1)",
     [](const FieldContext& c) { return c.Bool(&c.battery->chargeModeSupported); }},
    {L"protect", true, L"firmware supports battery protect, PSTS bit 17 (0/1)",
     [](const FieldContext& c) { return c.Bool(&c.battery->protectSupported); }},
    {L"health", true, L"firmware health word (0, 10, 20)",
     [](const FieldContext& c) { return c.U32(&c.battery->health); }},
};

std::wstring BuildFieldHelp() {
    std::wstring text = L"  machine fields:\n";
    bool battery = false;
    for (const FieldDef& f : kFields) {
        if (f.battery && !battery) {
            text += L"  battery fields:\n";
            battery = true;
        }
        wchar_t line[160];
        StringCchPrintfW(line, ARRAYSIZE(line), L"    %-13s %s\n", f.name, f.help);
        text += line;
    }
    return text;
}

std::wstring Trim(const std::wstring& s) {
    const size_t first = s.find_first_not_of(L" \t\r");
    if (first == std::wstring::npos)
        return std::wstring();
    const size_t last = s.find_last_not_of(L" \t\r");
    return s.substr(first, last - first + 1);
}

bool IsDeferredField(const std::wstring& field) {
    return field == L"percent" || field == L"remaining";
}

} // namespace

const ProfileInfo* Profiles(size_t* count) {
    static ProfileInfo infos[ARRAYSIZE(kProfiles)];
    for (size_t i = 0; i < ARRAYSIZE(kProfiles); ++i)
        infos[i] = kProfiles[i].info;
    *count = ARRAYSIZE(kProfiles);
    return infos;
}

bool BuildProfile(const wchar_t* name, Machine* out) {
    for (const ProfileDef& p : kProfiles) {
        if (wcscmp(p.info.name, name) == 0) {
            *out = EmptyMachine();
            p.build(*out);
            return true;
        }
    }
    return false;
}

DWORD SetField(Machine* out, uint32_t slot, const wchar_t* field, const wchar_t* value,
               wchar_t* error, size_t cchError) {
    if (slot > kBatterySlots)
        return Fail(error, cchError, L"battery %u: there are batteries 1 and 2 only", slot);
    for (const FieldDef& f : kFields) {
        if (wcscmp(f.name, field) != 0)
            continue;
        if (f.battery != (slot != 0))
            return Fail(error, cchError,
                        f.battery ? L"%s is a battery field: give 1 or 2"
                                  : L"%s is a machine field: give machine",
                        field);
        const FieldContext c{*out,    slot ? &out->battery[slot - 1] : nullptr, field, value, error,
                             cchError};
        return f.set(c);
    }
    return Fail(error, cchError, L"unknown field \"%s\"", field);
}

const wchar_t* FieldHelp() {
    static const std::wstring text = BuildFieldHelp();
    return text.c_str();
}

DWORD Validate(const Machine& m, wchar_t* error, size_t cchError) {
    if (m.acOnline > 1 || m.suspended > 1)
        return Fail(error, cchError, L"machine: ac and suspended are 0 or 1");
    if (!(m.ambient >= kMinTemperature && m.ambient <= kMaxTemperature))
        return Fail(error, cchError, L"machine: ambient temperature out of range");
    if (!(m.speed >= 0.0 && m.speed <= kMaxSpeed))
        return Fail(error, cchError, L"machine: speed out of range");
    if (m.refreshEndPercent > 100)
        return Fail(error, cchError, L"machine: refreshend is a percentage");
    for (uint32_t i = 0; i < kBatterySlots; ++i) {
        const Battery& b = m.battery[i];
        const unsigned n = i + 1;
        if (b.present > 1 || b.adpc > 1 || b.chgc > 1 || b.chargeModeSupported > 1 ||
            b.protectSupported > 1)
            return Fail(error, cchError, L"battery %u: switches are 0 or 1", n);
        if (b.name[0] == L'\0' || wmemchr(b.name, L'\0', kNameChars) == nullptr)
            return Fail(error, cchError, L"battery %u: needs a name", n);
        if (b.chemistry[0] == '\0')
            return Fail(error, cchError, L"battery %u: needs a chemistry", n);
        if (b.designCapacity == 0 || b.fullChargeCapacity == 0)
            return Fail(error, cchError, L"battery %u: design and fcc must be above 0", n);
        if (b.fullChargeCapacity > b.designCapacity + b.designCapacity / 2)
            return Fail(error, cchError,
                        L"battery %u: fcc %u mWh is more than 1.5 times the design %u mWh", n,
                        b.fullChargeCapacity, b.designCapacity);
        if (b.trueCapacity > b.designCapacity + b.designCapacity / 2)
            return Fail(error, cchError,
                        L"battery %u: truecap %u mWh is more than 1.5 times the design %u mWh", n,
                        b.trueCapacity, b.designCapacity);
        if (!(b.remaining >= 0.0 && b.remaining <= b.fullChargeCapacity))
            return Fail(error, cchError,
                        L"battery %u: remaining %.0f mWh is not within 0 to fcc %u mWh", n,
                        b.remaining, b.fullChargeCapacity);
        if (!(b.temperature >= kMinTemperature && b.temperature <= kMaxTemperature))
            return Fail(error, cchError, L"battery %u: temperature out of range", n);
        if (b.designVoltage == 0)
            return Fail(error, cchError, L"battery %u: voltage must be above 0", n);
        if (b.manufactureDate > 0xFFFF || b.startDate > 0xFFFF)
            return Fail(error, cchError, L"battery %u: date words are 16 bits", n);
    }
    return 0;
}

DWORD ParseSetupText(const wchar_t* text, Machine* out, wchar_t* error, size_t cchError) {
    struct Entry {
        unsigned line;
        uint32_t slot;
        std::wstring field;
        std::wstring value;
    };
    BuildProfile(L"none", out);
    std::vector<Entry> deferred;
    bool first = true;
    unsigned lineNo = 0;
    const wchar_t* pos = text;
    while (*pos) {
        const wchar_t* end = wcschr(pos, L'\n');
        const std::wstring line = Trim(end ? std::wstring(pos, end) : std::wstring(pos));
        pos = end ? end + 1 : pos + wcslen(pos);
        ++lineNo;
        if (line.empty() || line[0] == L'#' || line[0] == L';')
            continue;
        const size_t eq = line.find(L'=');
        if (eq == std::wstring::npos)
            return Fail(error, cchError, L"line %u: expected key=value", lineNo);
        std::wstring key = Trim(line.substr(0, eq));
        const std::wstring value = Trim(line.substr(eq + 1));
        if (key == L"profile") {
            if (!first)
                return Fail(error, cchError, L"line %u: profile= must be the first key", lineNo);
            if (!BuildProfile(value.c_str(), out))
                return Fail(error, cchError, L"line %u: unknown profile \"%s\"", lineNo,
                            value.c_str());
            first = false;
            continue;
        }
        first = false;
        uint32_t slot = 0;
        if (key.compare(0, 7, L"battery") == 0 && key.size() > 9 && key[8] == L'.') {
            if (key[7] != L'1' && key[7] != L'2')
                return Fail(error, cchError, L"line %u: batteries are battery1 and battery2",
                            lineNo);
            slot = key[7] - L'0';
            key = key.substr(9);
        }
        if (IsDeferredField(key)) {
            deferred.push_back({lineNo, slot, key, value});
            continue;
        }
        wchar_t reason[256] = {};
        if (SetField(out, slot, key.c_str(), value.c_str(), reason, ARRAYSIZE(reason)))
            return Fail(error, cchError, L"line %u: %s", lineNo, reason);
    }
    // Charge levels last, so that they apply to the capacities the file set.
    for (const Entry& e : deferred) {
        wchar_t reason[256] = {};
        if (SetField(out, e.slot, e.field.c_str(), e.value.c_str(), reason, ARRAYSIZE(reason)))
            return Fail(error, cchError, L"line %u: %s", e.line, reason);
    }
    wchar_t reason[256] = {};
    if (Validate(*out, reason, ARRAYSIZE(reason)))
        return Fail(error, cchError, L"%s", reason);
    return 0;
}

} // namespace sim
