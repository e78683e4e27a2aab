#pragma once
// windows.h as the Win32 backend uses it: no min/max macros, and no CreateEvent macro, which
// would rename IPlatform::CreateEvent in the files that see it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef CreateEvent
