// Every test process starts with the stand-in stacks, the sources, an empty air, an offscreen Qt
// platform, a Firebird lock folder, and a private registry store, COM folder and application data
// folder, unless the caller chose otherwise.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {
struct TestEnvironment {
    std::string privateDir;

    TestEnvironment() {
        setenv("TAVLIN_STACK_DIR", TAVLIN_TEST_STACK_DIR, 0);
        setenv("TAVLIN_SOURCE_DIR", TAVLIN_TEST_SOURCE_DIR, 0);
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        setenv("FIREBIRD_LOCK", TAVLIN_TEST_FIREBIRD_LOCK, 0);
        // The stand-in stacks render the air: a test sees only the radios and phones it puts there.
        setenv("TAVLIN_AIR", TAVLIN_TEST_SOURCE_DIR "/tests/support/empty-air.json", 0);
        // The air does not follow its file behind a test's back; a test that wants it drives a watch itself.
        setenv("TAVLIN_AIR_WATCH", "0", 0);
        // Test processes run side by side: none meets another's registry store, virtual COM ports or work
        // folders, and none touches the user's own.
        std::string pattern = (std::filesystem::temp_directory_path() / "tavlin-test-XXXXXX").string();
        if (char* made = mkdtemp(pattern.data())) {
            privateDir = made;
            for (const char* name : {"TAVLIN_REGISTRY_DIR", "TAVLIN_COM_DIR", "XDG_DATA_HOME"}) {
                if (getenv(name))
                    continue;
                const std::string dir = privateDir + "/" + name;
                std::error_code ec;
                std::filesystem::create_directory(dir, ec);
                setenv(name, dir.c_str(), 1);
            }
        }
        // As in the station: a peer that hangs up is an error code, never a signal.
        std::signal(SIGPIPE, SIG_IGN);
    }
    ~TestEnvironment() {
        if (!privateDir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(privateDir, ec);
        }
    }
} environment;
} // namespace
