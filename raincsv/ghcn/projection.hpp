#pragma once
// Azimuthal equidistant projection of a sphere (radius 6371 km) about a centre: a
// point's distance and bearing from the centre are kept exactly, and distances
// between points near the centre nearly so.
#include <vector>

namespace rg::ghcn {

constexpr double EARTH_RADIUS_KM = 6371.0;

struct LatLon {
  double lat = 0, lon = 0;  // degrees
};

class Projection {
 public:
  explicit Projection(LatLon centre);
  // The centre of a set of points: the direction of the mean of their unit vectors
  // (well defined across the date line).
  static LatLon centre_of(const std::vector<LatLon>& points);
  // x km east and y km north on the plane; the centre maps to (0, 0).
  void project(LatLon p, double& x, double& y) const;
  LatLon centre() const { return centre_; }

 private:
  LatLon centre_;
  double sin0_, cos0_;
};

}  // namespace rg::ghcn
