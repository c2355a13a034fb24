// The watch that keeps the air in step with its file while a program runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "ScopedEnv.h"
#include "sim/air/Air.h"
#include "sim/air/AirFileWatch.h"

using namespace air;

namespace {

class AirFileWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("tavlin-air-watch-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        file = (dir / "air.json").string();
        Write(R"({"radios":[{"stack":"microsoft"}]})");
        ASSERT_TRUE(Air::Instance().LoadFile(file));
    }
    void TearDown() override {
        Air::Instance().Clear();
        std::filesystem::remove_all(dir);
    }
    void Write(const std::string& text) { std::ofstream(file, std::ios::trunc) << text; }

    std::filesystem::path dir;
    std::string file;
};

} // namespace

TEST_F(AirFileWatchTest, LoadsAnEditOnceItHeldStillAndSaysABrokenOneOnce) {
    Air& a = Air::Instance();
    AirFileWatch watch(a);
    EXPECT_FALSE(watch.Poll()); // nothing changed

    // Seen changing: loaded one look later, not at once.
    Write(R"({"radios":[{"stack":"widcomm"}], "phones": []})");
    EXPECT_FALSE(watch.Poll());
    EXPECT_TRUE(a.RadioPresent(1));
    EXPECT_TRUE(watch.Poll());
    EXPECT_FALSE(a.RadioPresent(1));
    EXPECT_TRUE(a.RadioPresent(3));
    EXPECT_FALSE(watch.Poll());

    // Broken: said once, naming the file and the line; the air stays as it was.
    Write("{\n\"radios\": [{\"stack\": \"toshiba\"}],\n\"phones\": [\n}\n");
    testing::internal::CaptureStderr();
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(watch.Poll());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("the air file"), said.rfind("the air file")) << said;
    EXPECT_NE(said.find("the air file"), std::string::npos) << said;
    EXPECT_NE(said.find(file), std::string::npos) << said;
    EXPECT_NE(said.find("line 4"), std::string::npos) << said;
    EXPECT_TRUE(a.RadioPresent(3));
    EXPECT_FALSE(a.RadioPresent(2));

    // Mended: followed again.
    Write(R"({"radios":[{"stack":"toshiba"}]})");
    EXPECT_FALSE(watch.Poll());
    EXPECT_TRUE(watch.Poll());
    EXPECT_TRUE(a.RadioPresent(2));

    // An air no longer from a file has nothing to follow.
    a.Clear();
    Write(R"({"radios":[{"stack":"bluesoleil"}]})");
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(watch.Poll());
    EXPECT_FALSE(a.RadioPresent(0));
}

TEST_F(AirFileWatchTest, ThreadFollowsTheFileUntilStopped) {
    Air& a = Air::Instance();
    std::atomic<int> arrived{0};
    const int token = a.Subscribe([&](const Notice& n) {
        if (n.event == AirEvent::RadioArrived && n.stack == 3)
            ++arrived;
    });
    auto waitFor = [](const std::function<bool()>& done) {
        for (int i = 0; i < 1000 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return done();
    };
    {
        AirFileWatch watch(a);
        watch.Start(10);
        Write(R"({"radios":[{"stack":"widcomm"}]})");
        EXPECT_TRUE(waitFor([&] { return a.RadioPresent(3); }));
        EXPECT_TRUE(waitFor([&] { return arrived == 1; }));
        watch.Stop();
        // Stopped: an edit is no longer followed.
        Write(R"({"radios":[{"stack":"microsoft"}]})");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(a.RadioPresent(3));
        // Started again, and destroyed while it runs.
        watch.Start(10);
        EXPECT_TRUE(waitFor([&] { return a.RadioPresent(1); }));
    }
    a.Unsubscribe(token);
    EXPECT_FALSE(a.RadioPresent(3));
}

TEST(AirFileWatch, TheAirWatchesItsFileUnlessTurnedOff) {
    tavtest::ScopedEnv watch("TAVLIN_AIR_WATCH");
    watch.Unset();
    EXPECT_TRUE(AirFileWatch::Enabled());
    watch.Set("1");
    EXPECT_TRUE(AirFileWatch::Enabled());
    watch.Set("0");
    EXPECT_FALSE(AirFileWatch::Enabled());
}

// A program of its own, whose air comes from a file at first use: the air follows that file
// without anyone driving a watch.
TEST(AirFileWatch, AProgramsAirFollowsItsFileByItself) {
    const auto dir = std::filesystem::temp_directory_path() / ("tavlin-air-own-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "air.json").string();
    std::ofstream(file) << R"({"radios":[{"stack":"microsoft"}]})";
    tavtest::ScopedEnv air("TAVLIN_AIR", file), watch("TAVLIN_AIR_WATCH", "1");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // A fresh process: its air loads the file now and starts watching it.
            Air& a = Air::Instance();
            if (!a.RadioPresent(1) || a.RadioPresent(3))
                std::_Exit(2);
            std::ofstream(file, std::ios::trunc) << R"({"radios":[{"stack":"widcomm"}]})";
            for (int i = 0; i < 1000 && !a.RadioPresent(3); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::_Exit(a.RadioPresent(3) && !a.RadioPresent(1) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    std::filesystem::remove_all(dir);
}
