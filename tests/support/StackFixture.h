// Shared set-up for tests of the stack loaders: a clean platform, an empty air and a private registry.
#pragma once

#include "AirPhones.h"
#include "ScopedEnv.h"
#include "sim/air/Air.h"
#include "vcl/Registry.h"
#include "sim/win32/Testing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

class StackFixture : public ::testing::Test {
protected:
    void SetUp() override {
        win::test::Reset();
        air::Air::Instance().Clear();
        char pattern[] = "/tmp/tavlin-stacks-XXXXXX";
        registryDir_ = ::mkdtemp(pattern);
        registryEnv_.emplace("TAVLIN_REGISTRY_DIR", registryDir_);
    }
    void TearDown() override {
        win::test::PumpMessages();
        air::Air::Instance().Clear();
        win::test::Reset();
        registryEnv_.reset();
        std::error_code ec;
        std::filesystem::remove_all(registryDir_, ec);
    }
    static void SetMachineValue(const std::u16string& key, const std::u16string& name, const std::u16string& value) {
        vcl::TRegistry reg(vcl::HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(reg.OpenKey(key, true));
        reg.WriteString(name, value);
    }
    static void SetRadio(int stack, bool present) { tavtest::PlugRadio(stack, 0x55, present); }

private:
    std::string registryDir_;
    std::optional<tavtest::ScopedEnv> registryEnv_;
};
