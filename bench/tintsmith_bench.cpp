// tintsmith_bench: every speed figure of one run, each a ratio against its
// baseline measured in the same run, on the same machine and the same disk.
// Exits with 1 when a figure misses its target or an output is not exact.
// Usage: tintsmith_bench [--quick] [--dir FOLDER]
//   --quick        times the plain sequence on 2 photos instead of 6, each
//                  batch once instead of 3 times, and repeats the short
//                  figures 5 times instead of 11 (about 30 s instead of 80 s)
//   --dir FOLDER   where the test photos and outputs go (default: a new
//                  folder in the system's temporary folder, removed at the end)
// Sections: options and timing · test photos · batch correction · real camera
// photos · cube file · start-up to the result window · main.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "export_steps.hpp"
#include "inputs.hpp"
#include "platform/platform.hpp"
#include "workflow/batch/batch.hpp"
#include "workflow/io/io.hpp"

namespace fs = std::filesystem;

namespace tintsmith {
namespace {

// --- Options and timing ------------------------------------------------------

constexpr int kLargeBatch = 30;      // photos in the large batch
constexpr int kSmallBatch = 6;       // its first photos form the small batch
constexpr double kNoiseSigma = 3.0;  // sensor noise, in 8-bit steps
constexpr int kJpegQuality = 92;     // a camera's "fine" setting
constexpr std::size_t kCubeBytes = 7340048;

struct Options {
    bool quick = false;
    fs::path folder;
    bool ownFolder = true;  // made by this run, so removed at its end
    int plainPhotos = 6;    // photos the plain sequence is timed on
    int repeats = 11;       // runs of each short figure; the median is shown
    int batchRuns = 3;      // runs of each batch and of its decode + encode baseline
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <class Work>
double timed(Work&& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return secondsSince(start);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Figures that missed their target, or outputs that were not exact, so far.
int missed = 0;

// "" when `met`, else a mark for the figure's line; counts the miss.
const char* verdict(bool met) {
    if (met) return "";
    ++missed;
    return "  !! MISSED";
}

std::string withSeparator(const fs::path& folder) {
    return folder.string() + platform::kPathSeparator;
}

void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string readBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The process's peak resident memory since the last reset, in MiB; -1 where
// the system does not tell (only Linux is asked).
double peakResidentMiB() {
#if defined(__linux__)
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
#endif
    return -1;
}

void resetPeakResident() {
#if defined(__linux__)
    std::ofstream("/proc/self/clear_refs") << "5";
#endif
}

// --- Test photos -------------------------------------------------------------
// 12-megapixel JPEGs cut from the sample chart photo, each with its own
// framing, white balance and sensor noise, so that they hold as many colours as
// a camera's photos rather than a few smooth gradients.

// Distinct 24-bit colours, one bit each.
class ColourCount {
  public:
    std::size_t add(const cv::Mat& bgr) {
        std::size_t fresh = 0;
        for (int row = 0; row < bgr.rows; ++row) {
            const std::uint8_t* pixel = bgr.ptr<std::uint8_t>(row);
            for (int col = 0; col < bgr.cols; ++col, pixel += 3) {
                std::uint32_t key = pixel[0] | pixel[1] << 8 | std::uint32_t(pixel[2]) << 16;
                std::uint8_t bit = std::uint8_t(1u << (key & 7));
                if (!(seen_[key >> 3] & bit)) seen_[key >> 3] |= bit, ++fresh;
            }
        }
        count_ += fresh;
        return fresh;
    }
    std::size_t count() const { return count_; }

  private:
    std::vector<std::uint8_t> seen_ = std::vector<std::uint8_t>(std::size_t(1) << 21);
    std::size_t count_ = 0;
};

cv::Mat makePhoto(const cv::Mat& chart, const cv::Mat& noiseField, cv::RNG& rng) {
    // framing: 75..100 % of the chart photo at 4:3, turned up to 3 degrees
    const double fullWidth = std::min(double(chart.cols), chart.rows * 4.0 / 3.0);
    const double width = fullWidth * rng.uniform(0.75, 1.0);
    const double height = width * 3 / 4;
    const cv::Point2f centre(float(rng.uniform(width / 2, chart.cols - width / 2)),
                             float(rng.uniform(height / 2, chart.rows - height / 2)));
    cv::Mat turn = cv::getRotationMatrix2D(centre, rng.uniform(-3.0, 3.0), kPhotoWidth / width);
    turn.at<double>(0, 2) += kPhotoWidth / 2.0 - centre.x;
    turn.at<double>(1, 2) += kPhotoHeight / 2.0 - centre.y;
    cv::Mat photo;
    cv::warpAffine(chart, photo, turn, cv::Size(kPhotoWidth, kPhotoHeight), cv::INTER_CUBIC,
                   cv::BORDER_REFLECT);
    if (rng.uniform(0, 2)) cv::flip(photo, photo, 1);

    // white balance and exposure: per-channel gains, a little cross-talk, an offset
    cv::Matx34f balance;
    for (int out = 0; out < 3; ++out) {
        for (int in = 0; in < 3; ++in)
            balance(out, in) =
                float(out == in ? rng.uniform(0.85, 1.15) : rng.uniform(-0.05, 0.05));
        balance(out, 3) = float(rng.uniform(-10.0, 10.0));
    }
    cv::transform(photo, photo, balance);

    // sensor noise: a window of one shared noise field at a random place
    cv::Rect window(rng.uniform(0, noiseField.cols - kPhotoWidth),
                    rng.uniform(0, noiseField.rows - kPhotoHeight), kPhotoWidth, kPhotoHeight);
    cv::Mat noisy;
    cv::add(photo, noiseField(window), noisy, cv::noArray(), CV_16S);
    noisy.convertTo(photo, CV_8U);
    return photo;
}

struct PhotoSet {
    std::vector<fs::path> large;  // the large batch's folder, in name order
    std::vector<fs::path> small;  // the small batch's folder: the first photos again
    fs::path largeFolder, smallFolder;
    std::size_t fewestColours = SIZE_MAX, mostColours = 0, allColours = 0;
    double meanColours = 0, meanBytes = 0;
};

PhotoSet makePhotos(const cv::Mat& chart, const fs::path& folder) {
    PhotoSet set;
    set.largeFolder = folder / "photos30";
    set.smallFolder = folder / "photos6";
    fs::create_directories(set.largeFolder);
    fs::create_directories(set.smallFolder);

    cv::RNG rng(20240611);
    cv::Mat noiseField(kPhotoHeight + 200, kPhotoWidth + 200, CV_16SC3);
    rng.fill(noiseField, cv::RNG::NORMAL, 0, kNoiseSigma);
    const std::vector<int> quality = {cv::IMWRITE_JPEG_QUALITY, kJpegQuality};
    ColourCount everyPhoto;
    for (int i = 0; i < kLargeBatch; ++i) {
        std::vector<std::uint8_t> jpeg;
        cv::imencode(".jpg", makePhoto(chart, noiseField, rng), jpeg, quality);
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.jpg", i + 1);
        set.large.push_back(set.largeFolder / name);
        writeBytes(set.large.back(), jpeg);
        if (i < kSmallBatch) {
            set.small.push_back(set.smallFolder / name);
            writeBytes(set.small.back(), jpeg);
        }
        // colours as the batch will see them: decoded from the file
        cv::Mat decoded = cv::imdecode(jpeg, cv::IMREAD_COLOR);
        ColourCount own;
        std::size_t colours = own.add(decoded);
        everyPhoto.add(decoded);
        set.fewestColours = std::min(set.fewestColours, colours);
        set.mostColours = std::max(set.mostColours, colours);
        set.meanColours += double(colours) / kLargeBatch;
        set.meanBytes += double(jpeg.size()) / kLargeBatch;
    }
    set.allColours = everyPhoto.count();
    return set;
}

// --- Batch correction --------------------------------------------------------

// The plain sequence photo by photo, as the batch ran before the cache.
void plainBatch(const std::vector<fs::path>& files, const fs::path& outputFolder,
                cv::ccm::ColorCorrectionModel& model) {
    for (const fs::path& file : files) {
        cv::Mat photo = cv::imread(file.string(), cv::IMREAD_COLOR);
        writeImageFile((outputFolder / file.filename()).string(), correctImage(photo, model));
    }
}

// Only the decoding and encoding (with the same durable write) of every photo.
void codecOnly(const std::vector<fs::path>& files, const fs::path& outputFolder) {
    for (const fs::path& file : files) {
        cv::Mat photo = cv::imread(file.string(), cv::IMREAD_COLOR);
        writeImageFile((outputFolder / file.filename()).string(), photo);
    }
}

double batchSeconds(const fs::path& input, const fs::path& output,
                    cv::ccm::ColorCorrectionModel& model, int expected) {
    fs::create_directories(output);
    BatchReport report;
    double seconds = timed(
        [&] { report = batchCorrectPhotos(withSeparator(input), withSeparator(output), model); });
    if (report.corrected != expected || report.failed || report.skipped)
        std::printf("  !! the batch corrected %d of %d photos%s\n", report.corrected, expected,
                    verdict(false));
    return seconds;
}

// A JPEG file without the JFIF, APP1 (Exif, XMP) and comment segments of its
// header: the metadata the batch carries over (the JFIF's resolution too),
// which the plain sequence drops.
std::string withoutMetadata(const std::string& jpeg) {
    std::string kept = jpeg.substr(0, 2);
    std::size_t pos = 2;
    while (pos + 4 <= jpeg.size() && std::uint8_t(jpeg[pos]) == 0xff) {
        const int marker = std::uint8_t(jpeg[pos + 1]);
        if (marker == 0xda) break;
        const std::size_t length =
            std::size_t(std::uint8_t(jpeg[pos + 2])) << 8 | std::uint8_t(jpeg[pos + 3]);
        if (marker != 0xe0 && marker != 0xe1 && marker != 0xfe)
            kept += jpeg.substr(pos, 2 + length);
        pos += 2 + length;
    }
    return kept + jpeg.substr(std::min(pos, jpeg.size()));
}

// Outputs of the batch that are the plain sequence's files byte for byte, once
// the metadata the batch keeps is set aside; `kept` counts those that hold
// the original's Exif, when it had one.
int identicalOutputs(const std::vector<fs::path>& files, const fs::path& plainFolder,
                     const fs::path& batchFolder, int* kept = nullptr) {
    int same = 0;
    for (const fs::path& file : files) {
        const std::string plain = readBytes(plainFolder / file.filename());
        const std::string batch = readBytes(batchFolder / file.filename());
        if (!plain.empty() && withoutMetadata(plain) == withoutMetadata(batch)) ++same;
        const std::string exif("Exif\0\0", 6);
        if (kept && readBytes(file).find(exif) != std::string::npos &&
            batch.find(exif) != std::string::npos)
            ++*kept;
    }
    return same;
}

// One photo alone: the plain sequence against the batch on a folder holding
// only it, alternately, `repeats` times each; returns the two medians.
std::pair<double, double> singlePhoto(const cv::Mat& photo, const fs::path& folder,
                                      cv::ccm::ColorCorrectionModel& model, int repeats) {
    const fs::path input = folder / "in";
    const fs::path plainOut = folder / "plain";
    const fs::path batchOut = folder / "batch";
    for (const fs::path& made : {input, plainOut, batchOut}) fs::create_directories(made);
    const fs::path file = input / "photo.jpg";
    cv::imwrite(file.string(), photo, {cv::IMWRITE_JPEG_QUALITY, kJpegQuality});
    std::vector<double> plain, batch;
    for (int i = 0; i < repeats; ++i) {
        plain.push_back(timed([&] { plainBatch({file}, plainOut, model); }));
        batch.push_back(timed(
            [&] { batchCorrectPhotos(withSeparator(input), withSeparator(batchOut), model); }));
    }
    if (readBytes(plainOut / "photo.jpg") != readBytes(batchOut / "photo.jpg"))
        std::printf("  !! the batch's output differs from the plain sequence's%s\n",
                    verdict(false));
    return {median(plain), median(batch)};
}

void benchBatch(const Options& options, const PhotoSet& photos,
                cv::ccm::ColorCorrectionModel& model) {
    const fs::path& root = options.folder;
    const int plainCount = options.plainPhotos;
    std::printf(
        "\n== Batch correction (figure = baseline time / batch time; batches and decode +\n"
        "   encode: median of %d runs)\n",
        options.batchRuns);

    // each batch run starts with an empty cache, as a program run does
    std::vector<double> smallRuns, largeRuns, codecRuns;
    double before = 0, peak = 0;
    fs::create_directories(root / "out_codec");
    for (int run = 0; run < options.batchRuns; ++run) {
        smallRuns.push_back(batchSeconds(photos.smallFolder, root / "out6", model, kSmallBatch));
        resetPeakResident();
        before = peakResidentMiB();
        largeRuns.push_back(batchSeconds(photos.largeFolder, root / "out30", model, kLargeBatch));
        peak = std::max(peak, peakResidentMiB());
        codecRuns.push_back(timed([&] { codecOnly(photos.large, root / "out_codec"); }));
    }
    const double small = median(smallRuns);
    const double large = median(largeRuns);
    const double codec = median(codecRuns);

    fs::create_directories(root / "out_plain");
    const std::vector<fs::path> plainFiles(photos.small.begin(), photos.small.begin() + plainCount);
    const double plain = timed([&] { plainBatch(plainFiles, root / "out_plain", model); });
    const double plainEach = plain / plainCount;
    const char* scaled = plainCount == kSmallBatch ? "measured" : "scaled";

    std::printf("  %-52s %8s %9s %9s\n", "", "seconds", "per photo", "figure");
    std::printf("  %-52s %8.2f %9.3f\n",
                ("plain sequence, timed on " + std::to_string(plainCount) + " photos").c_str(),
                plain, plainEach);
    const double smallFigure = plainEach * kSmallBatch / small;
    const double largeFigure = plainEach * kLargeBatch / large;
    std::printf("  %-52s %8.2f %9.3f %8.1fx  (target >= 5x; plain %s)%s\n", "batch of 6", small,
                small / kSmallBatch, smallFigure, scaled, verdict(smallFigure >= 5));
    std::printf("  %-52s %8.2f %9.3f %8.1fx  (target >= 10x; plain scaled per photo)%s\n",
                "batch of 30", large, large / kLargeBatch, largeFigure, verdict(largeFigure >= 10));
    std::printf("  %-52s %8.2f %9.3f\n",
                "decode + encode alone, 30 photos (imread, writeImageFile)", codec,
                codec / kLargeBatch);
    std::printf("  %-52s %8s %9s %8.2fx  (target <= 2x)%s\n",
                "batch of 30 per photo / decode + encode", "", "", large / codec,
                verdict(large / codec <= 2));

    const int same6 = identicalOutputs(plainFiles, root / "out_plain", root / "out6");
    const int same30 = identicalOutputs(plainFiles, root / "out_plain", root / "out30");
    std::printf(
        "  exact: %d of %d and %d of %d outputs of the batches of 6 and 30 are byte for\n"
        "  byte the plain sequence's files (same encoder input, so every decoded pixel)%s\n",
        same6, plainCount, same30, plainCount,
        verdict(same6 == plainCount && same30 == plainCount));
    if (peak > 0)
        std::printf(
            "  memory: peak resident %.0f MiB during the batch of 30 (%.0f MiB before it);\n"
            "  bound: table 64 MiB + per worker (cores + 1, at most 4) a decoded photo (34 MiB\n"
            "  here; sixteen rows for a JPEG in bands) and its encoding\n",
            peak, before);

    // photos alone: a small one takes the plain sequence's own steps without
    // threads, so its figure is 1x give or take the noise on a few milliseconds
    std::printf(
        "\n== One photo alone (median of %d; figure = plain / batch, target >= 1x,\n"
        "   within 5 %% on the small ones)\n",
        options.repeats);
    cv::Mat frame = cv::imread(photos.large.front().string(), cv::IMREAD_COLOR);
    for (const cv::Size size : {cv::Size(320, 240), cv::Size(640, 480)}) {
        cv::Mat shrunk;
        cv::resize(frame, shrunk, size, 0, 0, cv::INTER_AREA);
        const std::string label = std::to_string(size.width) + "x" + std::to_string(size.height);
        auto [plainOne, batchOne] =
            singlePhoto(shrunk, root / ("one_" + label), model, options.repeats);
        std::printf("  %-28s plain %8.4f s   batch %8.4f s %8.1fx%s\n", (label + " JPEG").c_str(),
                    plainOne, batchOne, plainOne / batchOne, verdict(plainOne / batchOne >= 0.95));
    }
    auto [plainBig, batchBig] = singlePhoto(frame, root / "one_12mp", model, 1);
    std::printf("  %-28s plain %8.4f s   batch %8.4f s %8.1fx  (one run)%s\n", "4000x3000 JPEG",
                plainBig, batchBig, plainBig / batchBig, verdict(plainBig / batchBig >= 1));
}

// --- Real camera photos ------------------------------------------------------
// The phone photos of bench/photos and the sample chart photo, with a camera's
// own noise, colour count and JPEG structure.

bool haveFfmpeg() {
#if defined(_WIN32)
    return std::system("ffmpeg -version >NUL 2>&1") == 0;
#else
    return std::system("ffmpeg -version >/dev/null 2>&1") == 0;
#endif
}

// What a user without Tintsmith's batch would run: ffmpeg's lut3d filter with
// the program's own cube, photo by photo (interpolated, and its own encoder).
bool ffmpegBatch(const std::vector<fs::path>& files, const fs::path& cube,
                 const fs::path& outputFolder) {
    for (const fs::path& file : files) {
        const std::string command = "ffmpeg -nostdin -loglevel error -y -i \"" + file.string() +
                                    "\" -vf \"lut3d=file='" + cube.string() + "'\" \"" +
                                    (outputFolder / file.filename()).string() + "\"";
        if (std::system(command.c_str()) != 0) return false;
    }
    return true;
}

void benchRealPhotos(const Options& options, cv::ccm::ColorCorrectionModel& model,
                     const fs::path& cube) {
    const fs::path input = options.folder / "real";
    fs::create_directories(input);
    for (const auto& item : fs::directory_iterator(TINTSMITH_REAL_PHOTOS))
        if (item.path().extension() == ".jpg")
            fs::copy_file(item.path(), input / item.path().filename());
    fs::copy_file(TINTSMITH_SAMPLE_CHART, input / "cc.jpg");
    std::vector<fs::path> files;
    double megapixels = 0, megabytes = 0;
    for (const auto& item : fs::directory_iterator(input)) files.push_back(item.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        const cv::Mat photo = cv::imread(file.string(), cv::IMREAD_COLOR);
        megapixels += photo.total() / 1e6;
        megabytes += double(fs::file_size(file)) / 1e6;
    }
    const int count = static_cast<int>(files.size());
    const int runs = options.quick ? 3 : 5;
    std::printf(
        "\n== Real camera photos: %d JPEGs, %.1f megapixels and %.1f MB together (four phone\n"
        "   photos and two chart photos; batches and decode + encode alternate, median of %d)\n",
        count, megapixels, megabytes, runs);

    const fs::path codecOut = options.folder / "real_codec";
    const fs::path batchOut = options.folder / "real_batch";
    const fs::path plainOut = options.folder / "real_plain";
    const fs::path ffmpegOut = options.folder / "real_ffmpeg";
    for (const fs::path& made : {codecOut, batchOut, plainOut, ffmpegOut})
        fs::create_directories(made);
    std::vector<double> codecRuns, batchRuns;
    double before = 0, peak = 0;
    for (int run = 0; run < runs; ++run) {
        codecRuns.push_back(timed([&] { codecOnly(files, codecOut); }));
        resetPeakResident();
        before = std::max(before, peakResidentMiB());
        batchRuns.push_back(batchSeconds(input, batchOut, model, count));
        peak = std::max(peak, peakResidentMiB());
    }
    const double codec = median(codecRuns);
    const double batch = median(batchRuns);

    // the plain sequence takes seconds a photo: the quick run times two, scaled by pixels
    const std::vector<fs::path> plainFiles(files.begin(),
                                           files.begin() + (options.quick ? 2 : count));
    double plainMegapixels = 0;
    for (const fs::path& file : plainFiles)
        plainMegapixels += cv::imread(file.string(), cv::IMREAD_COLOR).total() / 1e6;
    const double plainTimed = timed([&] { plainBatch(plainFiles, plainOut, model); });
    const double plain = plainTimed * megapixels / plainMegapixels;
    int kept = 0;
    const int same = identicalOutputs(plainFiles, plainOut, batchOut, &kept);

    std::printf("  %-56s %8s %8s\n", "", "seconds", "figure");
    std::printf("  %-56s %8.3f\n", "decode + encode alone, one after another (baseline)", codec);
    std::printf("  %-56s %8.3f %7.2fx  (target <= 0.7x)%s\n", "batch (batchCorrectPhotos)", batch,
                batch / codec, verdict(batch / codec <= 0.7));
    std::printf("  %-56s %8.3f %7.1fx  faster than it (%s)\n", "plain sequence photo by photo",
                plain, plain / batch, plainFiles.size() == files.size() ? "measured" : "scaled");
    if (haveFfmpeg() && !cube.empty()) {
        double ffmpeg = 0;
        const bool ran = [&] {
            bool ok = false;
            ffmpeg = timed([&] { ok = ffmpegBatch(files, cube, ffmpegOut); });
            return ok;
        }();
        if (ran)
            std::printf("  %-56s %8.3f %7.1fx  faster than it\n",
                        "ffmpeg lut3d with the program's cube, photo by photo", ffmpeg,
                        ffmpeg / batch);
        else
            std::printf("  ffmpeg lut3d: ffmpeg failed on these photos\n");
    } else {
        std::printf("  ffmpeg lut3d: not measured (no ffmpeg on this machine)\n");
    }
    std::printf(
        "  exact: %d of %zu batch outputs are byte for byte the plain sequence's, their Exif\n"
        "  and comment segments aside (%d of them keep the original's Exif)%s\n",
        same, plainFiles.size(), kept, verdict(same == int(plainFiles.size())));
    if (peak > 0)
        std::printf("  memory: peak resident %.0f MiB during the batch (%.0f MiB before it)\n",
                    peak, before);
}

// --- Cube file ---------------------------------------------------------------

// Lets the disk finish what earlier steps left pending (freed blocks of a
// replaced file, for one), so that no timed write pays for another's.
void settleDisk() {
#if !defined(_WIN32)
    ::sync();
#endif
}

void rawWrite(const fs::path& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    platform::syncToDisk(file);
    std::fclose(file);
}

void benchCube(const Options& options, const cv::Mat& lut) {
    std::printf(
        "\n== Cube file (median of %d, each write timed on a settled disk;\n"
        "   figure = the cube writer / raw write + fsync of the same bytes over the last\n"
        "   file, as the cube replaces the last run's; target <= 1.5x)\n",
        options.repeats);
    const fs::path cubePath = options.folder / "cc_LUT.cube";
    const fs::path replacedPath = options.folder / "replaced.cube";
    const fs::path newPath = options.folder / "new.cube";
    const fs::path overwrittenPath = options.folder / "overwritten.cube";
    const std::string text = cubeText(lut);
    // the cube's part of writing the LUT pair: its text, then its durable write
    const auto writeCube = [&] { replaceFileContents(cubePath.string(), cubeText(lut)); };
    // every file but the new one exists beforehand, as the cube file does on a second run
    writeCube();
    replaceFileContents(replacedPath.string(), text);
    rawWrite(overwrittenPath, text);

    std::vector<double> building, writer, replacing, fresh, overwriting;
    for (int i = 0; i < options.repeats; ++i) {
        settleDisk();
        building.push_back(timed([&] { cubeText(lut); }));
        settleDisk();
        writer.push_back(timed(writeCube));
        settleDisk();
        replacing.push_back(timed([&] { replaceFileContents(replacedPath.string(), text); }));
        settleDisk();
        overwriting.push_back(timed([&] { rawWrite(overwrittenPath, text); }));
        fs::remove(newPath);
        settleDisk();
        fresh.push_back(timed([&] { rawWrite(newPath, text); }));
    }
    const double raw = median(overwriting);
    auto row = [&](const char* what, double seconds) {
        std::printf("  %-62s %8.4f s %6.2fx\n", what, seconds, seconds / raw);
    };
    row("cubeText alone (text of the file)", median(building));
    row("cube writer (cubeText, write, fsync, rename over the last)", median(writer));
    row("replaceFileContents of the ready text (write, fsync, rename)", median(replacing));
    row("raw write + fsync over the last file (truncated): baseline", raw);
    row("raw write + fsync to a new file, same folder", median(fresh));
    const bool same = text.size() == kCubeBytes && readBytes(cubePath) == text;
    std::printf(
        "  figure %.2fx (target <= 1.5x); the writer's own part (cube writer /\n"
        "  replaceFileContents) %.2fx; the file, %zu bytes, is %s%s\n",
        median(writer) / raw, median(writer) / median(replacing), text.size(),
        same ? "byte-identical to the text" : "!! NOT the text",
        verdict(same && median(writer) / raw <= 1.5));
}

// --- Start-up to the result window -------------------------------------------

// The steps of a file-source run on a 12-megapixel cc.jpg, each timed, the
// LUT export being the program's own steps. Gives the LUT image it wrote and
// the path of its cube.
std::pair<cv::Mat, fs::path> benchRun(const Options& options, const cv::Mat& chart) {
    const fs::path documents = options.folder / "Documents";
    fs::create_directories(documents / "Tintsmith");
    const WorkingPaths paths = buildWorkingPaths(documents.string());
    cv::Mat big;
    cv::resize(chart, big, cv::Size(kPhotoWidth, kPhotoHeight), 0, 0, cv::INTER_CUBIC);
    cv::imwrite(paths.referenceImage, big);
    cv::imwrite(paths.lattice, identityLattice());

    struct Step {
        const char* what;
        double seconds;
    };
    std::vector<Step> steps;
    WorkingPaths looked;
    steps.push_back({"working paths (Documents lookup)",
                     timed([&] { looked = buildWorkingPaths(platform::documentsFolder()); })});
    ChartReference reference;
    steps.push_back({"chart reference", timed([&] { reference = chartReference(0); })});
    cv::Mat image;
    steps.push_back({"read cc.jpg (4000 x 3000)",
                     timed([&] { image = cv::imread(paths.referenceImage, cv::IMREAD_COLOR); })});
    CheckerList checkers;
    steps.push_back({"final detection",
                     timed([&] { checkers = detectCharts(image, reference.detectorType); })});
    if (checkers.empty()) {
        std::printf("\n!! no chart found in the 12-megapixel cc.jpg%s\n", verdict(false));
        return {};
    }
    bool complete = false;
    steps.push_back(
        {"LUT export (outline, measure, lattice, fit, infer, PNG, cube,\n"
         "    check)",
         timed([&] { complete = exportLut(image, checkers.front(), reference, paths); })});

    double total = 0;
    for (const Step& step : steps) total += step.seconds;
    std::printf("\n== Start-up to the result window, file source, 12-megapixel cc.jpg\n");
    for (const Step& step : steps)
        std::printf("  %-40s %8.3f s %5.1f %%\n", step.what, step.seconds,
                    100 * step.seconds / total);
    std::printf("  %-40s %8.3f s\n", "total", total);
    std::printf("  not timed: the Settings window and the result window wait for the user\n");
    if (!complete) {
        std::printf("  !! the export did not produce both LUT files%s\n", verdict(false));
        return {};
    }
    return {cv::imread(paths.lutImage, cv::IMREAD_COLOR), paths.cube};
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--quick") {
            options.quick = true;
            options.plainPhotos = 2;
            options.repeats = 5;
            options.batchRuns = 1;
        } else if (argument == "--dir" && i + 1 < argc) {
            options.folder = argv[++i];
            options.ownFolder = false;
        } else {
            std::printf("usage: tintsmith_bench [--quick] [--dir FOLDER]\n");
            return false;
        }
    }
    if (options.folder.empty())
        options.folder = fs::temp_directory_path() /
                         ("tintsmith_bench_" + std::to_string(platform::processId()));
    fs::create_directories(options.folder);
    return true;
}

int runBench(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) return 2;
    std::printf("tintsmith_bench, %s run\n", options.quick ? "quick" : "full");
    std::printf(
        "machine: %d cores (cv::getNumberOfCPUs), %u (std::thread::hardware_concurrency),"
        " OpenCV %s with %d threads\n",
        cv::getNumberOfCPUs(), std::thread::hardware_concurrency(), CV_VERSION,
        cv::getNumThreads());
    std::printf("folder: %s (every write of the run goes to this disk)\n",
                options.folder.string().c_str());

