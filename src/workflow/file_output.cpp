// Every output file is written to a temporary file in its own folder and
// renamed over the old one only when complete and on disk, so a failed or
// interrupted write never leaves a truncated file that looks valid.
#include <cerrno>
#include <cstring>
#include <iostream>

#include <opencv2/imgcodecs.hpp>

#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {

bool writeAndSync(std::FILE* stream, const std::string& bytes) {
    if (!stream) return false;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size())
        return false;
    return platform::syncToDisk(stream);
}

WriteResult replaceFileContents(const std::string& path, const std::string& bytes,
                                const StreamOpener& open) {
    const std::string temporary = path + platform::temporarySuffix();
    errno = 0;
    std::FILE* stream = open ? open(temporary) : std::fopen(temporary.c_str(), "wb");
    if (!stream) return {WriteOutcome::NotOpened, std::strerror(errno ? errno : EIO)};

    errno = 0;
    bool written = writeAndSync(stream, bytes);
    int writeError = errno;
    if (std::fclose(stream) != 0 && written) {
        written = false;
        writeError = errno;
    }
    if (!written) {
        platform::removeFile(temporary);
        return {WriteOutcome::Failed, std::strerror(writeError ? writeError : EIO)};
    }
    errno = 0;
    if (!platform::replaceFile(temporary, path)) {
        int renameError = errno ? errno : EIO;
        platform::removeFile(temporary);
        if (renameError == EISDIR || renameError == ENOTEMPTY || renameError == EEXIST)
            return {WriteOutcome::Failed, "a folder of that name is in the way"};
        return {WriteOutcome::Failed, std::strerror(renameError)};
    }
    return {};
}

bool writeImageFile(const std::string& path, const cv::Mat& image) {
    if (!cv::haveImageWriter(path)) {
        std::cout << "Could not write " << path << ": no image format for its extension" << std::endl;
        return false;
    }
    std::size_t dot = path.rfind('.');
    std::vector<std::uint8_t> encoded;
    if (image.empty() || !cv::imencode(path.substr(dot), image, encoded)) {
        std::cout << "Could not write " << path << ": the image could not be encoded" << std::endl;
        return false;
    }
    WriteResult result =
        replaceFileContents(path, std::string(encoded.begin(), encoded.end()));
    if (result.outcome != WriteOutcome::Written) {
        std::cout << "Could not write " << path << ": " << result.reason << std::endl;
        return false;
    }
    return true;
}

}  // namespace tintsmith
