#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <unistd.h>

using namespace win;
namespace fs = std::filesystem;

namespace {

// A stack folder holding "libstandin.so", a link to the platform library itself (already loaded, so
// opening it adds no second copy); its dependencies' C symbols serve as exports.
class Loading : public ::testing::Test {
protected:
    void SetUp() override {
        test::Reset();
        Dl_info info{};
        ASSERT_TRUE(dladdr(reinterpret_cast<void*>(&win::LoadLibraryW), &info));
        dir_ = fs::temp_directory_path() / ("tavlin-stacks-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        fs::create_symlink(fs::canonical(info.dli_fname), dir_ / "libstandin.so");
        const char* old = std::getenv("TAVLIN_STACK_DIR");
        old_ = old ? old : "";
        hadOld_ = old != nullptr;
        setenv("TAVLIN_STACK_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (hadOld_)
            setenv("TAVLIN_STACK_DIR", old_.c_str(), 1);
        else
            unsetenv("TAVLIN_STACK_DIR");
        fs::remove_all(dir_);
        test::Reset();
    }
    fs::path dir_;
    std::string old_;
    bool hadOld_ = false;
};

} // namespace

TEST_F(Loading, NamesMapToStandInsCountedAndHideable) {
    EXPECT_EQ(test::ModuleStem(u"TosBtAPI.dll"), "tosbtapi");
    EXPECT_EQ(test::ModuleStem(u"bthprops.cpl"), "bthprops");
    EXPECT_EQ(test::ModuleStem(u"C:\\Program Files\\x\\BsSdk.DLL"), "bssdk");
    EXPECT_EQ(test::StackDir(), dir_.string());

    EXPECT_EQ(LoadLibraryW(u"absent.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryW(u"..\\..\\etc.dll"), nullptr);

    HMODULE a = LoadLibraryW(u"StandIn.DLL");
    ASSERT_NE(a, nullptr);
    HMODULE b = LoadLibraryW(u"standin.cpl");
    EXPECT_EQ(a, b);
    EXPECT_EQ(test::ModuleLoadCount("standin"), 2);
    EXPECT_NE(GetProcAddress(a, "malloc"), nullptr);
    EXPECT_EQ(GetProcAddress(a, "no_such_entry_point"), nullptr);
    test::HideExport("standin", "malloc");
    EXPECT_EQ(GetProcAddress(a, "malloc"), nullptr);
    test::HideExport("standin", "malloc", false);
    EXPECT_NE(GetProcAddress(a, "malloc"), nullptr);

    EXPECT_TRUE(FreeLibrary(a));
    EXPECT_NE(GetProcAddress(a, "malloc"), nullptr); // one reference left
    EXPECT_TRUE(FreeLibrary(b));
    EXPECT_EQ(test::ModuleLoadCount("standin"), 0);
    EXPECT_EQ(GetProcAddress(a, "malloc"), nullptr);
    EXPECT_FALSE(FreeLibrary(a));

    HMODULE c = LoadLibraryW(u"standin.dll");
    EXPECT_NE(c, a); // a stale handle never reaches a later load
    FreeLibrary(c);

    test::FailNext("LoadLibraryW:standin");
    EXPECT_EQ(LoadLibraryW(u"standin.dll"), nullptr);
    auto calls = test::Calls("LoadLibraryW");
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "standin.dll");
}

TEST(System, VersionWinsockAndSwitches) {
    test::Reset();
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof v;
    ASSERT_TRUE(GetVersionExA(&v));
    EXPECT_EQ(v.dwMajorVersion, 6u);
    EXPECT_EQ(v.dwMinorVersion, 1u);
    EXPECT_EQ(v.dwPlatformId, VER_PLATFORM_WIN32_NT);
    v.dwOSVersionInfoSize = 100;
    EXPECT_FALSE(GetVersionExA(&v));
    v.dwOSVersionInfoSize = sizeof v;
    test::SetOsVersion(5, 1);
    ASSERT_TRUE(GetVersionExA(&v));
    EXPECT_EQ(v.dwMajorVersion, 5u);
    test::FailNext("GetVersionExA");
    EXPECT_FALSE(GetVersionExA(&v));

    WSADATA d{};
    int base = test::WsaStartupCount();
    EXPECT_EQ(WSAStartup(0x0202, &d), 0);
    EXPECT_EQ(d.wVersion, 0x0202);
    test::FailNext("WSAStartup", 2);
    EXPECT_EQ(WSAStartup(0x0202, &d), WSASYSNOTREADY);
    EXPECT_EQ(WSAStartup(0x0202, &d), WSASYSNOTREADY);
    EXPECT_EQ(WSAStartup(0x0202, &d), 0);
    EXPECT_EQ(test::WsaStartupCount(), base + 2);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(test::CallCount("WSAStartup"), 4);

    test::SetFail("Custom", true);
    EXPECT_TRUE(test::ShouldFail("Custom"));
    EXPECT_TRUE(test::ShouldFail("Custom"));
    test::SetFail("Custom", false);
    EXPECT_FALSE(test::ShouldFail("Custom"));
    EXPECT_EQ(test::Value("Result", 5), 5);
    test::SetValue("Result", -2);
    EXPECT_EQ(test::Value("Result", 5), -2);
    test::Record("Custom", "a=1");
    EXPECT_EQ(test::Journal().back().name, "Custom");
    test::Reset();
    EXPECT_TRUE(test::Journal().empty());
    EXPECT_EQ(test::Value("Result", 5), 5);
    ASSERT_TRUE(GetVersionExA(&v));
    EXPECT_EQ(v.dwMajorVersion, 6u);
}
