@echo off
rem sanarix-run.cmd: the install command for deployment tools. Runs sanarix.exe from this
rem folder and waits for it, then judges the log that run wrote with logreader.exe and exits
rem with the verdict's code: 0 repaired; 20 to 27 the other verdicts (see operations.md);
rem 28 sanarix.exe could not be started; 29 the log folder could not be created. It leaves
rem logreader.exe in %ProgramW6432%\Sanarix (the 64-bit Program Files folder, also as seen
rem by a 32-bit agent) for detection rules, and a copy of the pending renames it deletes.
rem Needs the rights sanarix.exe needs: the system account, or an elevated administrator.
setlocal
set "SANARIX_LOG_DIR=%ProgramData%\Corvanta\DTrace"
set "SANARIX_LOG=%SANARIX_LOG_DIR%\sanarix.dbg"

rem sanarix.exe never creates the log's folder; without it the run leaves no record.
if not exist "%SANARIX_LOG_DIR%\" mkdir "%SANARIX_LOG_DIR%"
if not exist "%SANARIX_LOG_DIR%\" exit /b 29

rem Detection rules run logreader.exe later, when this package is gone: keep a copy where
rem only administrators can write, since the rules run it as the system account.
if not defined ProgramW6432 set "ProgramW6432=%ProgramFiles%"
if not exist "%ProgramW6432%\Sanarix\" mkdir "%ProgramW6432%\Sanarix"
copy /y "%~dp0logreader.exe" "%ProgramW6432%\Sanarix\logreader.exe" >nul

rem The run deletes the pending renames of all software: keep them for a roll-back. Only
rem when there are any, so a later run does not replace the copy with an empty one.
set "SANARIX_SM=HKLM\SYSTEM\CurrentControlSet\Control\Session Manager"
reg query "%SANARIX_SM%" /v PendingFileRenameOperations >nul 2>&1
if not errorlevel 1 reg export "%SANARIX_SM%" "%SANARIX_LOG_DIR%\pending-renames-before.reg" /y >nul 2>&1

rem The log's size before the run tells a log this run wrote from one an earlier run left.
set "SANARIX_BEFORE=none"
if exist "%SANARIX_LOG%" for %%F in ("%SANARIX_LOG%") do set "SANARIX_BEFORE=%%~zF"

rem Called directly, not through "start": a script waits for a windowless program too, and a
rem program that cannot be started gives an error code, never a dialog nobody sees.
rem sanarix.exe always ends with 0; anything else means it did not run.
if not exist "%~dp0sanarix.exe" exit /b 28
"%~dp0sanarix.exe"
if errorlevel 1 exit /b 28

set "SANARIX_AFTER=none"
if exist "%SANARIX_LOG%" for %%F in ("%SANARIX_LOG%") do set "SANARIX_AFTER=%%~zF"
if "%SANARIX_AFTER%"=="%SANARIX_BEFORE%" (
    echo no log
    exit /b 25
)

"%~dp0logreader.exe" --check "%SANARIX_LOG%"
exit /b %errorlevel%
