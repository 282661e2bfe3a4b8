// instzbw's work on the batteries at removal, through the battery objects
// and with them the device library (instzb has neither).
#pragma once

namespace zbinstall {

// With no refresh tool running any more: puts right what a refresh that
// was cut off left (recorded charge modes, a firmware refresh still on, the
// user's power plan), sets every present battery back to full charge and
// drops the refresh records of the charge modes.
void PutBatteriesBack();

} // namespace zbinstall
