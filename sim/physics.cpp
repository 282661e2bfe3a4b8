// Battery physics of the simulated notebook and the values derived from it.
#include "sim/machine.h"

#include <math.h>
#include <string.h>

namespace sim {
namespace {

// Charging power as a multiple of the design capacity per hour. Chosen so
// that a charge from empty at design capacity takes kFullChargeHours:
// constant power to 80 %, then a taper proportional to the missing charge
// down to a tenth of full power at 98 %, and that tenth to the end.
//   0.8 / k + 0.2 ln(10) / k + 0.02 / (0.1 k) = kFullChargeHours
constexpr double kTaperStart = 0.8;
constexpr double kTaperFloor = 0.1;
const double kChargeRatePerHour = (kTaperStart + 0.2 * 2.302585093 + 0.2) / kFullChargeHours;

double ChargePowerMax(const Battery& b) {
    return kChargeRatePerHour * b.designCapacity;
}

// The machine's load, and the firmware's refresh discharge, in mW.
double DischargePower(const Battery& b) {
    return b.designCapacity / kDischargeHours;
}

double Fraction(const Battery& b) {
    return b.fullChargeCapacity ? b.remaining / b.fullChargeCapacity : 0.0;
}

double ChargePower(const Battery& b) {
    const double missing = 1.0 - Fraction(b);
    double factor = missing / (1.0 - kTaperStart);
    if (factor > 1.0)
        factor = 1.0;
    if (factor < kTaperFloor)
        factor = kTaperFloor;
    return ChargePowerMax(b) * factor;
}

// The battery that carries the machine without AC: the second battery
// first, as dual-battery notebooks do, then the main one.
int SupplyingSlot(const Machine& m) {
    for (int i = kBatterySlots - 1; i >= 0; --i) {
        const Battery& b = m.battery[i];
        if (b.present && b.remaining > 0.0)
            return i;
    }
    return -1;
}

// Decides every battery's power for the present conditions. Also releases a
// charger that stopped at its limit once the charge fell clearly below it.
void ComputeRates(Machine& m) {
    const int supplier = SupplyingSlot(m);
    for (uint32_t i = 0; i < kBatterySlots; ++i) {
        Battery& b = m.battery[i];
        b.rate = 0.0;
        if (!b.present || b.fullChargeCapacity == 0)
            continue;
        const double percent = Fraction(b) * 100.0;
        const double limit = ChargeLimitPercent(b.chargeMode, m.notChargeLimit);
        if (b.chargeLatched && percent < limit - kRechargeHysteresis)
            b.chargeLatched = 0;

        // ADPC clear: the firmware takes this battery off the adapter.
        const bool drawn = !b.adpc || (!m.acOnline && static_cast<int>(i) == supplier);
        if (drawn) {
            if (b.remaining > 0.0)
                b.rate = -DischargePower(b);
        } else if (m.acOnline && b.chgc && !b.chargeLatched && limit > 0.0 && percent < limit) {
            b.rate = ChargePower(b);
        }
    }
}

// The gauge's error grows by one step of kGaugeDriftPercent, away from the
// true capacity in the direction it already points, to at most
// kGaugeMaxDriftPercent (an error set up beyond that stays as it is). The
// charge keeps its share of the capacity, as a gauge rescales it.
void DriftGauge(Battery& b) {
    if (b.trueCapacity == 0 || b.fullChargeCapacity == b.trueCapacity)
        return;
    const double truth = b.trueCapacity;
    const double error = b.fullChargeCapacity - truth;
    const double step = truth * kGaugeDriftPercent / 100.0;
    const double bound = truth * kGaugeMaxDriftPercent / 100.0;
    if (fabs(error) >= bound)
        return;
    double next = error > 0 ? error + step : error - step;
    if (next > bound)
        next = bound;
    if (next < -bound)
        next = -bound;
    double fcc = floor(truth + next + 0.5);
    const double most = b.designCapacity + b.designCapacity / 2;
    if (fcc > most)
        fcc = most;
    if (fcc < 1.0)
        fcc = 1.0;
    const double share = Fraction(b);
    b.fullChargeCapacity = static_cast<uint32_t>(fcc);
    b.remaining = b.fullChargeCapacity * (share > 1.0 ? 1.0 : share);
}

// A charge begins: after a discharge down to the end of discharge the gauge
// learns at the coming full charge; after any other discharge it drifts.
void BeginCharge(Battery& b) {
    if (!(b.gaugeState & kGaugeDischarged))
        return;
    if (b.gaugeState & kGaugeReachedEnd) {
        b.gaugeState |= kGaugeLearning;
    } else {
        b.gaugeState &= ~kGaugeLearning;
        DriftGauge(b);
    }
    b.gaugeState &= ~(kGaugeDischarged | kGaugeReachedEnd);
}

// A charge reached full after a whole discharge: the gauge now knows the
// cells.
void CompleteRelearn(Battery& b) {
    b.gaugeState &= ~kGaugeLearning;
    if (b.trueCapacity == 0)
        return;
    b.fullChargeCapacity = b.trueCapacity;
    b.remaining = b.fullChargeCapacity;
}

void Integrate(Machine& m, double dt) {
    for (uint32_t i = 0; i < kBatterySlots; ++i) {
        Battery& b = m.battery[i];
        double heat = 0.0;
        if (b.present && b.rate != 0.0) {
            const double energy = b.rate * dt / 3600.0;
            if (b.rate > 0.0) {
                heat = kChargeHeat * b.rate / ChargePowerMax(b);
                BeginCharge(b);
                const double limit = ChargeLimitPercent(b.chargeMode, m.notChargeLimit);
                const double stop = b.fullChargeCapacity * (limit / 100.0);
                b.remaining += energy;
                if (b.remaining >= stop) {
                    b.remaining = stop;
                    b.chargeLatched = 1;
                    if (limit >= 100.0 && (b.gaugeState & kGaugeLearning))
                        CompleteRelearn(b);
                }
            } else {
                heat = kDischargeHeat * -b.rate / DischargePower(b);
                const double drawn = (b.remaining + energy < 0.0) ? b.remaining : -energy;
                b.remaining -= drawn;
                b.dischargedEnergy += drawn;
                if (b.fullChargeCapacity && b.dischargedEnergy >= b.fullChargeCapacity) {
                    b.dischargedEnergy -= b.fullChargeCapacity;
                    ++b.cycleCount;
                }
                // A charge begun and stopped short of full relearns nothing.
                b.gaugeState = (b.gaugeState | kGaugeDischarged) & ~kGaugeLearning;
                if (Fraction(b) * 100.0 <= m.refreshEndPercent)
                    b.gaugeState |= kGaugeReachedEnd;
                // The firmware ends its refresh discharge near empty; charging
                // stays held off until CHGC is set again.
                if (!b.adpc && Fraction(b) * 100.0 <= m.refreshEndPercent)
                    b.adpc = 1;
            }
        }
        if (b.present) {
            const double target = m.ambient + heat;
            b.temperature += (target - b.temperature) * (1.0 - exp(-dt / kThermalSeconds));
        }
    }
}

uint32_t RoundedPercent(uint32_t remaining, uint32_t full) {
    if (full == 0)
        return 0;
    if (remaining >= full)
        return 100;
    return static_cast<uint32_t>(static_cast<float>(remaining) / full * 100.0f + 0.5f);
}

} // namespace

uint32_t RemainingPercent(const Battery& b) {
    if (!b.present)
        return 0;
    return RoundedPercent(static_cast<uint32_t>(b.remaining), b.fullChargeCapacity);
}

uint32_t SystemPercent(const Machine& m) {
    uint64_t remaining = 0;
    uint64_t full = 0;
    bool any = false;
    for (const Battery& b : m.battery) {
        if (!b.present)
            continue;
        any = true;
        remaining += static_cast<uint32_t>(b.remaining);
        full += b.fullChargeCapacity;
    }
    if (!any)
        return 255;
    if (full == 0)
        return 0;
    if (remaining >= full)
        return 100;
    return static_cast<uint32_t>(static_cast<double>(remaining) / full * 100.0 + 0.5);
}

bool IsCharging(const Battery& b) {
    return b.present && b.rate > 0.0;
}
bool IsDischarging(const Battery& b) {
    return b.present && b.rate < 0.0;
}

uint32_t ChargeLimitPercent(uint32_t chargeMode, uint32_t notChargeLimit) {
    if (chargeMode == 0 || chargeMode >= 100)
        return 100;
    if (chargeMode == notChargeLimit)
        return 0;
    return chargeMode;
}

void FillPowerStatus(const Machine& m, SYSTEM_POWER_STATUS* status) {
    *status = SYSTEM_POWER_STATUS{};
    status->ACLineStatus = m.acOnline ? 1 : 0;
    status->BatteryLifeTime = static_cast<DWORD>(-1);
    status->BatteryFullLifeTime = static_cast<DWORD>(-1);
    const uint32_t percent = SystemPercent(m);
    if (percent == 255) {
        status->BatteryFlag = 128;
        status->BatteryLifePercent = 255;
        return;
    }
    BYTE flag = 0;
    if (percent > 66)
        flag = 1;
    else if (percent < 5)
        flag = 4;
    else if (percent < 33)
        flag = 2;
    double remaining = 0.0;
    double drain = 0.0;
    for (const Battery& b : m.battery) {
        if (IsCharging(b))
            flag |= 8;
        if (b.present) {
            remaining += b.remaining;
            if (b.rate < 0.0)
                drain -= b.rate;
        }
    }
    status->BatteryFlag = flag;
    status->BatteryLifePercent = static_cast<BYTE>(percent);
    if (!m.acOnline && drain > 0.0)
        status->BatteryLifeTime = static_cast<DWORD>(remaining / drain * 3600.0);
}

void BatteryNameAnsi(const Battery& b, char* out, size_t cbOut) {
    if (cbOut == 0)
        return;
    out[0] = '\0';
    wchar_t name[kNameChars + 1] = {};
    memcpy(name, b.name, sizeof(b.name));
    const int written =
        WideCharToMultiByte(CP_ACP, 0, name, -1, out, static_cast<int>(cbOut), nullptr, nullptr);
    if (written <= 0)
        out[cbOut - 1] = '\0';
}

void Advance(Machine& m, double simSeconds) {
    if (m.suspended || !(simSeconds > 0.0))
        simSeconds = 0.0;
    if (simSeconds > kMaxCatchUpSeconds)
        simSeconds = kMaxCatchUpSeconds;
    ComputeRates(m);
    while (simSeconds > 0.0) {
        const double dt = simSeconds < kStepSeconds ? simSeconds : kStepSeconds;
        Integrate(m, dt);
        m.simSeconds += dt;
        simSeconds -= dt;
        ComputeRates(m);
    }
}

} // namespace sim
