#include "projection.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace rg::ghcn {

namespace {
constexpr double RAD = std::numbers::pi / 180.0;
}

Projection::Projection(LatLon centre)
    : centre_(centre), sin0_(std::sin(centre.lat * RAD)), cos0_(std::cos(centre.lat * RAD)) {}

LatLon Projection::centre_of(const std::vector<LatLon>& points) {
  double x = 0, y = 0, z = 0;
  for (const auto& p : points) {
    x += std::cos(p.lat * RAD) * std::cos(p.lon * RAD);
    y += std::cos(p.lat * RAD) * std::sin(p.lon * RAD);
    z += std::sin(p.lat * RAD);
  }
  return {std::atan2(z, std::hypot(x, y)) / RAD, std::atan2(y, x) / RAD};
}

void Projection::project(LatLon p, double& x, double& y) const {
  const double phi = p.lat * RAD, dlon = (p.lon - centre_.lon) * RAD;
  const double sin_phi = std::sin(phi), cos_phi = std::cos(phi);
  const double cos_c = std::clamp(sin0_ * sin_phi + cos0_ * cos_phi * std::cos(dlon), -1.0, 1.0);
  const double c = std::acos(cos_c);
  // Scale from the orthographic to the equidistant plane: c / sin c, 1 at the centre.
  const double k = c < 1e-9 ? 1.0 : c / std::sin(c);
  x = EARTH_RADIUS_KM * k * cos_phi * std::sin(dlon);
  y = EARTH_RADIUS_KM * k * (cos0_ * sin_phi - sin0_ * cos_phi * std::cos(dlon));
}

}  // namespace rg::ghcn
