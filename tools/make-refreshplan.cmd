@echo off
rem Makes "refreshplan", the export of the refresh power plan that the
rem installer puts beside the programs and the refresh tool imports.
rem
rem     tools\make-refreshplan.cmd [output file]     (default: refreshplan
rem                                                   in the folder above)
rem
rem Run it once as an administrator on Windows 10 (this file is UTF-8, for
rem the plan's Japanese name). The plan is a copy of the Balanced plan under
rem the refresh plan identifier that never sleeps or hibernates, on AC or on
rem battery, and does nothing at low or critical battery, since the refresh
rem itself runs the battery down. It is exported and then deleted again, so
rem the machine is left as it was.
setlocal
chcp 65001 >nul
set "PLAN=c112aae6-9692-45a9-9130-0abf580f06a5"
set "OUT=%~1"
if "%OUT%"=="" set "OUT=%~dp0..\refreshplan"

rem A plan left from an earlier attempt goes first (it cannot be deleted
rem while active).
powercfg /getactivescheme | find /i "%PLAN%" >nul && powercfg /setactive SCHEME_BALANCED
powercfg /delete %PLAN% >nul 2>&1

powercfg /duplicatescheme SCHEME_BALANCED %PLAN% >nul || goto :failed
powercfg /changename %PLAN% "バッテリ・リフレッシュ" "バッテリ・リフレッシュ中はスリープ・休止状態に移行しません。" || goto :failed
call :acdc SUB_SLEEP STANDBYIDLE 0 || goto :failed
call :acdc SUB_SLEEP HIBERNATEIDLE 0 || goto :failed
call :acdc SUB_BATTERY BATACTIONLOW 0 || goto :failed
call :acdc SUB_BATTERY BATACTIONCRIT 0 || goto :failed

if exist "%OUT%" del "%OUT%" || goto :failed
powercfg /export "%OUT%" %PLAN% || goto :failed
powercfg /delete %PLAN%
echo Wrote %OUT%
exit /b 0

rem Sets one setting of the plan to the same index on AC and on battery.
:acdc
powercfg /setacvalueindex %PLAN% %1 %2 %3 || exit /b 1
powercfg /setdcvalueindex %PLAN% %1 %2 %3 || exit /b 1
exit /b 0

:failed
echo Making the refresh power plan failed. 1>&2
powercfg /delete %PLAN% >nul 2>&1
exit /b 1
