// The kernel32 subset that the library and the simulators call. On Windows these are the real
// functions; elsewhere the same names, types and error codes come from the stand-in under posix/,
// so the code that calls them reads the same in both builds.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <process.h>
#include <windows.h>
#else
#include "lib/platform/posix/kernel32.h"
#include "lib/platform/posix/process_id.h"
#endif
