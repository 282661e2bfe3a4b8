// What the refresh tool changes on a battery, recorded so that a run that
// dies half-way (killed, crashed, power lost) can be put right by the next
// program that looks: the next refresh tool at its start, or the resident
// scheduler when no refresh tool runs.
//
// A refresh changes two things per battery: its charge mode (released to
// full charge for the refresh, or held at "NotChargeLimit" as the other
// battery) and the firmware's refresh switches (ADPC, CHGC). The mode is
// recorded ("RefreshOriginalMode_battN") before it is changed and the record
// deleted once the mode is back; the switches show for themselves.
#pragma once

#include <windows.h>

class CBattery;

// Records the battery's mode before the tool changes it. An existing record
// is kept: it holds the mode from before the earlier change, the owner's.
void RecordOriginalChargeMode(UINT uiBattNo, DWORD dwMode);
// The recorded mode; false when there is none.
bool GetRecordedChargeMode(UINT uiBattNo, DWORD* pdwMode);
// The mode is back: the record goes.
void ForgetOriginalChargeMode(UINT uiBattNo);
// The owner chose and wrote the battery's charge mode (charge mode dialog,
// configuration import): that choice is newer than any record a refresh
// that died left, so the record goes and no repair puts the older mode back.
// Only for the owner's writes, and only while no refresh tool runs: a
// running tool still needs its record.
void OwnerChargeModeWritten(UINT uiBattNo);

// The mode a battery is given back when the refresh tool's change of it
// ends (or a repair puts it right): the administrator's enforced charge
// mode when a policy sets one, else dwOwnerMode, the mode recorded or read
// before the change. A mode that differs from dwOwnerMode is traced.
DWORD ChargeModeToGiveBack(UINT uiBattNo, DWORD dwOwnerMode);

// Every present battery that supports charge modes charges fully again
// (mode 0): the scheduler's reset on request, and the suite's removal.
// onFailure, when given, hears of each write that failed.
void SetEveryChargeModeFull(void (*onFailure)(UINT uiBattNo, HRESULT hr));

// The "ADCHDelay" pause between the two firmware switches (none when 0).
void PauseBetweenRefreshSwitches();

// Switches the firmware's refresh off: ADPC 1, the "ADCHDelay" pause, CHGC 1.
// 0 on success, 2 when ADPC failed (CHGC is then not tried), 1 when CHGC failed.
DWORD EndBatteryRefresh(CBattery* pBattery);

// Puts right what a refresh run that died left on the batteries present:
// each recorded charge mode is written back and its record deleted, and a
// firmware refresh still switched on (ADPC or CHGC clear) is ended. A record
// of an absent battery stays for later. Call only while no refresh tool
// runs (the refresh tool calls it at its start, before it changes anything).
void RepairAfterInterruptedRefresh();
