#include "map/MapDatum.h"

#include <cmath>

namespace map {
namespace {

// The GCJ-02 offsets before scaling, in the formulas' own units; x and y are
// the fix's distance in degrees from 105 E, 35 N.
double LatitudeOffset(double x, double y, double pi) {
  double d = -100.0 + 2.0 * x + 3.0 * y + 0.2 * y * y + 0.1 * x * y + 0.2 * std::sqrt(std::fabs(x));
  d += (20.0 * std::sin(6.0 * x * pi) + 20.0 * std::sin(2.0 * x * pi)) * 2.0 / 3.0;
  d += (20.0 * std::sin(y * pi) + 40.0 * std::sin(y / 3.0 * pi)) * 2.0 / 3.0;
  d += (160.0 * std::sin(y / 12.0 * pi) + 320.0 * std::sin(y * pi / 30.0)) * 2.0 / 3.0;
  return d;
}

double LongitudeOffset(double x, double y, double pi) {
  double d = 300.0 + x + 2.0 * y + 0.1 * x * x + 0.1 * x * y + 0.1 * std::sqrt(std::fabs(x));
  d += (20.0 * std::sin(6.0 * x * pi) + 20.0 * std::sin(2.0 * x * pi)) * 2.0 / 3.0;
  d += (20.0 * std::sin(x * pi) + 40.0 * std::sin(x / 3.0 * pi)) * 2.0 / 3.0;
  d += (150.0 * std::sin(x / 12.0 * pi) + 300.0 * std::sin(x / 30.0 * pi)) * 2.0 / 3.0;
  return d;
}

bool NoFix(double latitude, double longitude) {
  return (latitude > -0.001 && latitude < 0.001) || (longitude > -0.001 && longitude < 0.001);
}

}  // namespace

bool InChinaRange(double latitude, double longitude) {
  return longitude >= 72.004 && longitude <= 137.8347 && latitude >= 0.8293 && latitude <= 55.8271;
}

void ToChinaMapDatum(double latitude, double longitude, double& latitude_out, double& longitude_out,
                     const MapDatumParams& p) {
  if (!InChinaRange(latitude, longitude)) {
    latitude_out = latitude;
    longitude_out = longitude;
    return;
  }
  const double x = longitude - 105.0;
  const double y = latitude - 35.0;
  const double d_lat = LatitudeOffset(x, y, p.pi);
  const double d_lon = LongitudeOffset(x, y, p.pi);
  const double rad_lat = latitude / 180.0 * p.pi;
  const double sin_lat = std::sin(rad_lat);
  const double magic = 1.0 - p.ee * sin_lat * sin_lat;
  const double sqrt_magic = std::sqrt(magic);
  // Degrees from metres: the meridian's and the parallel's radius of curvature.
  latitude_out = latitude + d_lat * 180.0 / ((p.a * (1.0 - p.ee)) / (magic * sqrt_magic) * p.pi);
  longitude_out = longitude + d_lon * 180.0 / (p.a / sqrt_magic * std::cos(rad_lat) * p.pi);
}

LonLat ToChinaMapDatum(LonLat lon_lat, const MapDatumParams& params) {
  LonLat out;
  ToChinaMapDatum(lon_lat.second, lon_lat.first, out.second, out.first, params);
  return out;
}

void ToBaiduDatum(double latitude, double longitude, double& latitude_out, double& longitude_out,
                  const MapDatumParams& p) {
  const double x = longitude;
  const double y = latitude;
  const double z = std::sqrt(x * x + y * y) + 0.00002 * std::sin(y * p.x_pi);
  const double theta = std::atan2(y, x) + 0.000003 * std::cos(x * p.x_pi);
  longitude_out = z * std::cos(theta) + 0.0065;
  latitude_out = z * std::sin(theta) + 0.006;
}

MapPosition ToMapPosition(int map_type, bool offset_on, double latitude, double longitude) {
  MapPosition pos{latitude, longitude};
  const bool china = map_type == kMapGoogle || map_type == kMapBing;
  const bool baidu = map_type == kMapBaidu;
  if (!offset_on || !(china || baidu)) return pos;
  if (NoFix(latitude, longitude)) return MapPosition{};
  ToChinaMapDatum(latitude, longitude, pos.latitude, pos.longitude);
  if (baidu) ToBaiduDatum(pos.latitude, pos.longitude, pos.latitude, pos.longitude);
  return pos;
}

}  // namespace map
