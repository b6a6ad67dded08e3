// Working paths, the LUT image path rule and the chart catalogue.
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

TEST(WorkingPaths, AppendFixedSuffixesToTheDocumentsFolder) {
    WorkingPaths paths = buildWorkingPaths("/home/ana/Documents");
    EXPECT_EQ(paths.referenceImage, "/home/ana/Documents/Tintsmith/cc.jpg");
    EXPECT_EQ(paths.inputPhotos, "/home/ana/Documents/Tintsmith/Photos/");
    EXPECT_EQ(paths.outputPhotos, "/home/ana/Documents/Tintsmith/ccPhotos/");
    EXPECT_EQ(paths.lattice, "/home/ana/Documents/Tintsmith/original.png");
    EXPECT_EQ(paths.lutImage, "/home/ana/Documents/Tintsmith/cc_LUT.png");
    EXPECT_EQ(paths.cube, "/home/ana/Documents/Tintsmith/cc_LUT.cube");
}

TEST(WorkingPaths, AFailedLookupStartsAtTheRoot) {
    WorkingPaths paths = buildWorkingPaths("");
    EXPECT_EQ(paths.referenceImage, "/Tintsmith/cc.jpg");
    EXPECT_EQ(paths.inputPhotos, "/Tintsmith/Photos/");
    EXPECT_EQ(paths.outputPhotos, "/Tintsmith/ccPhotos/");
    EXPECT_EQ(paths.lutImage, "/Tintsmith/cc_LUT.png");
    EXPECT_EQ(paths.cube, "/Tintsmith/cc_LUT.cube");
}

// Regression: a stem rule that looked only at the name after the last '/'
// dropped the folder and wrote cc_LUT.png into the current directory.
TEST(WorkingPaths, LutImageSitsBesideTheReferenceImage) {
    EXPECT_EQ(lutImagePathFor("/a/b.c/cc.jpg"), "/a/b.c/cc_LUT.png");
    EXPECT_EQ(lutImagePathFor("C:\\Users\\ana\\Tintsmith\\cc.jpg"),
              "C:\\Users\\ana\\Tintsmith\\cc_LUT.png");
    EXPECT_EQ(lutImagePathFor("/a.b/cc"), "/a.b/cc_LUT.png");  // a dot in the folder is not an extension
    EXPECT_EQ(lutImagePathFor("cc.tar.jpg"), "cc.tar_LUT.png");
}

