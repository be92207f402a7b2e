// make_sample <dir>: writes the bundled synthetic sample (frames, exact flows and the ground-truth
// labels) into <dir>.

#include <exception>
#include <iostream>

#include "tools/synthetic/synthetic.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: " << (argc > 0 ? argv[0] : "make_sample") << " <directory>\n";
        return 2;
    }
    try {
        vorada::synthetic::Synthetic sample =
            vorada::synthetic::make_synthetic(vorada::synthetic::default_sample_options());
        vorada::synthetic::write_sample(argv[1], sample);
        vorada::synthetic::write_ground_truth(argv[1], sample);
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
    return 0;
}
