// instzb.exe: the install helper for machines without the device library.
#include "install/install_actions.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    CommandLineMap args;
    ParseCommandLine(args);
    return zbinstall::RunInstallHelper(args, zbinstall::DeviceLibrary());
}
