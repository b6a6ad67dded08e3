// Writes the identity lattice original.png that the program pushes through
// the fitted model to make the LUT.
// Usage: make_lattice OUTPUT.png
#include <iostream>

#include "workflow/workflow.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cout << "usage: make_lattice OUTPUT.png" << std::endl;
        return 2;
    }
    return tintsmith::writeImageFile(argv[1], tintsmith::identityLattice()) ? 0 : 1;
}
