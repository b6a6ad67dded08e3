// Batch correction of the Photos folder into ccPhotos.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "temp_folder.hpp"
#include "workflow/sample_chart.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

namespace fs = std::filesystem;

struct Batch : TempFolderTest {
    void SetUp() override {
        TempFolderTest::SetUp();
        in = folder + "Photos/";
        out = folder + "ccPhotos/";
        fs::create_directories(in);
        fs::create_directories(out);
    }
    BatchReport run() {
        testing::internal::CaptureStdout();
        BatchReport report = batchCorrectPhotos(in, out, model);
        said = testing::internal::GetCapturedStdout();
        return report;
    }
    static cv::Mat photo(int seed, cv::Size size = {96, 64}) {
        cv::Mat image(size, CV_8UC3);
        cv::RNG rng(seed);
        rng.fill(image, cv::RNG::UNIFORM, 0, 256);
        return image;
    }
    std::vector<cv::String> listed(const std::string& where) {
        std::vector<cv::String> files;
        cv::glob(where + "*", files, false);
        return files;
    }
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    std::string in, out, said;
};

TEST_F(Batch, AnEmptyFolderWritesAndPrintsNothing) {
    BatchReport report = run();
    EXPECT_EQ(report.corrected + report.skipped + report.failed, 0);
    EXPECT_EQ(said, "");
    EXPECT_TRUE(listed(out).empty());
}

TEST_F(Batch, EveryPhotoEqualsTheCorrectionAppliedByHand) {
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(cv::imwrite(in + "p" + std::to_string(i) + ".png", photo(i)));
    BatchReport report = run();
    EXPECT_EQ(report.corrected, 3);
    EXPECT_EQ(said, "");
    for (int i = 0; i < 3; ++i) {
        cv::Mat corrected = cv::imread(out + "p" + std::to_string(i) + ".png", cv::IMREAD_UNCHANGED);
        ASSERT_FALSE(corrected.empty());
        EXPECT_EQ(cv::norm(corrected, correctImage(photo(i), model), cv::NORM_INF), 0) << i;
    }
    // input photos are only read
    EXPECT_EQ(cv::norm(cv::imread(in + "p0.png"), photo(0), cv::NORM_INF), 0);
}

TEST_F(Batch, KeepsNamesAndFormats) {
    ASSERT_TRUE(cv::imwrite(in + "IMG_0001.JPG", photo(1)));
    cv::Mat bgra;
    cv::cvtColor(photo(2), bgra, cv::COLOR_BGR2BGRA);
    ASSERT_TRUE(cv::imwrite(in + "alpha.png", bgra));
    cv::Mat deep;
    photo(3).convertTo(deep, CV_16UC3, 257);
    ASSERT_TRUE(cv::imwrite(in + "deep.png", deep));
    cv::Mat grey;
    cv::cvtColor(photo(4), grey, cv::COLOR_BGR2GRAY);
    ASSERT_TRUE(cv::imwrite(in + "grey name with spaces é.png", grey));
    EXPECT_EQ(run().corrected, 4) << said;

    std::ifstream jpeg(out + "IMG_0001.JPG", std::ios::binary);
    char magic[2] = {};
    jpeg.read(magic, 2);
    EXPECT_EQ(std::string(magic, 2), "\xFF\xD8");
    for (const char* name : {"alpha.png", "deep.png", "grey name with spaces é.png"}) {
        cv::Mat written = cv::imread(out + name, cv::IMREAD_UNCHANGED);
        EXPECT_EQ(written.type(), CV_8UC3) << name;  // alpha dropped, 16-bit and grey read as 8-bit colour
    }
    cv::Mat expectDeep = correctImage(cv::imread(in + "deep.png", cv::IMREAD_COLOR), model);
    EXPECT_EQ(cv::norm(cv::imread(out + "deep.png", cv::IMREAD_UNCHANGED), expectDeep, cv::NORM_INF), 0);
}

TEST_F(Batch, StrayFilesAreSkippedByNameAndSubfoldersNotEntered) {
    ASSERT_TRUE(cv::imwrite(in + "a.png", photo(1)));
    std::ofstream(in + "notes.txt") << "not a photo";
    std::ofstream(in + "empty.jpg");
    std::ofstream(in + "random.jpg") << std::string(5000, '\x5a');
    ASSERT_TRUE(cv::imwrite(in + "z.png", photo(2)));
    fs::create_directories(in + "sub");
    fs::copy_file(in + "a.png", in + "sub/b.png");

    BatchReport report = run();
    EXPECT_EQ(report.corrected, 2);
    EXPECT_EQ(report.skipped, 3);
    EXPECT_EQ(report.failed, 0);
    for (const char* name : {"notes.txt", "empty.jpg", "random.jpg"})
        EXPECT_NE(said.find(name), std::string::npos) << name << " not named in: " << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 3);
    EXPECT_EQ(listed(out).size(), 2u);
    EXPECT_TRUE(cv::imread(out + "sub/b.png").empty());
}

TEST_F(Batch, AMissingFolderIsToldAndCounted) {
    ASSERT_TRUE(cv::imwrite(in + "a.png", photo(1)));
    ASSERT_TRUE(cv::imwrite(in + "b.png", photo(2)));
    fs::remove_all(out);
    BatchReport report = run();
    EXPECT_EQ(report.failed, 2);
    EXPECT_NE(said.find("ccPhotos/a.png"), std::string::npos) << said;
    EXPECT_NE(said.find("ccPhotos/b.png"), std::string::npos) << said;

    fs::remove_all(in);
    report = run();
    EXPECT_EQ(report.failed, 1);
    EXPECT_NE(said.find("Photos/"), std::string::npos) << said;
}

TEST_F(Batch, WithBatchModeOffNeitherFolderIsTouched) {
    WorkingPaths paths = buildWorkingPaths(folder + "docs");
    fs::create_directories(paths.inputPhotos);
    fs::create_directories(paths.outputPhotos);
    ASSERT_TRUE(cv::imwrite(paths.inputPhotos + "a.png", photo(1)));
    cv::Mat image = fittedSample().photo.clone();
    const CheckerList& checkers = fittedSample().checkers;
    testing::internal::CaptureStdout();
    exportChart(image, checkers[0], chartReference(0), false, paths);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(listed(paths.outputPhotos).empty());

    testing::internal::CaptureStdout();
    exportChart(image, checkers[0], chartReference(0), true, paths);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(listed(paths.outputPhotos).size(), 1u);
}

}  // namespace
}  // namespace tintsmith
