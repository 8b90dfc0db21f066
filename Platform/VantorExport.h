#pragma once

/// @file
/// The export macro of libVantorPlatform.so.

/// Marks the platform declarations that VantorPlatform exports; the library is built with
/// hidden visibility, so anything without this stays internal.
#define VANTOR_API __attribute__((visibility("default")))
