// "Did you mean": the nearest of the known words to a mistyped one.
#pragma once

#include <string>
#include <vector>

namespace korvane {

// The candidate closest to `word` by edit distance, when it is close enough
// to be a likely typing slip; empty otherwise.
std::string nearest(const std::string& word,
                    const std::vector<std::string>& candidates);

// "; did you mean 'X'?" for the nearest candidate, or nothing.
std::string didYouMean(const std::string& word,
                       const std::vector<std::string>& candidates);

}  // namespace korvane
