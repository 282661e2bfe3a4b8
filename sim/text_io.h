// Text in and out for the simulation's console tools and stores: whole
// small files, UTF-8 or UTF-16 decoding, and console or pipe output.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sim {

// The whole file (at most 1 MB); false with the Win32 code in *error.
bool ReadWholeFile(const wchar_t* path, std::vector<char>* bytes, DWORD* error);

// UTF-16LE with its byte-order mark, else UTF-8 (with or without one).
// False for invalid text or text with NUL characters.
bool DecodeText(const std::vector<char>& bytes, std::wstring* text);

// A console gets UTF-16 directly; a pipe or file gets UTF-8.
void WriteText(DWORD stdHandle, const std::wstring& text);

// The record of the system commands the simulation stands in for
// (schtasks, regedit): one UTF-8 line per run, "<tool>|<command line>",
// the command line exactly as the process received it, in
// <common application data>\zbsim\commands.log.
DWORD CommandRecordPath(wchar_t* path, size_t cchPath);
void RecordCommandLine(const wchar_t* tool);

// printf-style formatting into a string (at most 1023 characters).
std::wstring FormatText(const wchar_t* format, ...);

} // namespace sim
