// Patch colours measured on real chart photos, byte for byte as the detector
// gave them, and the same sets as other light, exposure or a screen would
// give them: the tables the colour test and the verdict are judged on.
#pragma once

#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>

#include "workflow/chart/chart.hpp"

namespace tintsmith {

using MeasuredSet = PatchTable;

// assets/cc.jpg: the classic chart outdoors, 4 patches clipped
constexpr MeasuredSet kSampleChart = {
    {152, 103, 75},  {236, 186, 179}, {106, 150, 189}, {112, 134, 65},  {164, 163, 205},
    {138, 217, 210}, {254, 157, 67},  {60, 105, 204},  {251, 120, 127}, {114, 64, 114},
    {191, 221, 106}, {254, 192, 54},  {1, 68, 184},    {69, 185, 94},   {240, 86, 78},
    {255, 224, 80},  {242, 128, 180}, {1, 157, 208},   {247, 247, 247}, {232, 232, 232},
    {196, 198, 197}, {149, 151, 150}, {93, 98, 98},    {39, 42, 41}};
// desk.jpg: the chart lying on a desk
constexpr MeasuredSet kDeskChart = {
    {149, 114, 127}, {207, 171, 176}, {115, 155, 206}, {119, 133, 118}, {155, 159, 208},
    {77, 197, 212},  {229, 145, 99},  {94, 132, 205},  {209, 120, 150}, {131, 101, 155},
    {168, 194, 85},  {230, 172, 54},  {80, 117, 195},  {61, 156, 102},  {197, 81, 114},
    {226, 189, 13},  {205, 124, 184}, {30, 145, 209},  {228, 238, 240}, {205, 214, 225},
    {182, 185, 202}, {152, 151, 173}, {124, 120, 147}, {92, 86, 106}};
// IMG_20140613_203444.jpg: a small chart on the floor
constexpr MeasuredSet kFloorChart = {
    {162, 110, 126}, {218, 169, 174}, {131, 154, 206}, {130, 131, 118}, {171, 161, 211},
    {98, 200, 213},  {238, 140, 95},  {106, 127, 205}, {220, 111, 151}, {142, 91, 154},
    {184, 194, 98},  {239, 171, 73},  {79, 105, 191},  {61, 152, 87},   {206, 64, 98},
    {236, 188, 18},  {219, 118, 187}, {28, 138, 208},  {237, 236, 241}, {212, 211, 221},
    {194, 185, 202}, {164, 148, 175}, {130, 111, 142}, {86, 67, 89}};
// IMG_20140613_203451.jpg: a small chart on the floor, 8 patches clipped
constexpr MeasuredSet kFloorBrightChart = {
    {176, 121, 140}, {238, 196, 203}, {131, 171, 253}, {149, 149, 134}, {188, 171, 251},
    {122, 221, 234}, {252, 168, 118}, {86, 132, 254},  {236, 135, 174}, {160, 104, 169},
    {208, 217, 109}, {251, 198, 89},  {45, 100, 253},  {66, 170, 100},  {219, 75, 115},
    {251, 213, 36},  {236, 145, 209}, {42, 162, 227},  {254, 254, 254}, {239, 237, 247},
    {219, 210, 230}, {189, 175, 198}, {148, 127, 157}, {97, 80, 98}};
// IMG_20140613_203500.jpg: the chart shown on a laptop screen
constexpr MeasuredSet kLaptopScreenChart = {
    {137, 80, 73},   {187, 107, 71},  {104, 90, 93},  {101, 79, 31}, {134, 91, 92}, {78, 116, 77},
    {209, 100, 54},  {92, 77, 98},    {185, 71, 62},  {110, 54, 62}, {149, 128, 6}, {203, 100, 7},
    {89, 77, 103},   {75, 102, 35},   {169, 47, 47},  {205, 126, 9}, {182, 68, 77}, {35, 78, 88},
    {216, 175, 123}, {188, 143, 106}, {167, 118, 91}, {135, 92, 75}, {112, 75, 62}, {76, 44, 33}};
// IMG_20140613_203518.jpg: a small chart beside a keyboard, 3 patches half off it
constexpr MeasuredSet kKeyboardChart = {
    {160, 135, 150}, {194, 164, 182}, {142, 167, 217}, {144, 155, 150}, {187, 188, 230},
    {116, 220, 233}, {200, 136, 119}, {107, 139, 215}, {226, 140, 176}, {156, 113, 175},
    {194, 216, 120}, {243, 197, 118}, {88, 117, 207},  {71, 174, 107},  {213, 91, 133},
    {237, 209, 43},  {222, 141, 204}, {37, 158, 219},  {244, 248, 251}, {226, 230, 240},
    {204, 202, 219}, {174, 160, 189}, {137, 118, 154}, {84, 81, 117}};

// How a set is changed before it is judged.
enum class Shot {
    AsTaken,
    Over18,  // over-exposed: 1.8 times the light, clipped at 255
    Over26,  // 2.6 times
    Warm,    // tungsten-like: blue and green held back
    Cool,    // shade-like: red and green held back
    Dim,     // under-exposed to under half
    Screen,  // squeezed toward grey and lifted off black, as a screen shows a chart
};

// The set as N x 1 CV_64FC3 RGB on 0..1, changed as `shot` says.
inline cv::Mat patchSet(const MeasuredSet& set, Shot shot = Shot::AsTaken) {
    cv::Mat colours(24, 1, CV_64FC3);
    for (int i = 0; i < 24; ++i) {
        cv::Vec3d c(set[i][0], set[i][1], set[i][2]);
        const double grey = (c[0] + c[1] + c[2]) / 3;
        for (int k = 0; k < 3; ++k) {
            double& v = c[k];
            switch (shot) {
                case Shot::AsTaken:
                    break;
                case Shot::Over18:
                    v *= 1.8;
                    break;
                case Shot::Over26:
                    v *= 2.6;
                    break;
                case Shot::Warm:
                    v *= k == 0 ? 1.0 : k == 1 ? 0.85 : 0.6;
                    break;
                case Shot::Cool:
                    v *= k == 0 ? 0.65 : k == 1 ? 0.85 : 1.0;
                    break;
                case Shot::Dim:
                    v *= 0.45;
                    break;
                case Shot::Screen:
                    v = 38 + 0.8 * (grey + 0.45 * (v - grey));
                    break;
            }
            v = std::min(255.0, std::round(v)) / 255;
        }
        colours.at<cv::Vec3d>(i) = c;
    }
    return colours;
}

}  // namespace tintsmith
