// The blackbox corpus: real files made by others and the shapes they lack,
// each with its expected outcome in expected.txt beside them.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

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
            EXPECT_EQ(read.file.orientation, expected.orientation) << expected.file;
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
            entry.path().filename().string().find("LICENSE") != std::string::npos)
            continue;
        const std::string file = fs::relative(entry.path(), TINTSMITH_CORPUS).generic_string();
        EXPECT_TRUE(named.count(file)) << file << " has no expected outcome";
    }
}

}  // namespace
}  // namespace tintsmith
