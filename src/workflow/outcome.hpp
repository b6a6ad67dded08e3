// The engines' one result convention. A step that cannot fail returns its
// value; a step that can fail returns an Outcome, alone or beside its value:
// done, or not done with the reason in plain words. Only the program's own
// layer turns an outcome into a console line and an exit code.
#pragma once

#include <string>
#include <utility>

namespace tintsmith {

struct Outcome {
    bool done = true;
    std::string reason;  // why it was not done, in plain words; "" when done
};

inline Outcome failed(std::string reason) {
    return {false, std::move(reason)};
}

}  // namespace tintsmith
