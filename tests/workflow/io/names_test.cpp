// What a photo can be written as, decided by its name (or its content), and
// names a disk may take for one.
#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "temp_folder.hpp"
#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

using Names = TempFolderTest;

TEST_F(Names, OnlyFormatsThatHoldEightBitColourAreWritten) {
    const std::pair<const char*, bool> cases[] = {
        {"a.jpg", true},  {"a.PNG", true},  {"a.tif", true},  {"a.pgm", false},
        {"a.pbm", false}, {"a.hdr", false}, {"a.pfm", false}, {"a.raw", false},
    };
    for (const auto& [name, writable] : cases)
        EXPECT_EQ(colourFormatProblem(folder + name).empty(), writable)
            << name << ": " << colourFormatProblem(folder + name);
}

TEST(NameRules, APhotoIsWrittenAsItsNamesFormatElseAsItsContents) {
    EXPECT_EQ(encodingFor("a/IMG_1.JPG", ".png"), ".jpg");  // the name's, when it has a writer
    EXPECT_EQ(encodingFor("a/IMG_1.jfif", ".jpg"), ".jpg");
    EXPECT_EQ(encodingFor("a/IMG_1", ".png"), ".png");
    EXPECT_EQ(encodingFor("a/notes.txt", ""), "");
    // regression: JPEG 2000's writer was tried with 2 x 2 pixels, under its minimum
    EXPECT_EQ(colourFormatProblem("a.jp2"), "");
}

// Regression: under a Turkish locale, upper-case extensions (.TIF) were not
// recognised: case was folded through the locale, where 'I' is no 'i'.
TEST(NameRules, CaseIsFoldedInAscii) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    bool turkish = false;
    for (const char* name : {"tr_TR.UTF-8", "tr_TR.utf8", "tr_TR.ISO-8859-9", "tr_TR"})
        if (std::setlocale(LC_ALL, name)) {
            turkish = true;
            break;
        }
    EXPECT_EQ(lowercaseExtension("SCAN.TIF"), ".tif");
    EXPECT_EQ(asciiLower("IMG_\xc4\xb0.JPG"), "img_\xc4\xb0.jpg");  // only A to Z change
    EXPECT_EQ(colourFormatProblem("SCAN.TIF"), "");
    std::string bytes;
    EXPECT_TRUE(encodeImage("SCAN.TIF", cv::Mat(4, 4, CV_8UC3), bytes).done);
    std::setlocale(LC_ALL, before.c_str());
    if (!turkish) GTEST_SKIP() << "no Turkish locale here: the case was folded in the C locale";
}

// Names a disk that does not tell case or an accent's forms apart takes for
// one meet under one key; the folder's listing then decides.
TEST(NameRules, NamesThatMeetOnADiskAreToldFromTheListing) {
    EXPECT_EQ(nameMeetingKey("IMG_0001.JPG"), nameMeetingKey("img_0001.jpg"));
    EXPECT_EQ(nameMeetingKey("\xc3\xa9t\xc3\xa9.jpg"), nameMeetingKey("e\xcc\x81te\xcc\x81.jpg"));
    EXPECT_NE(nameMeetingKey("IMG_0001.JPG"), nameMeetingKey("IMG_0002.JPG"));
    // a case-sensitive disk lists both as they are: two files
    EXPECT_FALSE(sameFileOnDisk("IMG.JPG", "img.jpg", {"IMG.JPG", "img.jpg", "other.png"}));
    // one that is not lists only the name it keeps
    EXPECT_TRUE(sameFileOnDisk("IMG.JPG", "img.jpg", {"IMG.JPG", "other.png"}));
    // one that normalises lists its own form of the name
    EXPECT_TRUE(sameFileOnDisk("\xc3\xa9.jpg", "e\xcc\x81.jpg", {"e\xcc\x81.jpg"}));
}

}  // namespace
}  // namespace tintsmith
