// Runs the built cindel command as a separate process, the way a user does, in a fresh folder per
// test, and collects its exit code and both output streams.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace cli {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string shellQuoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A fixture with its own temporary folder (removed afterwards) and the command at hand.
class CindelRun : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = "cindel-test-";
        name += std::to_string(getpid());
        name += "-";
        name += ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        // A folder a test made unwritable must be writable again to be removed.
        std::error_code ignored;
        std::filesystem::permissions(dir_ / "locked", std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(dir_);
    }

    Outcome cindel(const std::vector<std::string>& args) {
        std::string command = shellQuoted(CINDEL_EXE_PATH);
        for (const std::string& a : args) command += ' ' + shellQuoted(a);
        command += " >" + shellQuoted((dir_ / "stdout").string());
        command += " 2>" + shellQuoted((dir_ / "stderr").string());
        Outcome run;
        const int status = std::system(command.c_str());
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = slurp(dir_ / "stdout");
        run.err = slurp(dir_ / "stderr");
        return run;
    }

    std::string writeScene(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name) << text;
        return (dir_ / name).string();
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
};

}  // namespace cli
