// The system headers for the Win32 implementation of the platform layer. The
// headers name many routines through macros (DeleteFile for DeleteFileA, ...)
// that would rename the platform layer's own functions of the same names, so
// those macros are taken back here; the code calls the A routines by their
// full names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <winsock2.h>
#include <windows.h>

#undef DeleteFile
#undef GetFileAttributes
#undef WriteProfileString
