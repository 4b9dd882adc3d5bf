#pragma once
// The controller's own remembered values (its window placement), kept as integers in the
// registration store under the current user's key Software\Quorvane\Vollmark, one subkey
// per section.

#include <string>

class CProfile {
public:
    static constexpr const char* kProfileKey = "Software\\Quorvane\\Vollmark";

    // The value, or `defaultValue` when it is missing or cannot be read.
    int GetProfileInt(const std::string& section, const std::string& entry, int defaultValue) const;
    // False when the store could not be written.
    bool WriteProfileInt(const std::string& section, const std::string& entry, int value) const;
};
