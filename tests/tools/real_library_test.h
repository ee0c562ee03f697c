// real_library_test.h: a fixture for tests of the library on the real window
// system. Each test runs in a fresh temporary directory, so the log lands there
// and nothing is left behind; the library is ended after every test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/core.h"
#include "library/library.h"
#include "shell_tools.h"

class RealLibraryTest : public ::testing::Test {
protected:
    std::string dir, startDir;

    // Makes a directory named from prefix ("/tmp/name") and makes it the current one.
    void EnterWorkDir(const std::string& prefix) {
        std::string pattern = prefix + "-XXXXXX";
        char* made = mkdtemp(&pattern[0]);
        ASSERT_NE(made, nullptr) << "cannot make " << pattern;
        dir = made;
        char cwd[1024];
        startDir = getcwd(cwd, sizeof cwd) ? cwd : "/";
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override {
        if (dir.empty()) return;
        EndLibrary();
        if (chdir(startDir.c_str()) != 0) ADD_FAILURE();
        Shell("rm -rf '" + dir + "'");
    }
    std::string ReadLog() const {
        std::ifstream in(dir + "/AppLog.txt", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};