// Sets an environment variable for one test and restores it afterwards.
struct ScopedEnv {
    ScopedEnv(const char* variable, const char* value) : name(variable) {
        const char* old = std::getenv(name);
        if (old) saved = old, had = true;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~ScopedEnv() {
        if (had) setenv(name, saved.c_str(), 1);
        else unsetenv(name);
    }
    const char* name;
    std::string saved;
    bool had = false;
};

TEST(DocumentsFolder, FollowsUserDirsThenHome) {
    std::string home = ::testing::TempDir() + "docs_home";
    std::string config = home + "/.config";
    ASSERT_EQ(std::system(("mkdir -p '" + config + "'").c_str()), 0);
    ScopedEnv homeEnv("HOME", home.c_str());
    ScopedEnv configEnv("XDG_CONFIG_HOME", nullptr);

    std::remove((config + "/user-dirs.dirs").c_str());
    EXPECT_EQ(platform::documentsFolder(), home + "/Documents");

    std::ofstream(config + "/user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
        << "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente/\"\n";
    EXPECT_EQ(platform::documentsFolder(), home + "/Dokumente");

    std::string other = home + "/elsewhere";
    ASSERT_EQ(std::system(("mkdir -p '" + other + "'").c_str()), 0);
    std::ofstream(other + "/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n";
    ScopedEnv otherConfig("XDG_CONFIG_HOME", other.c_str());
    EXPECT_EQ(platform::documentsFolder(), "/srv/docs");
}

TEST(DocumentsFolder, WithoutHomeFallsBackToThePasswdEntry) {
    ScopedEnv homeEnv("HOME", nullptr);
    ScopedEnv configEnv("XDG_CONFIG_HOME", "/nonexistent-config");
    std::string folder = platform::documentsFolder();
    EXPECT_FALSE(folder.empty());
    EXPECT_EQ(folder.substr(folder.size() - 10), "/Documents");
}

TEST(DocumentsFolder, APathLongerThanTheSystemLimitCountsAsNone) {
    std::string home = "/" + std::string(5000, 'h');
    ScopedEnv homeEnv("HOME", home.c_str());
    ScopedEnv configEnv("XDG_CONFIG_HOME", "/nonexistent-config");
    EXPECT_EQ(platform::documentsFolder(), "");
}

TEST(ChartCatalogue, DetectorTypesAndBuiltInReferences) {
    for (int choice : {0, 2, 3, 4}) {
        ChartReference reference = chartReference(choice);
        EXPECT_EQ(reference.detectorType, cv::mcc::MCC24) << choice;
        EXPECT_FALSE(reference.builtIn) << choice;
        EXPECT_EQ(reference.colours.rows, 24);
        EXPECT_EQ(reference.colours.cols, 1);
        EXPECT_EQ(reference.colours.type(), CV_64FC3);
    }
    ChartReference classic = chartReference(1);
    EXPECT_EQ(classic.detectorType, cv::mcc::MCC24);
    EXPECT_TRUE(classic.builtIn);
    EXPECT_EQ(classic.constColor, cv::ccm::COLORCHECKER_Macbeth);
    EXPECT_TRUE(classic.colours.empty());

    // The last two rows cross: detector type 1 with colours 2, type 2 with colours 1.
    ChartReference digitalSg = chartReference(5);
    EXPECT_EQ(digitalSg.detectorType, 1);
    EXPECT_EQ(digitalSg.constColor, 2);
    EXPECT_EQ(digitalSg.patchCount, 140);
    ChartReference vinyl = chartReference(6);
    EXPECT_EQ(vinyl.detectorType, 2);
    EXPECT_EQ(vinyl.constColor, 1);
    EXPECT_EQ(vinyl.patchCount, 18);
    EXPECT_TRUE(vinyl.colours.empty());
}

TEST(ChartCatalogue, TablesAreScaledCopiesOfTheConstants) {
    ChartReference clone = chartReference(0);
    // OpenCV divides a matrix by multiplying with 1/255, one rounding away from v/255.
    const double ulp = 1e-16;
    EXPECT_NEAR(clone.colours.at<cv::Vec3d>(0)[0], 115 / 255.0, ulp);
    EXPECT_NEAR(clone.colours.at<cv::Vec3d>(0)[1], 82 / 255.0, ulp);
    EXPECT_NEAR(clone.colours.at<cv::Vec3d>(0)[2], 69 / 255.0, ulp);
    EXPECT_EQ(clone.colours.at<cv::Vec3d>(11)[0], 1.0);  // 255 scales to exactly 1
    EXPECT_EQ(chartReference(3).colours.at<cv::Vec3d>(17)[0], 0.0);
    EXPECT_EQ(chartReference(2).colours.at<cv::Vec3d>(23)[1], 1.0);
    EXPECT_NEAR(chartReference(2).colours.at<cv::Vec3d>(23)[2], 249 / 255.0, ulp);
    EXPECT_EQ(chartReference(4).colours.at<cv::Vec3d>(12)[0], 0.0);
    EXPECT_NEAR(chartReference(4).colours.at<cv::Vec3d>(12)[2], 158 / 255.0, ulp);

    // scaling works on a copy: the constants stay on 0..255
    cv::Mat table = referenceTable(0);
    EXPECT_EQ(table.at<cv::Vec3d>(0), cv::Vec3d(115, 82, 69));
    for (int choice : {0, 2, 3, 4}) {
        double low, high;
        cv::minMaxLoc(referenceTable(choice).reshape(1), &low, &high);
        EXPECT_GE(low, 0);
        EXPECT_LE(high, 255);
        cv::Mat scaled = referenceTable(choice) / 255.0;
        EXPECT_EQ(cv::norm(scaled, chartReference(choice).colours, cv::NORM_INF), 0) << choice;
    }
    EXPECT_TRUE(referenceTable(1).empty());
}

TEST(Settings, FileWinsOverCameraAndBothClearMeansNoSource) {
    Settings settings;
    EXPECT_EQ(sourceOf(settings), Source::File);
    settings.useCamera = true;
    EXPECT_EQ(sourceOf(settings), Source::File);
    settings.useFile = false;
    EXPECT_EQ(sourceOf(settings), Source::Camera);
    settings.useCamera = false;
    EXPECT_EQ(sourceOf(settings), Source::None);
}

}  // namespace
}  // namespace tintsmith
