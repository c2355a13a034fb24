// Every test process starts with the stand-in stacks, the sources, an empty air, an offscreen Qt
// platform and a private Firebird lock folder, unless the caller chose otherwise.
#include <cstdlib>

namespace {
struct TestEnvironment {
    TestEnvironment() {
        setenv("TAVLIN_STACK_DIR", TAVLIN_TEST_STACK_DIR, 0);
        setenv("TAVLIN_SOURCE_DIR", TAVLIN_TEST_SOURCE_DIR, 0);
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        setenv("FIREBIRD_LOCK", TAVLIN_TEST_FIREBIRD_LOCK, 0);
        // Tests never touch the user's own registry store.
        setenv("TAVLIN_REGISTRY_DIR", TAVLIN_TEST_REGISTRY_DIR, 0);
        // The stand-in stacks render the air: a test sees only the radios and phones it puts there.
        setenv("TAVLIN_AIR", TAVLIN_TEST_SOURCE_DIR "/tests/support/empty-air.json", 0);
    }
} environment;
} // namespace
