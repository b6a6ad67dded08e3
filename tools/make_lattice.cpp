// Writes the identity lattice original.png that the program pushes through
// the fitted model to make the LUT.
// Usage: tintsmith-make-lattice OUTPUT.png (installed under that name)
#include <iostream>

#include "workflow/io/io.hpp"
#include "workflow/lut/lut.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cout << "usage: tintsmith-make-lattice OUTPUT.png" << std::endl;
        return 2;
    }
    const tintsmith::Outcome written =
        tintsmith::writeImageFile(argv[1], tintsmith::identityLattice());
    if (!written.done)
        std::cout << "Could not write " << argv[1] << ": " << written.reason << std::endl;
    return written.done ? 0 : 1;
}
