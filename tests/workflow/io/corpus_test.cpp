// The blackbox corpus: real files made by others and the shapes they lack,
// each with its expected outcome in expected.txt beside them.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <tiffio.h>
#include <opencv2/imgproc.hpp>

#include "temp_folder.hpp"
#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

namespace fs = std::filesystem;

// One line of the manifest: a file, then "corrected <width>x<height>
// orientation <n>" (its size as read, upright) or "skipped <words of its reason>".
struct Expected {
    std::string file;
    bool corrected = false;
    int width = 0, height = 0, orientation = 1;
    std::string reason;
};

std::vector<Expected> manifest() {
    std::vector<Expected> lines;
    std::ifstream in(std::string(TINTSMITH_CORPUS) + "/expected.txt");
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        Expected expected;
        std::string outcome, orientation;
        char by = 0;
        words >> expected.file >> outcome;
        expected.corrected = outcome == "corrected";
        if (expected.corrected)
            words >> expected.width >> by >> expected.height >> orientation >> expected.orientation;
        else
            std::getline(words >> std::ws, expected.reason);
        lines.push_back(expected);
    }
    return lines;
}

TEST(Corpus, EveryFileHasItsExpectedOutcome) {
    const std::vector<Expected> lines = manifest();
    ASSERT_GT(lines.size(), 100u);
    std::set<std::string> named;
    for (const Expected& expected : lines) {
        named.insert(expected.file);
        const ImageRead read = readImageWhole(std::string(TINTSMITH_CORPUS) + "/" + expected.file);
        if (expected.corrected) {
            EXPECT_TRUE(read.outcome.done) << expected.file << ": " << read.outcome.reason;
            EXPECT_EQ(read.image.size(), cv::Size(expected.width, expected.height))
                << expected.file;
            EXPECT_EQ(read.metadata.orientation, expected.orientation) << expected.file;
        } else {
            EXPECT_NE(read.problem, ReadProblem::None) << expected.file;
            EXPECT_NE(read.outcome.reason.find(expected.reason), std::string::npos)
                << expected.file << ": " << read.outcome.reason;
        }
    }
    // a picture added to the corpus without its outcome is no test
    for (const auto& entry : fs::recursive_directory_iterator(TINTSMITH_CORPUS)) {
        const std::string extension = entry.path().extension().string();
        if (!entry.is_regular_file() || extension == ".txt" || extension == ".md" ||
            extension == ".icc" ||
            entry.path().filename().string().find("LICENSE") != std::string::npos)
            continue;
        const std::string file = fs::relative(entry.path(), TINTSMITH_CORPUS).generic_string();
        EXPECT_TRUE(named.count(file)) << file << " has no expected outcome";
    }
}

// Regression: the colour profile of an ordinary libtiff TIFF, whose directory
// follows the pixels, went untold when it lay past the first MiB.
struct TiffProfile : TempFolderTest {};

TEST_F(TiffProfile, IsToldWhereverTheDirectoryStands) {
    std::ifstream in(std::string(TINTSMITH_CORPUS) + "/libjpeg-turbo/test3.icc", std::ios::binary);
    const std::string icc((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(icc.empty());
    for (const int side : {40, 700}) {  // 4.8 KB and 1.47 MB of pixels before the directory
        const std::string path = folder + "profiled.tif";
        TIFF* tiff = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(tiff, nullptr);
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, side);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, side);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, side);
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, std::uint32_t(icc.size()), icc.data());
        const std::vector<std::uint8_t> row(std::size_t(side) * 3, 128);
        for (int y = 0; y < side; ++y)
            TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(row.data()), std::uint32_t(y), 0);
        TIFFClose(tiff);
        const ImageRead read = readImageWhole(path);
        ASSERT_TRUE(read.outcome.done) << read.outcome.reason;
        EXPECT_NE(read.metadata.nonSrgbProfile, "") << side << " x " << side;
    }
}

}  // namespace
}  // namespace tintsmith
