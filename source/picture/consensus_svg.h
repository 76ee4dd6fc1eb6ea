// Consensus clustering drawn as ConsensusClusterPlus draws it to choose k:
// the consensus CDF of every k as one curve each, and beside it the
// relative change of the CDF's area with k.
//
// Layout, in pixels: two panels of 360 x 300 side by side, each with its
// axes from 0 and tick labels; a legend of the ks' colours right of the
// curves (colours repeat every 10 ks).
//
// Reading the drawing back: each k's curve is the element <path
// class="cdf" data-k="K">, one "M" and then an "L" per point, the points
// at consensus (b + 1) / 100 for b = 0 ... 99; the delta-area plot is the
// <path id="delta-line"> through the <circle class="delta" data-k="K">
// points, one per k in the order given.
#ifndef LOPPER_PICTURE_CONSENSUS_SVG_H
#define LOPPER_PICTURE_CONSENSUS_SVG_H

#include <ostream>
#include <vector>

namespace lopper {

// What to draw: the ks in ascending order, and per k (same order) its 100
// CDF values (the library's consensuscdf, each in [0, 1]) and its delta
// area (consensusdelta; finite).
struct ConsensusPicture {
  std::vector<int> ks;
  std::vector<std::vector<double>> cdf;
  std::vector<double> delta;
};

// Writes the picture as a standalone SVG document. Returns false, writing
// nothing, when p has no k or its vectors disagree in size.
bool WriteConsensusSvg(std::ostream& out, const ConsensusPicture& p);

}  // namespace lopper

#endif
