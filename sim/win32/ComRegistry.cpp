#include "win32/ComRegistry.h"

#include "sim/win32/Testing.h"

#include <cstdio>
#include <mutex>
#include <vector>

namespace win {
namespace {

struct Entry {
    GUID clsid;
    ComClassFactory factory;
};

struct Registry {
    std::mutex mu;
    std::vector<Entry> entries;
};

Registry& Classes() {
    static Registry* r = new Registry; // outlives every module that revokes at unload
    return *r;
}

std::string GuidText(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

} // namespace

void CoRegisterClassFactory(const GUID& clsid, ComClassFactory factory) {
    std::lock_guard lock(Classes().mu);
    for (auto& e : Classes().entries)
        if (e.clsid == clsid) {
            e.factory = std::move(factory);
            return;
        }
    Classes().entries.push_back({clsid, std::move(factory)});
}

void CoRevokeClassFactory(const GUID& clsid) {
    std::lock_guard lock(Classes().mu);
    auto& v = Classes().entries;
    for (auto it = v.begin(); it != v.end(); ++it)
        if (it->clsid == clsid) {
            v.erase(it);
            return;
        }
}

HRESULT CoCreateInstance(const GUID& clsid, void* outer, DWORD clsContext, const GUID& iid, void** object) {
    test::Record("CoCreateInstance", GuidText(clsid) + " ctx=" + std::to_string(clsContext) + " " + GuidText(iid));
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (test::CoInitializeCount() <= 0)
        return CO_E_NOTINITIALIZED;
    if (test::ShouldFail("CoCreateInstance"))
        return E_FAIL;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!(clsContext & CLSCTX_INPROC_SERVER))
        return REGDB_E_CLASSNOTREG;
    ComClassFactory factory;
    {
        std::lock_guard lock(Classes().mu);
        for (auto& e : Classes().entries)
            if (e.clsid == clsid)
                factory = e.factory;
    }
    if (!factory)
        return REGDB_E_CLASSNOTREG;
    // The factory runs outside the registry lock: it may register or revoke classes itself.
    const HRESULT hr = factory(iid, object);
    if (FAILED(hr))
        *object = nullptr;
    return hr;
}

} // namespace win
