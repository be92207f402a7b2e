#include "driver/tictoc.h"

#include <sys/resource.h>

#include <iostream>

namespace vorada {

double TicToc::cpu_time() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000000.0;
}

void TicToc::tic(const std::string& identifier) {
    if (running.count(identifier) != 0) {
        std::cerr << "TicToc Error: The identifier is already on the list" << std::endl;
        return;
    }
    running[identifier] = cpu_time();
}

void TicToc::toc(const std::string& identifier) {
    const auto entry = running.find(identifier);
    if (entry == running.end()) {
        std::cerr << "TicToc Error: The identifier is not on the list" << std::endl;
        return;
    }
    const double elapsed = cpu_time() - entry->second;
    std::cerr.precision(6);
    std::cerr.unsetf(std::ios::floatfield);
    std::cerr << "The total CPU time ellapsed for (\"" << identifier << "\") is " << elapsed
              << " seconds " << std::endl;
    running.erase(entry);
}

}  // namespace vorada
