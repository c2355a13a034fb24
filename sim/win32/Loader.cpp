// Run-time loading of the stand-in stacks: a Windows library name maps to lib<stem>.so in the stack folder.
//
// Modules are opened with RTLD_NODELETE, so a thread or callback a stand-in leaves behind can never run
// into unmapped code after the last FreeLibrary; a stand-in therefore resets its own state when it is
// initialised again.
#include "vcl/SysUtils.h"
#include "win32/Kernel.h"
#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>

#ifndef TAVLIN_BUILD_STACK_DIR
#define TAVLIN_BUILD_STACK_DIR "stacks"
#endif

namespace win {
namespace {

class ModuleObject : public KernelObject {};

struct Module {
    std::string stem;
    void* dl = nullptr;
    int refs = 0;
    HMODULE handle = nullptr;
};

struct LoadingState {
    std::mutex mu;
    std::map<std::string, Module> byStem;
    std::map<HMODULE, std::string> stemOf;
    std::set<std::pair<std::string, std::string>> hidden;
};

LoadingState& L() {
    static LoadingState* s = new LoadingState;
    return *s;
}

bool SafeStem(const std::string& stem) {
    if (stem.empty())
        return false;
    for (char c : stem)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
            return false;
    return true;
}

} // namespace

namespace detail {
void ResetLoadingForTests() {
    std::lock_guard lk(L().mu);
    L().hidden.clear();
}
} // namespace detail

namespace test {

std::string ModuleStem(std::u16string_view windowsName) {
    auto slash = windowsName.find_last_of(u"\\/");
    if (slash != std::u16string_view::npos)
        windowsName.remove_prefix(slash + 1);
    auto dot = windowsName.find_last_of(u'.');
    if (dot != std::u16string_view::npos)
        windowsName = windowsName.substr(0, dot);
    std::string stem = vcl::Utf16ToUtf8(windowsName);
    for (char& c : stem)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return stem;
}

std::string StackDir() {
    const char* env = std::getenv("TAVLIN_STACK_DIR");
    return env && *env ? std::string(env) : std::string(TAVLIN_BUILD_STACK_DIR);
}

void HideExport(std::string_view stem, std::string_view symbol, bool hidden) {
    std::lock_guard lk(L().mu);
    std::pair<std::string, std::string> key{std::string(stem), std::string(symbol)};
    if (hidden)
        L().hidden.insert(key);
    else
        L().hidden.erase(key);
}

int ModuleLoadCount(std::string_view stem) {
    std::lock_guard lk(L().mu);
    auto it = L().byStem.find(std::string(stem));
    return it == L().byStem.end() ? 0 : it->second.refs;
}

} // namespace test

HMODULE LoadLibraryW(LPCWSTR name) {
    std::u16string wide = name ? name : u"";
    test::Record("LoadLibraryW", vcl::Utf16ToUtf8(wide));
    std::string stem = test::ModuleStem(wide);
    if (!SafeStem(stem) || test::ShouldFail("LoadLibraryW") || test::ShouldFail("LoadLibraryW:" + stem)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard lk(L().mu);
    auto it = L().byStem.find(stem);
    if (it != L().byStem.end()) {
        ++it->second.refs;
        return it->second.handle;
    }
    std::string path = test::StackDir() + "/lib" + stem + ".so";
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* dl = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!dl) {
        std::fprintf(stderr, "LoadLibraryW(%s): %s\n", path.c_str(), ::dlerror());
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    Module m;
    m.stem = stem;
    m.dl = dl;
    m.refs = 1;
    m.handle = reinterpret_cast<HMODULE>(RegisterHandle(std::make_shared<ModuleObject>()));
    L().stemOf[m.handle] = stem;
    HMODULE h = m.handle;
    L().byStem[stem] = std::move(m);
    return h;
}

HMODULE LoadLibraryA(LPCSTR name) {
    std::u16string wide = vcl::Utf8ToUtf16(name ? name : "");
    return LoadLibraryW(wide.c_str());
}

BOOL FreeLibrary(HMODULE module) {
    std::string stemText;
    {
        std::lock_guard lk(L().mu);
        auto s = L().stemOf.find(module);
        if (s == L().stemOf.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        stemText = s->second;
        auto& m = L().byStem[s->second];
        if (--m.refs <= 0) {
            ::dlclose(m.dl);
            L().stemOf.erase(s);
            CloseHandle(reinterpret_cast<HANDLE>(m.handle));
            L().byStem.erase(stemText);
        }
    }
    test::Record("FreeLibrary", stemText);
    return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard lk(L().mu);
    auto s = L().stemOf.find(module);
    if (s == L().stemOf.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (L().hidden.count({s->second, std::string(name)})) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* sym = ::dlsym(L().byStem[s->second].dl, name);
    if (!sym) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(sym);
}

} // namespace win
