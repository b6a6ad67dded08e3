// The names and checks of the file layer's own temporary files, shared by
// writing one file and replacing files together; nothing outside
// src/workflow/io uses them.
#pragma once

#include <string>

#include "workflow/io/io.hpp"

namespace tintsmith {

// The system's words for the error a rename left in errno.
Outcome renameFailure();

// A name of ours in `folder`: .tintsmith-<process>-<n> and `extension`.
std::string ourName(const std::string& folder, const char* extension);

// True for a file name of ourName's form with `extension`, and nothing else.
bool isOurName(const std::string& name, const std::string& extension);

// True for a file name of temporaryPathFor's form.
bool isTemporaryName(const std::string& name);

// Why the file at `path` may not be replaced by a new one; done when it may.
Outcome replaceable(const std::string& path);

}  // namespace tintsmith
