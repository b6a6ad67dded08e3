// The Documents folder lookup on POSIX systems.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.hpp"
#include "temp_folder.hpp"

namespace platform {
namespace {

// Sets an environment variable for one test and restores it afterwards.
struct ScopedEnv {
    ScopedEnv(const char* variable, const char* value) : name(variable) {
        const char* old = std::getenv(name);
        if (old) saved = old, had = true;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (had)
            setenv(name, saved.c_str(), 1);
        else
            unsetenv(name);
    }
    const char* name;
    std::string saved;
    bool had = false;
};

using DocumentsFolder = TempFolderTest;

TEST_F(DocumentsFolder, FollowsUserDirsThenHome) {
    const std::string home = root.string();
    const std::string config = home + "/.config";
    std::filesystem::create_directories(config);
    ScopedEnv homeEnv("HOME", home.c_str());
    ScopedEnv configEnv("XDG_CONFIG_HOME", nullptr);

    EXPECT_EQ(documentsFolder(), home + "/Documents");

    std::ofstream(config + "/user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
        << "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente/\"\n";
    EXPECT_EQ(documentsFolder(), home + "/Dokumente");

    std::string other = home + "/elsewhere";
    std::filesystem::create_directories(other);
    std::ofstream(other + "/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n";
    ScopedEnv otherConfig("XDG_CONFIG_HOME", other.c_str());
    EXPECT_EQ(documentsFolder(), "/srv/docs");
}

TEST_F(DocumentsFolder, WithoutHomeFallsBackToThePasswdEntry) {
    ScopedEnv homeEnv("HOME", nullptr);
    ScopedEnv configEnv("XDG_CONFIG_HOME", "/nonexistent-config");
    const std::string found = documentsFolder();
    EXPECT_FALSE(found.empty());
    EXPECT_EQ(found.substr(found.size() - 10), "/Documents");
}

TEST_F(DocumentsFolder, APathLongerThanTheSystemLimitCountsAsNone) {
    std::string home = "/" + std::string(5000, 'h');
    ScopedEnv homeEnv("HOME", home.c_str());
    ScopedEnv configEnv("XDG_CONFIG_HOME", "/nonexistent-config");
    EXPECT_EQ(documentsFolder(), "");
}

}  // namespace
}  // namespace platform
