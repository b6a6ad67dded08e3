// Writes the identity lattice original.png that the program pushes through
// the fitted model to make the LUT.
// Usage: tintsmith-make-lattice OUTPUT.png (installed under that name)
#include <iostream>
#include <string>

#include "workflow/io/io.hpp"
#include "workflow/lut/lut.hpp"

namespace {

const char kUsage[] = "usage: tintsmith-make-lattice OUTPUT.png";

}  // namespace

int main(int argc, char** argv) {
    const std::string argument = argc == 2 ? argv[1] : "";
    if (argument == "--help" || argument == "-h") {
        std::cout
            << kUsage << "\n\n"
            << "Writes the identity lattice, a 512 x 512 PNG image of 8 x 8 tiles of 64 x 64,\n"
               "that tintsmith turns into its LUT. Tintsmith reads it as original.png in its\n"
               "working folder, and writes it there itself when it is missing; for example:\n"
               "  tintsmith-make-lattice ~/Documents/Tintsmith/original.png\n\n"
               "Exit codes: 0 written; 1 the file could not be written; 2 wrong arguments."
            << std::endl;
        return 0;
    }
    if (argument == "--version") {
        std::cout << "tintsmith-make-lattice " TINTSMITH_VERSION << std::endl;
        return 0;
    }
    // an option it does not know is a mistake, never a file name
    if (argument.empty() || argument[0] == '-') {
        std::cout << kUsage << " (or --help)" << std::endl;
        return 2;
    }
    const tintsmith::Outcome written = tintsmith::writeIdentityLattice(argument);
    if (!written.done)
        std::cout << "Could not write " << argument << ": " << written.reason
                  << "; choose a folder that exists and that you may write to" << std::endl;
    return written.done ? 0 : 1;
}
