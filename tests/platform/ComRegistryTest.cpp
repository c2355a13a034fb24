#include "win32/ComRegistry.h"
#include "sim/win32/Testing.h"
#include "win32/WinBase.h"

#include <gtest/gtest.h>

using namespace win;

TEST(ComRegistry, CreatesOnlyRegisteredClassesOnInitialisedThreads) {
    test::Reset();
    const GUID clsid{0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
    const GUID iid{0x9ABCDEF0, 0x3, 0x4, {8, 7, 6, 5, 4, 3, 2, 1}};
    static int object = 0;
    void* out = &object;

    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &out), CO_E_NOTINITIALIZED);
    EXPECT_EQ(out, nullptr);
    CoInitialize(nullptr);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &out), REGDB_E_CLASSNOTREG);

    CoRegisterClassFactory(clsid, [&](const GUID& asked, void** o) {
        if (!(asked == iid))
            return E_NOINTERFACE;
        *o = &object;
        return S_OK;
    });
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &out), S_OK);
    EXPECT_EQ(out, &object);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CoCreateInstance(clsid, &object, CLSCTX_INPROC_SERVER, iid, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, 4, iid, &out), REGDB_E_CLASSNOTREG); // out of process only
    test::FailNext("CoCreateInstance");
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &out), E_FAIL);

    CoRevokeClassFactory(clsid);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &out), REGDB_E_CLASSNOTREG);
    CoUninitialize();
    test::Reset();
}
