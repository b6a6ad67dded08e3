// Writes the identity lattice original.png that the program pushes through
// the fitted model to make the LUT.
// Usage: tintsmith-make-lattice OUTPUT.png (installed under that name)
#include <iostream>

#include "workflow/workflow.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cout << "usage: tintsmith-make-lattice OUTPUT.png" << std::endl;
        return 2;
    }
    return tintsmith::writeImageFile(argv[1], tintsmith::identityLattice()) ? 0 : 1;
}
