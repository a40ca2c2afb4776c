// Bounded string helpers for the product's fixed-size character buffers.
// Every helper takes the buffer's capacity in bytes (terminator included),
// never writes past it and always leaves the buffer zero-terminated.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

// Copies src into dst. False (with the copy cut at the capacity) when src did
// not fit; dst is an empty string for a null src.
inline bool LSStrCopy(char* dst, size_t cap, const char* src)
{
    if (!dst || cap == 0) return false;
    if (!src) { dst[0] = '\0'; return true; }
    size_t n = strlen(src);
    bool fits = n < cap;
    if (!fits) n = cap - 1;
    memcpy(dst, src, n);
    dst[n] = '\0';
    return fits;
}

// Appends src to the string in dst. False when the result was cut.
inline bool LSStrAppend(char* dst, size_t cap, const char* src)
{
    if (!dst || cap == 0) return false;
    size_t used = strnlen(dst, cap);
    if (used >= cap) { dst[cap - 1] = '\0'; return false; }
    return LSStrCopy(dst + used, cap - used, src);
}

// printf-style formatting into dst. False when the result was cut or the
// format failed (dst then holds the cut text, or an empty string).
inline bool LSStrFormatV(char* dst, size_t cap, const char* fmt, va_list args)
{
    if (!dst || cap == 0) return false;
    if (!fmt) { dst[0] = '\0'; return false; }
    int n = vsnprintf(dst, cap, fmt, args);
    dst[cap - 1] = '\0';
    if (n < 0) { dst[0] = '\0'; return false; }
    return static_cast<size_t>(n) < cap;
}

inline bool LSStrFormat(char* dst, size_t cap, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    bool ok = LSStrFormatV(dst, cap, fmt, args);
    va_end(args);
    return ok;
}
