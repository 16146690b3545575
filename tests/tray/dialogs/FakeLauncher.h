// A shell and registry that answer as the test says, and remember what was launched.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tray/dialogs/LinkLauncher.h"

namespace vantel::test {

class FakeLauncher : public LinkLauncher {
  public:
    INT_PTR shellResult = 42;
    std::map<std::string, std::string> classes;
    INT_PTR runResult = 33;
    std::vector<std::string> opened;
    std::vector<std::string> ran;
    /// Files opened, and whether each existed when it was.
    std::vector<std::filesystem::path> files;
    std::vector<bool> existed;

  protected:
    INT_PTR ShellOpen(const std::string& url, int) override {
        opened.push_back(url);
        return shellResult;
    }
    INT_PTR ShellOpenFile(const std::filesystem::path& file, int) override {
        files.push_back(file);
        existed.push_back(std::filesystem::is_regular_file(file));
        return shellResult;
    }
    bool ReadClassesValue(const std::string& key, std::string& value) override {
        const auto found = classes.find(key);
        if (found == classes.end()) {
            return false;
        }
        value = found->second;
        return true;
    }
    INT_PTR Run(const std::string& commandLine, int) override {
        ran.push_back(commandLine);
        return runResult;
    }
};

}  // namespace vantel::test
