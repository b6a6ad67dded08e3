// The seven chart choices, each with its detector chart type and reference
// colours: one of our four tables or the library's built-in data.
#include "workflow/chart/chart.hpp"

namespace tintsmith {

namespace {

constexpr PatchTable kCloneTable = {
    {115, 82, 69},   {204, 161, 141}, {101, 134, 179}, {89, 109, 61},   {141, 137, 194},
    {132, 228, 208}, {249, 118, 35},  {80, 91, 182},   {222, 91, 125},  {91, 63, 123},
    {173, 232, 91},  {255, 164, 26},  {44, 56, 142},   {74, 148, 81},   {179, 42, 50},
    {250, 226, 21},  {191, 81, 160},  {6, 142, 172},   {252, 252, 252}, {230, 230, 230},
    {200, 200, 200}, {143, 143, 142}, {100, 100, 100}, {50, 50, 50},
};

// Neutral patches are rows 12 to 23 on this chart.
constexpr PatchTable kPassportVideoTable = {
    {215, 200, 96},  {200, 103, 105}, {187, 122, 196}, {86, 115, 189},  {109, 207, 204},
    {128, 191, 104}, {96, 79, 70},    {146, 108, 86},  {190, 156, 133}, {178, 138, 112},
    {203, 173, 151}, {211, 181, 163}, {73, 73, 72},    {84, 85, 85},    {121, 121, 120},
    {146, 146, 145}, {183, 183, 183}, {222, 223, 222}, {67, 67, 67},    {61, 62, 62},
    {32, 32, 32},    {237, 238, 236}, {247, 249, 246}, {255, 255, 249},
};

constexpr PatchTable kClassicLegacyTable = {
    {107, 71, 56},   {195, 141, 120}, {79, 113, 151}, {82, 98, 52},    {122, 120, 172},
    {86, 190, 166},  {224, 114, 32},  {57, 79, 170},  {195, 69, 84},   {80, 44, 94},
    {158, 188, 48},  {234, 155, 26},  {30, 52, 146},  {61, 146, 58},   {171, 43, 44},
    {246, 201, 7},   {189, 74, 146},  {0, 130, 163},  {255, 255, 249}, {203, 204, 203},
    {157, 159, 158}, {112, 112, 112}, {70, 72, 73},   {34, 34, 35},
};

constexpr PatchTable kSpyderCheckr24Table = {
    {88, 192, 165},  {121, 122, 176}, {75, 96, 51},  {80, 115, 154},  {196, 144, 120},
    {103, 66, 53},   {221, 109, 27},  {55, 79, 161}, {194, 70, 88},   {83, 47, 103},
    {158, 188, 47},  {240, 154, 26},  {0, 128, 158}, {184, 70, 143},  {250, 205, 0},
    {174, 29, 44},   {56, 142, 57},   {25, 47, 140}, {255, 255, 252}, {203, 204, 202},
    {157, 157, 155}, {112, 113, 111}, {70, 70, 68},  {30, 31, 32},
};

// The classic chart's patch names, shared by the charts printed in its order.
constexpr const char* kClassicNames[24] = {
    "dark skin", "light skin",    "blue sky",     "foliage",   "blue flower",  "bluish green",
    "orange",    "purplish blue", "moderate red", "purple",    "yellow green", "orange yellow",
    "blue",      "green",         "red",          "yellow",    "magenta",      "cyan",
    "white",     "neutral 8",     "neutral 6.5",  "neutral 5", "neutral 3.5",  "black",
};

}  // namespace

const ChartRecord kChartCatalogue[kChartChoices] = {
    {"ColorChecker clone", cv::mcc::MCC24, &kCloneTable, cv::ccm::COLORCHECKER_Macbeth, 24,
     kClassicNames},
    {"Classic ColorChecker (X-Rite, Passport, Macbeth)", cv::mcc::MCC24, nullptr,
     cv::ccm::COLORCHECKER_Macbeth, 24, kClassicNames},
    {"X-Rite ColorChecker Passport Video", cv::mcc::MCC24, &kPassportVideoTable,
     cv::ccm::COLORCHECKER_Macbeth, 24, nullptr},
    {"X-Rite Colorchecker Classic Legacy", cv::mcc::MCC24, &kClassicLegacyTable,
     cv::ccm::COLORCHECKER_Macbeth, 24, kClassicNames},
    {"Datacolor SpyderCheckr 24", cv::mcc::MCC24, &kSpyderCheckr24Table,
     cv::ccm::COLORCHECKER_Macbeth, 24, nullptr},
    {"X-Rite ColorChecker Digital SG", cv::mcc::SG140, nullptr, cv::ccm::COLORCHECKER_DigitalSG,
     140, nullptr},
    {"DGK/DKK Vinyl", cv::mcc::VINYL18, nullptr, cv::ccm::COLORCHECKER_Vinyl, 18, nullptr},
};

cv::Mat referenceTable(int chartChoice) {
    const PatchTable* table = kChartCatalogue[chartChoice].table;
    if (!table) return {};
    cv::Mat colours(24, 1, CV_64FC3);
    for (int row = 0; row < 24; ++row)
        colours.at<cv::Vec3d>(row) =
            cv::Vec3d((*table)[row][0], (*table)[row][1], (*table)[row][2]);
    return colours;
}

ChartReference chartReference(int chartChoice) {
    const ChartRecord& record = kChartCatalogue[chartChoice];
    ChartReference reference;
    reference.detectorType = record.detectorType;
    reference.builtIn = record.table == nullptr;
    reference.constColor = record.builtInColours;
    reference.patchCount = record.patchCount;
    reference.label = record.label;
    reference.patchNames = record.patchNames;
    if (!reference.builtIn) reference.colours = referenceTable(chartChoice) / 255.0;
    return reference;
}

}  // namespace tintsmith
