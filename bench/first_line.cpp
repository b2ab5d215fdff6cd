#include "bench/first_line.h"

#include <fstream>
#include <iterator>

namespace bench {

std::string FileText(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace bench
