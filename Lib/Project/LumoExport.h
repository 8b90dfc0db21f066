#pragma once

/// @file
/// The export macros of libLumoProject.so.

/// Marks what LumoProject exports; the library is built with hidden visibility.
#define LUMO_API __attribute__((visibility("default")))

/// Keeps a member of an exported class out of the library's interface.
#define LUMO_HIDDEN __attribute__((visibility("hidden")))
