// A comma-separated list of finite numbers from the command line, shared by
// the bench host and the curve helper.
#pragma once

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

// False, with out unspecified, on an empty list or any item that is not a
// finite number.
inline bool parseNumberList(const std::string &text, std::vector<double> &out)
{
    out.clear();
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        char *end = nullptr;
        const double x = std::strtod(item.c_str(), &end);
        if (item.empty() || end == item.c_str() || *end != '\0' || !std::isfinite(x))
            return false;
        out.push_back(x);
    }
    return !out.empty();
}
