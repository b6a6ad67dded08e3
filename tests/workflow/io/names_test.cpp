// What a photo can be written as, decided by its name.
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

}  // namespace
}  // namespace tintsmith
