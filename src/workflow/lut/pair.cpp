// The LUT pair: a new PNG beside an old cube (or the other way round) would
// describe two different LUTs, so both are replaced or neither is.
#include "workflow/io/io.hpp"
#include "workflow/lut/lut.hpp"

namespace tintsmith {

LutFilesWritten writeLutFiles(const cv::Mat& lut, const std::string& pngPath,
                              const std::string& cubePath, const std::string& latticeRefusal,
                              const FileSystem& files, const KeptPair& keep) {
    LutFilesWritten written;
    written.kept = failed("not asked for");
    const std::string sizeProblem = cubeProblem(lut);
    const std::string problem = sizeProblem.empty() ? latticeRefusal : sizeProblem;
    if (!problem.empty()) {
        // a PNG that follows such a lattice beside the older cube would be two LUTs
        written.png = failed(problem);
        written.cube = failed(problem);
        written.cubeTried = false;
        written.latticeRefused = true;
        return written;
    }
    std::string png;
    if (!encodeImage(pngPath, lut, png).done) {
        written.png = failed("the LUT image could not be encoded");
        written.cube = failed("it is kept with the older PNG as a pair");
        written.cubeTried = false;
        return written;
    }
    // the older pair first, read whole, so that the replacement takes all four
    std::vector<FileContents> pair;
    if (!keep.png.empty() && !keep.cube.empty()) {
        FileContents olderPng{keep.png, {}}, olderCube{keep.cube, {}};
        written.kept = readWholeFile(pngPath, olderPng.bytes);
        if (written.kept.done) written.kept = readWholeFile(cubePath, olderCube.bytes);
        if (written.kept.done) {
            pair.push_back(std::move(olderPng));
            pair.push_back(std::move(olderCube));
        }
    }
    const std::size_t first = pair.size();
    pair.push_back({pngPath, std::move(png)});
    pair.push_back({cubePath, cubeText(lut)});
    const FilesReplaced replaced = replaceFilesTogether(pair, files);
    if (replaced.outcome.done) return written;
    if (first > 0) written.kept = failed("the LUT files were left as they were");
    if (replaced.failedIndex <= first) {
        written.png = replaced.outcome;
        written.cube = failed("both LUT files were left as they were, so they still match");
        written.cubeTried = false;
    } else {
        written.cube = failed(
            replaced.outcome.reason +
            (replaced.mismatched ? "; the LUT image was already replaced and its older one "
                                   "could not be put back, so the two files do not match"
                                 : "; both LUT files were left as they were, so they still match"));
    }
    return written;
}

}  // namespace tintsmith
