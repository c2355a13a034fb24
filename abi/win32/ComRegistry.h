// A small COM class registry: in-process servers (the stand-in libraries) register a factory for their
// class while they are loaded; CoCreateInstance finds it. Nothing else of COM exists here.
#pragma once

#include "win32/WinTypes.h"

#include <functional>

namespace win {

inline constexpr DWORD CLSCTX_INPROC_SERVER = 1;
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);

// Makes a new object of the class and returns its interface `iid` (one reference) in *object, or an
// error (E_NOINTERFACE for an interface the class does not have).
using ComClassFactory = std::function<HRESULT(const GUID& iid, void** object)>;

// A second registration of the same class replaces the first. Revoking an unknown class is harmless.
void CoRegisterClassFactory(const GUID& clsid, ComClassFactory factory);
void CoRevokeClassFactory(const GUID& clsid);

// Needs CoInitialize on the calling thread (CO_E_NOTINITIALIZED otherwise); only in-process classes,
// no aggregation. REGDB_E_CLASSNOTREG when no loaded server registered the class. *object is null on
// every failure. A test can make it fail with the switch "CoCreateInstance" (E_FAIL).
HRESULT CoCreateInstance(const GUID& clsid, void* outer, DWORD clsContext, const GUID& iid, void** object);

} // namespace win
