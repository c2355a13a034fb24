// Every test process starts with the stand-in stacks, the sources, an empty air, an offscreen Qt
// platform, a private Firebird lock folder, registry store and COM folder, unless the caller chose
// otherwise.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {
struct TestEnvironment {
    std::string comDir;

    TestEnvironment() {
        setenv("TAVLIN_STACK_DIR", TAVLIN_TEST_STACK_DIR, 0);
        setenv("TAVLIN_SOURCE_DIR", TAVLIN_TEST_SOURCE_DIR, 0);
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        setenv("FIREBIRD_LOCK", TAVLIN_TEST_FIREBIRD_LOCK, 0);
        // Tests never touch the user's own registry store.
        setenv("TAVLIN_REGISTRY_DIR", TAVLIN_TEST_REGISTRY_DIR, 0);
        // The stand-in stacks render the air: a test sees only the radios and phones it puts there.
        setenv("TAVLIN_AIR", TAVLIN_TEST_SOURCE_DIR "/tests/support/empty-air.json", 0);
        // Virtual COM ports of one test process never meet another's.
        if (!getenv("TAVLIN_COM_DIR")) {
            std::string pattern = (std::filesystem::temp_directory_path() / "tavlin-com-XXXXXX").string();
            if (char* made = mkdtemp(pattern.data())) {
                comDir = made;
                setenv("TAVLIN_COM_DIR", made, 1);
            }
        }
        // As in the station: a peer that hangs up is an error code, never a signal.
        std::signal(SIGPIPE, SIG_IGN);
    }
    ~TestEnvironment() {
        if (!comDir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(comDir, ec);
        }
    }
} environment;
} // namespace
