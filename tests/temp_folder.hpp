// A fresh empty folder for each test, named after it and removed when it ends.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "platform/platform.hpp"

class TempFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        root = std::filesystem::temp_directory_path() /
               (std::string("tintsmith_") + test->test_suite_name() + "_" + test->name() + "_" +
                std::to_string(platform::processId()));
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root);
        folder = (root / "").string();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    std::filesystem::path root;
    std::string folder;  // root with a trailing separator
};
