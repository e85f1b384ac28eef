// Edit distance between words, for suggestions after a typing slip.
#include "Suggestions.h"

#include <algorithm>

namespace korvane {

namespace {

// A slip changes at most this many characters, and at most a third of a
// long word.
constexpr std::size_t kMinSlip = 2;
constexpr std::size_t kSlipFraction = 3;

std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                         diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string nearest(const std::string& word,
                    const std::vector<std::string>& candidates) {
  std::string best;
  std::size_t bestDistance = std::max(kMinSlip, word.size() / kSlipFraction);
  for (const std::string& candidate : candidates) {
    const std::size_t distance = editDistance(word, candidate);
    if (distance <= bestDistance && (best.empty() || distance < bestDistance)) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

std::string didYouMean(const std::string& word,
                       const std::vector<std::string>& candidates) {
  const std::string match = nearest(word, candidates);
  return match.empty() ? "" : "; did you mean '" + match + "'?";
}

}  // namespace korvane
