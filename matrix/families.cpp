#include "matrix/families.hpp"

std::vector<std::size_t> classes_of(const Family& family) {
    std::vector<std::size_t> classes;
    for (std::size_t c = 0; c < family.table->classes.size(); ++c) {
        if ((family.table->classes[c].needs & ~family.covers) == 0) classes.push_back(c);
    }
    return classes;
}
