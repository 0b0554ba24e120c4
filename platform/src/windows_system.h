// windows.h as platform's Windows files include it: lean, and without the
// min and max macros, which would rewrite std::min and std::max. First, as
// the other Windows headers stand on it.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
