#include "refresh/refresh_logic.h"

#include "battery/battery.h"
#include "common/util.h"

namespace zbrefresh {

int CalcFirstChargeProgress(unsigned capacity) {
    return static_cast<int>(capacity / 5);
}

int CalcRefreshingProgress(unsigned capacity) {
    const int remaining = static_cast<int>(capacity > 100 ? 100 : capacity);
    return (100 - remaining) / 5 + 20;
}

int CalcCoolDown1Progress(LONGLONG elapsedMinutes, DWORD coolDownTime) {
    const float share = static_cast<float>(elapsedMinutes) / static_cast<float>(coolDownTime);
    return static_cast<int>(share * 100.0f / 5.0f) + 40;
}

int CalcCoolDown2Progress(LONGLONG elapsedMinutes, DWORD coolDownLimit) {
    const float share = static_cast<float>(elapsedMinutes) / static_cast<float>(coolDownLimit);
    return static_cast<int>(share * 100.0f) / 5 + 60;
}

int CalcSecondChargeProgress(unsigned capacity, DWORD savedChargeMode) {
    int part;
    if (savedChargeMode == CHARGEMODE_80 || savedChargeMode == CHARGEMODE_50) {
        const float perStep = 5.0f * static_cast<float>(savedChargeMode) / 100.0f;
        part = static_cast<int>(static_cast<float>(capacity) / perStep);
    } else {
        part = static_cast<int>(capacity / 5);
    }
    const int progress = 80 + part;
    return progress > 100 ? 100 : progress;
}

DWORD NormalizeChargeMode(DWORD savedChargeMode) {
    const DWORD level = savedChargeMode & 0x7F;
    if (level >= 65 && level <= 80)
        return CHARGEMODE_80;
    if (level >= 50 && level <= 64)
        return CHARGEMODE_50;
    return CHARGEMODE_FULL;
}

ChargeModeAtStart DecideChargeModeAtStart(DWORD chargeMode) {
    if (chargeMode & CHARGEMODE_REFRESH_NEEDED)
        return ChargeModeAtStart::Marked;
    if (chargeMode != CHARGEMODE_FULL)
        return ChargeModeAtStart::Release;
    return ChargeModeAtStart::Keep;
}

bool IsPersonChargeLevel(DWORD chargeMode, DWORD notChargeLimit) {
    if (chargeMode == CHARGEMODE_FULL)
        return true;
    return chargeMode >= CHARGEMODE_50 && chargeMode <= CHARGEMODE_80 &&
           chargeMode != notChargeLimit;
}

LONGLONG CalcElapsedMinutes(const SYSTEMTIME& start, const SYSTEMTIME& now) {
    LONGLONG startSeconds = 0;
    LONGLONG nowSeconds = 0;
    if (!SystemTimeToSeconds(&start, &startSeconds) || !SystemTimeToSeconds(&now, &nowSeconds))
        return 0;
    if (nowSeconds <= startSeconds)
        return 0;
    return (nowSeconds - startSeconds) / 60;
}

bool IsCoolDown1Over(LONGLONG elapsedMinutes, DWORD coolDownTime) {
    return elapsedMinutes >= static_cast<LONGLONG>(coolDownTime);
}

bool IsCoolDown2Over(DWORD temperature, DWORD temperatureLimit, LONGLONG elapsedMinutes,
                     DWORD coolDownLimit) {
    const bool stillWarm = temperature > temperatureLimit;
    const bool timeLeft = elapsedMinutes < static_cast<LONGLONG>(coolDownLimit);
    return !(stillWarm && timeLeft);
}

FirstChargeStep DecideFirstCharge(unsigned capacity, DWORD completeMax, DWORD complete,
                                  const ChargingStateProbe& probe) {
    if (capacity < completeMax) {
        if (capacity < complete)
            return FirstChargeStep::Stay;
        if (probe(CHARGING_FLAG_CHARGING))
            return FirstChargeStep::Stay;
    }
    if (completeMax == 100 && !probe(CHARGING_FLAG_DISCHARGING))
        return FirstChargeStep::StayUntilNotCharging;
    return FirstChargeStep::Complete;
}

SecondChargeStep DecideSecondCharge(unsigned capacity, DWORD completeMax, bool chargingNow,
                                    bool& chargingSeen) {
    if (chargingNow) {
        chargingSeen = true;
        if (capacity < completeMax)
            return SecondChargeStep::Stay;
    }
    if (!chargingSeen)
        return SecondChargeStep::Retry;
    return SecondChargeStep::Complete;
}

RefreshFlagsState ClassifyRefreshFlags(DWORD flags) {
    const bool adpc = (flags & PSTS_ADPC) != 0;
    const bool chgc = (flags & PSTS_CHGC) != 0;
    if (adpc && chgc)
        return RefreshFlagsState::Released;
    if (!adpc && !chgc)
        return RefreshFlagsState::Discharging;
    if (adpc)
        return RefreshFlagsState::Ended;
    return RefreshFlagsState::ChgcOnly;
}

bool ShouldStopDischarge(DWORD refreshLimit, unsigned capacity) {
    return refreshLimit < 100 && capacity <= refreshLimit;
}

ErrorFollowUp DecideErrorFollowUp(bool errorArmed, int mode, HRESULT result) {
    if (errorArmed)
        return ErrorFollowUp::RepeatNotice;
    if (mode == -1 || FAILED(result))
        return ErrorFollowUp::ErrorTail;
    return ErrorFollowUp::None;
}

} // namespace zbrefresh
