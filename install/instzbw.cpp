// instzbw.exe: the install helper with the notebook's device library.
#include "battery/cellio.h"
#include "install/battery_reset.h"
#include "install/install_actions.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    CommandLineMap args;
    ParseCommandLine(args);
    zbinstall::DeviceLibrary device;
    device.onInstall = CellioOnInstall;
    device.onUninstall = CellioOnUninstall;
    device.putBatteriesBack = zbinstall::PutBatteriesBack;
    return zbinstall::RunInstallHelper(args, device);
}