    const cv::Mat chart = cv::imread(TINTSMITH_SAMPLE_CHART, cv::IMREAD_COLOR);
    const ChartReference reference = chartReference(0);
    CheckerList checkers = detectCharts(chart, reference.detectorType);
    if (checkers.empty()) {
        std::printf("no chart found in %s\n", TINTSMITH_SAMPLE_CHART);
        return 1;
    }
    Fit fit = fitModel(measuredPatchColours(checkers.front()), reference);
    if (!fit.outcome.done) {
        std::printf("%s\n", fit.outcome.reason.c_str());
        return 1;
    }
    std::printf("model: fitted on assets/cc.jpg, loss %.2f\n", fit.loss);

    PhotoSet photos;
    double making = timed([&] { photos = makePhotos(chart, options.folder); });
    std::printf(
        "test photos: %d JPEGs of %d x %d (quality %d, %.1f MB each on average) cut from\n"
        "  assets/cc.jpg with their own framing, white balance and noise (sigma %.0f);"
        " made in %.0f s\n",
        kLargeBatch, kPhotoWidth, kPhotoHeight, kJpegQuality, photos.meanBytes / 1e6, kNoiseSigma,
        making);
    std::printf("  distinct colours per photo: %zu to %zu, mean %.0f; all 30 together %zu\n",
                photos.fewestColours, photos.mostColours, photos.meanColours, photos.allColours);

    const auto [lut, cube] = benchRun(options, chart);
    benchRealPhotos(options, *fit.model, cube);
    benchBatch(options, photos, *fit.model);
    if (!lut.empty()) benchCube(options, lut);

    if (options.ownFolder) fs::remove_all(options.folder);
    if (missed > 0) std::printf("\n%d figure(s) missed the target or were not exact\n", missed);
    return missed > 0 ? 1 : 0;
}

}  // namespace
}  // namespace tintsmith

int main(int argc, char** argv) {
    platform::shareWarmHeaps();  // as the program sets it where it starts
    try {
        return tintsmith::runBench(argc, argv);
    } catch (const std::exception& error) {
        std::printf("tintsmith_bench stopped: %s\n", error.what());
        return 1;
    }
}
