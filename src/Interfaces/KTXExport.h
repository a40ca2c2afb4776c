// Import/export decoration of the three product libraries.
// Each library defines its BUILDING_ macro while it is compiled, so one header
// serves the library (dllexport) and every module that calls it (dllimport).
#pragma once

#if defined(BUILDING_KTXCMN32)
#  define KTXCMN32_API __declspec(dllexport)
#else
#  define KTXCMN32_API __declspec(dllimport)
#endif

#if defined(BUILDING_KTXTOOLS)
#  define KTXTOOLS_API __declspec(dllexport)
#else
#  define KTXTOOLS_API __declspec(dllimport)
#endif

#if defined(BUILDING_KTXLANG)
#  define KTXLANG_API __declspec(dllexport)
#else
#  define KTXLANG_API __declspec(dllimport)
#endif
