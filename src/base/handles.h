// Handles of the system as portable code holds them: opaque, null for none.
// The Win32 implementations convert them to HWND, HMODULE, HANDLE and
// SC_HANDLE at their edge.
#pragma once

namespace tde {

// An owner window (HWND); null for none.
using WindowHandle = void*;
// A loaded module (HMODULE).
using ModuleHandle = void*;
// An open printer (the spooler's HANDLE).
struct PrinterHandleTag;
using PrinterHandle = PrinterHandleTag*;
// A service control manager or service (SC_HANDLE).
struct ServiceHandleTag;
using ServiceHandle = ServiceHandleTag*;

}  // namespace tde
