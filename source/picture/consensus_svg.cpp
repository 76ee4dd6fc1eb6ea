#include "consensus_svg.h"

#include <algorithm>
#include <string>

#include "colour.h"
#include "svg_text.h"

namespace lopper {

namespace {

using picture_detail::Number;

constexpr double kPlotWidth = 300;
constexpr double kPlotHeight = 240;
constexpr double kTop = 40;
constexpr double kLeft = 60;
// The CDF panel's legend sits between the two panels.
constexpr double kLegendWidth = 90;
constexpr double kDeltaLeft = kLeft + kPlotWidth + kLegendWidth + 60;
constexpr double kWidth = kDeltaLeft + kPlotWidth + 30;
constexpr double kHeight = kTop + kPlotHeight + 50;
constexpr int kCdfPoints = 100;

// A panel's frame: where its plot lies and the range of its y values.
struct Panel {
  double left;
  double low, high;  // the y values at the bottom and the top

  double Y(double value) const { return kTop + kPlotHeight * (1 - (value - low) / (high - low)); }
};

std::string Colour(int index) {
  return picture_detail::HexColour(picture_detail::ClusterColour(index));
}

void WriteText(std::ostream& out, double x, double y, const std::string& anchor,
               const std::string& text) {
  out << "<text x=\"" << Number(x) << "\" y=\"" << Number(y) << "\" text-anchor=\"" << anchor
      << "\" font-size=\"11\">";
  picture_detail::WriteEscaped(out, text);
  out << "</text>\n";
}

// The panel's box, title, axis names and y ticks at low, high and (when
// inside) 0.
void WriteFrame(std::ostream& out, const Panel& panel, const std::string& title,
                const std::string& xname, const std::string& yname) {
  out << "<rect x=\"" << Number(panel.left) << "\" y=\"" << Number(kTop) << "\" width=\""
      << Number(kPlotWidth) << "\" height=\"" << Number(kPlotHeight)
      << "\" fill=\"none\" stroke=\"#000\"/>\n";
  WriteText(out, panel.left + kPlotWidth / 2, kTop - 14, "middle", title);
  WriteText(out, panel.left + kPlotWidth / 2, kTop + kPlotHeight + 34, "middle", xname);
  WriteText(out, panel.left - 40, kTop - 4, "start", yname);
  std::vector<double> ticks{panel.low, panel.high};
  if (panel.low < 0 && panel.high > 0) ticks.push_back(0);
  for (const double tick : ticks)
    WriteText(out, panel.left - 4, panel.Y(tick) + 4, "end", Number(tick));
}

void WriteCdfPanel(std::ostream& out, const ConsensusPicture& p) {
  const Panel panel{kLeft, 0, 1};
  WriteFrame(out, panel, "consensus CDF", "consensus index", "CDF");
  for (const double x : {0.0, 0.5, 1.0})
    WriteText(out, kLeft + x * kPlotWidth, kTop + kPlotHeight + 16, "middle", Number(x));
  for (std::size_t t = 0; t < p.ks.size(); t++) {
    out << "<path class=\"cdf\" data-k=\"" << p.ks[t] << "\" fill=\"none\" stroke=\""
        << Colour(static_cast<int>(t)) << "\" d=\"";
    for (int b = 0; b < kCdfPoints; b++)
      out << (b ? " L" : "M") << Number(kLeft + kPlotWidth * (b + 1) / kCdfPoints) << ' '
          << Number(panel.Y(p.cdf[t][b]));
    out << "\"/>\n";
    const double y = kTop + 12 + 16 * static_cast<double>(t);
    const double x = kLeft + kPlotWidth + 12;
    out << "<line x1=\"" << Number(x) << "\" y1=\"" << Number(y - 4) << "\" x2=\"" << Number(x + 16)
        << "\" y2=\"" << Number(y - 4) << "\" stroke=\"" << Colour(static_cast<int>(t)) << "\"/>\n";
    WriteText(out, x + 20, y, "start", "k=" + std::to_string(p.ks[t]));
  }
}

void WriteDeltaPanel(std::ostream& out, const ConsensusPicture& p) {
  const auto [low, high] = std::minmax_element(p.delta.begin(), p.delta.end());
  // The axis starts at 0 as ConsensusClusterPlus's, unless a delta lies
  // below it; a flat plot still gets a height.
  Panel panel{kDeltaLeft, std::min(0.0, *low), std::max(0.0, *high)};
  if (panel.high == panel.low) panel.high = panel.low + 1;
  WriteFrame(out, panel, "delta area", "k", "relative change in area under CDF");
  const auto x = [&p](std::size_t t) {
    return kDeltaLeft +
           kPlotWidth * (static_cast<double>(t) + 0.5) / static_cast<double>(p.ks.size());
  };
  out << "<path id=\"delta-line\" fill=\"none\" stroke=\"#000\" d=\"";
  for (std::size_t t = 0; t < p.ks.size(); t++)
    out << (t ? " L" : "M") << Number(x(t)) << ' ' << Number(panel.Y(p.delta[t]));
  out << "\"/>\n";
  for (std::size_t t = 0; t < p.ks.size(); t++) {
    out << "<circle class=\"delta\" data-k=\"" << p.ks[t] << "\" cx=\"" << Number(x(t))
        << "\" cy=\"" << Number(panel.Y(p.delta[t])) << "\" r=\"3.5\" fill=\""
        << Colour(static_cast<int>(t)) << "\"/>\n";
    WriteText(out, x(t), kTop + kPlotHeight + 16, "middle", std::to_string(p.ks[t]));
  }
}

}  // namespace

bool WriteConsensusSvg(std::ostream& out, const ConsensusPicture& p) {
  if (p.ks.empty() || p.cdf.size() != p.ks.size() || p.delta.size() != p.ks.size()) return false;
  for (const auto& cdf : p.cdf)
    if (cdf.size() != static_cast<std::size_t>(kCdfPoints)) return false;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Number(kWidth) << "\" height=\""
      << Number(kHeight) << "\" viewBox=\"0 0 " << Number(kWidth) << ' ' << Number(kHeight)
      << "\" font-family=\"sans-serif\">\n<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
  WriteCdfPanel(out, p);
  WriteDeltaPanel(out, p);
  out << "</svg>\n";
  return static_cast<bool>(out);
}

}  // namespace lopper
