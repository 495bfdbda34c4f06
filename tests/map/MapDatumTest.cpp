// The offset datums of the map pages: GCJ-02 against a second, long-double
// reading of the published formulas over points across China, BD-09 likewise,
// the China range's bounds, the two call forms, and which page gets which
// conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "map/MapDatum.h"

namespace {

using map::MapPosition;
using map::ToBaiduDatum;
using map::ToChinaMapDatum;
using map::ToMapPosition;

struct Place {
  const char* name;
  double lat, lon;
};

// Cities and corners across the range: far west and far north-east, the
// south seas, Taiwan and Hong Kong, and the formulas' own origin (105 E, 35 N).
constexpr Place kPlaces[] = {
    {"Beijing", 39.9042, 116.4074},     {"Shanghai", 31.2304, 121.4737},  {"Guangzhou", 23.1291, 113.2644},
    {"Shenzhen", 22.543096, 114.057865}, {"Chengdu", 30.5728, 104.0668},   {"Urumqi", 43.8256, 87.6168},
    {"Kashgar", 39.4677, 75.9938},      {"Lhasa", 29.6520, 91.1721},      {"Harbin", 45.8038, 126.5350},
    {"Mohe", 52.9728, 122.5381},        {"Sanya", 18.2528, 109.5120},     {"Xi'an", 34.3416, 108.9398},
    {"Wuhan", 30.5928, 114.3055},       {"Kunming", 24.8801, 102.8329},   {"Hong Kong", 22.3193, 114.1694},
    {"Taipei", 25.0330, 121.5654},      {"Hohhot", 40.8424, 111.7490},    {"Zengmu reef", 3.97, 112.28},
    {"origin", 35.0, 105.0},            {"south-west corner", 0.8293, 72.004},
    {"north-east corner", 55.8271, 137.8347},
};

// WGS-84 -> GCJ-02 once more, from the published text, in long double with
// the polynomial terms gathered by variable and the sines summed before the
// common 2/3.
void ReferenceGcj(long double lat, long double lon, long double& lat_out, long double& lon_out) {
  constexpr long double pi = std::numbers::pi_v<long double>;
  constexpr long double a = 6378245.0L;
  constexpr long double ee = 0.006693421622965943L;
  const long double x = lon - 105.0L, y = lat - 35.0L;
  const long double root = std::sqrt(std::fabs(x));
  const long double waves_x = 20.0L * (std::sin(6.0L * pi * x) + std::sin(2.0L * pi * x));
  const long double d_lat = -100.0L + x * (2.0L + 0.1L * y) + y * (3.0L + 0.2L * y) + 0.2L * root +
                            (waves_x + 20.0L * std::sin(pi * y) + 40.0L * std::sin(pi * y / 3.0L) +
                             160.0L * std::sin(pi * y / 12.0L) + 320.0L * std::sin(pi * y / 30.0L)) *
                                2.0L / 3.0L;
  const long double d_lon = 300.0L + x * (1.0L + 0.1L * x + 0.1L * y) + 2.0L * y + 0.1L * root +
                            (waves_x + 20.0L * std::sin(pi * x) + 40.0L * std::sin(pi * x / 3.0L) +
                             150.0L * std::sin(pi * x / 12.0L) + 300.0L * std::sin(pi * x / 30.0L)) *
                                2.0L / 3.0L;
  const long double phi = lat * pi / 180.0L;
  const long double w = 1.0L - ee * std::sin(phi) * std::sin(phi);
  // Metres per degree along the meridian and along the parallel.
  const long double meridian = a * (1.0L - ee) / std::pow(w, 1.5L) * pi / 180.0L;
  const long double parallel = a / std::sqrt(w) * std::cos(phi) * pi / 180.0L;
  lat_out = lat + d_lat / meridian;
  lon_out = lon + d_lon / parallel;
}

void ReferenceBaidu(long double lat, long double lon, long double& lat_out, long double& lon_out) {
  constexpr long double x_pi = std::numbers::pi_v<long double> * 3000.0L / 180.0L;
  const long double r = std::hypot(lon, lat) + 2e-5L * std::sin(lat * x_pi);
  const long double angle = std::atan2(lat, lon) + 3e-6L * std::cos(lon * x_pi);
  lat_out = r * std::sin(angle) + 0.006L;
  lon_out = r * std::cos(angle) + 0.0065L;
}

TEST(MapDatumTest, PointsAcrossChinaAgreeWithTheReferenceInBothCallForms) {
  for (const Place& p : kPlaces) {
    SCOPED_TRACE(p.name);
    ASSERT_TRUE(map::InChinaRange(p.lat, p.lon));
    double lat = 0, lon = 0;
    ToChinaMapDatum(p.lat, p.lon, lat, lon);
    long double ref_lat = 0, ref_lon = 0;
    ReferenceGcj(p.lat, p.lon, ref_lat, ref_lon);
    EXPECT_NEAR(lat, static_cast<double>(ref_lat), 1e-9);
    EXPECT_NEAR(lon, static_cast<double>(ref_lon), 1e-9);
    const map::LonLat pair = ToChinaMapDatum(map::LonLat{p.lon, p.lat});
    EXPECT_EQ(pair, map::LonLat(lon, lat));

    // BD-09 from the GCJ-02 point, written over its input.
    long double ref_bd_lat = 0, ref_bd_lon = 0;
    ReferenceBaidu(lat, lon, ref_bd_lat, ref_bd_lon);
    ToBaiduDatum(lat, lon, lat, lon);
    EXPECT_NEAR(lat, static_cast<double>(ref_bd_lat), 1e-9);
    EXPECT_NEAR(lon, static_cast<double>(ref_bd_lon), 1e-9);
  }
}

TEST(MapDatumTest, BeijingMovesByTheKnownFewHundredMetres) {
  double lat = 0, lon = 0;
  ToChinaMapDatum(39.9042, 116.4074, lat, lon);
  // About 0.0014 degrees north and 0.0062 east: some 150 m and 530 m.
  EXPECT_GT(lat - 39.9042, 0.001);
  EXPECT_LT(lat - 39.9042, 0.003);
  EXPECT_GT(lon - 116.4074, 0.005);
  EXPECT_LT(lon - 116.4074, 0.008);
}

TEST(MapDatumTest, RangeBoundsAreInsideAndJustBeyondIsUnchanged) {
  struct Case {
    double lat, lon;
    bool inside;
  };
  const Case cases[] = {
      {0.8293, 72.004, true},    {55.8271, 137.8347, true},   {0.82929, 72.004, false}, {0.8293, 72.00399, false},
      {55.82711, 137.8347, false}, {55.8271, 137.83471, false}, {-22.5, 114.0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lat << ", " << c.lon);
    EXPECT_EQ(map::InChinaRange(c.lat, c.lon), c.inside);
    const map::LonLat out = ToChinaMapDatum(map::LonLat{c.lon, c.lat});
    EXPECT_EQ(out != map::LonLat(c.lon, c.lat), c.inside);
  }
}

TEST(MapDatumTest, EachPageGetsItsConversionAndNearZeroIsNoFix) {
  const double lat = 22.543096, lon = 114.057865;  // Shenzhen
  double gcj_lat = 0, gcj_lon = 0, bd_lat = 0, bd_lon = 0;
  ToChinaMapDatum(lat, lon, gcj_lat, gcj_lon);
  ToBaiduDatum(gcj_lat, gcj_lon, bd_lat, bd_lon);
  const double paris_lat = 48.85, paris_lon = 2.35;  // outside China: only BD-09's own shift
  double paris_bd_lat = 0, paris_bd_lon = 0;
  ToBaiduDatum(paris_lat, paris_lon, paris_bd_lat, paris_bd_lon);
  double edge_bd_lat = 0, edge_bd_lon = 0;
  ToBaiduDatum(-0.001, 114.0, edge_bd_lat, edge_bd_lon);
  struct Case {
    int type;
    bool offset_on;
    double lat, lon, want_lat, want_lon;
  };
  const Case cases[] = {
      {map::kMapGoogle, true, lat, lon, gcj_lat, gcj_lon},
      {map::kMapBing, true, lat, lon, gcj_lat, gcj_lon},
      {map::kMapBaidu, true, lat, lon, bd_lat, bd_lon},
      {map::kMapLeaflet, true, lat, lon, lat, lon},
      {4, true, lat, lon, lat, lon},  // higher numbers show the Leaflet page
      {map::kMapGoogle, false, lat, lon, lat, lon},
      {map::kMapBaidu, false, lat, lon, lat, lon},
      {map::kMapGoogle, true, paris_lat, paris_lon, paris_lat, paris_lon},
      {map::kMapBaidu, true, paris_lat, paris_lon, paris_bd_lat, paris_bd_lon},
      // Either coordinate inside (-0.001, 0.001): no fix, where a conversion applies.
      {map::kMapGoogle, true, 0.0005, 114.0, 0, 0},
      {map::kMapBing, true, 22.5, -0.0009, 0, 0},
      {map::kMapBaidu, true, 0, 0, 0, 0},
      {map::kMapBaidu, true, -0.001, 114.0, edge_bd_lat, edge_bd_lon},  // the interval is open
      {map::kMapLeaflet, true, 0.0005, 114.0, 0.0005, 114.0},
      {map::kMapGoogle, false, 0.0005, 114.0, 0.0005, 114.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " offset " << c.offset_on << " at " << c.lat << ", "
                                    << c.lon);
    const MapPosition pos = ToMapPosition(c.type, c.offset_on, c.lat, c.lon);
    EXPECT_EQ(pos.latitude, c.want_lat);
    EXPECT_EQ(pos.longitude, c.want_lon);
  }
  EXPECT_NEAR(paris_bd_lat - paris_lat, 0.006, 0.001);
  EXPECT_NEAR(paris_bd_lon - paris_lon, 0.0065, 0.001);
}

}  // namespace
