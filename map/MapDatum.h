#pragma once
// Map positions from GPS fixes. Fixes are WGS-84; the Chinese tiles of some map
// providers are drawn in offset datums: GCJ-02 (Google's and Bing's pages) and
// BD-09 (Baidu: GCJ-02 shifted once more). The closed-form conversions below
// move a WGS-84 fix to where those tiles draw it. No Qt.
#include <utility>

namespace map {

// The constants of the conversions: pi as the formulas use it, the semi-major
// axis and eccentricity squared of the Krasovsky ellipsoid behind GCJ-02, and
// the angle factor of the BD-09 shift (pi * 3000 / 180).
struct MapDatumParams {
  double pi = 3.141592653589793;
  double a = 6378245.0;
  double ee = 0.006693421622965943;
  double x_pi = 52.35987755982988;
};

// (longitude, latitude) in degrees.
using LonLat = std::pair<double, double>;

// Whether GCJ-02 applies: 72.004 <= longitude <= 137.8347 and
// 0.8293 <= latitude <= 55.8271 (bounds included).
bool InChinaRange(double latitude, double longitude);

// WGS-84 -> GCJ-02. Points outside the China range come back unchanged.
LonLat ToChinaMapDatum(LonLat lon_lat, const MapDatumParams& params = {});
// The same conversion, latitude first; the outputs may alias the inputs.
void ToChinaMapDatum(double latitude, double longitude, double& latitude_out, double& longitude_out,
                     const MapDatumParams& params = {});

// GCJ-02 -> BD-09, everywhere (no range test); the outputs may alias the inputs.
void ToBaiduDatum(double latitude, double longitude, double& latitude_out, double& longitude_out,
                  const MapDatumParams& params = {});

// The map pages, as the MapType setting numbers them. Numbers above 3 show
// the Leaflet page and are treated as it is.
enum MapType : int { kMapGoogle = 0, kMapBaidu = 1, kMapLeaflet = 2, kMapBing = 3 };

struct MapPosition {
  double latitude = 0;
  double longitude = 0;
};

// Where the page of `map_type` draws a WGS-84 fix. With the MapOffset setting
// off, or on the Leaflet (OpenStreetMap) page, the fix as it is; otherwise
// Google and Bing get GCJ-02, Baidu BD-09. A fix to be converted with either
// coordinate inside (-0.001, 0.001) counts as no fix and gives 0, 0.
MapPosition ToMapPosition(int map_type, bool offset_on, double latitude, double longitude);

}  // namespace map
