#pragma once
// The Win32 calls of the Windows port layer (PortPlatformWin32.cpp), as a
// table of function pointers. The layer makes every call through Win32Comm();
// a test may replace entries to see the exact calls, in order, that a line
// set-up makes, and to answer them as a driver would. Windows builds only.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

struct Win32CommApi {
    decltype(&::CreateFileA) createFile = ::CreateFileA;
    decltype(&::CloseHandle) closeHandle = ::CloseHandle;
    decltype(&::GetCommState) getCommState = ::GetCommState;
    decltype(&::SetCommState) setCommState = ::SetCommState;
    decltype(&::GetCommTimeouts) getCommTimeouts = ::GetCommTimeouts;
    decltype(&::SetCommTimeouts) setCommTimeouts = ::SetCommTimeouts;
    decltype(&::ReadFile) readFile = ::ReadFile;
    decltype(&::WriteFile) writeFile = ::WriteFile;
    decltype(&::SetCommBreak) setCommBreak = ::SetCommBreak;
    decltype(&::ClearCommBreak) clearCommBreak = ::ClearCommBreak;
    decltype(&::GetCommModemStatus) getCommModemStatus = ::GetCommModemStatus;
    decltype(&::EscapeCommFunction) escapeCommFunction = ::EscapeCommFunction;
    decltype(&::GetCommProperties) getCommProperties = ::GetCommProperties;
    decltype(&::ClearCommError) clearCommError = ::ClearCommError;
    decltype(&::FlushFileBuffers) flushFileBuffers = ::FlushFileBuffers;
    decltype(&::PurgeComm) purgeComm = ::PurgeComm;
};

// The table the layer calls through; the system's functions unless a test
// has replaced some.
Win32CommApi& Win32Comm();
