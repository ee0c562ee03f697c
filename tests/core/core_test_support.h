// core_test_support.h: a fresh fake platform and a temporary start directory per test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/core.h"
#include "library/library.h"
#include "platform/fake/fake_platform.h"

class FakePlatformTest : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override {
        char pattern[] = "/tmp/ravlin-test-XXXXXX";
        dir = mkdtemp(pattern);
        InstallFakePlatform();
        FAKE.currentDirectory = dir;
    }
    void TearDown() override {
        EndLibrary();  // the library's state is process-wide: leave it ended
        SetLogOutputEnabled(1);
        SetWindowTitleText("");
        ChangeWindowMode(1);
        std::string command = "rm -rf '" + dir + "'";
        if (system(command.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir;
    }

    std::string ReadLog() const { return ReadFile(dir + "/AppLog.txt"); }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // The calls among names, in the order they were made.
    static std::vector<std::string> CallsAmong(const std::vector<std::string>& names, size_t from = 0) {
        std::vector<std::string> picked;
        for (size_t i = from; i < FAKE.calls.size(); i++) {
            for (const std::string& name : names) {
                if (FAKE.calls[i] == name) picked.push_back(name);
            }
        }
        return picked;
    }
};
