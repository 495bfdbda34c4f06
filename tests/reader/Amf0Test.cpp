// The AMF0 walk and the three record parsers.
#include "QVVReader/Amf0.h"

#include <gtest/gtest.h>

#include <cmath>

#include "QVVReader/Amf0Writer.h"
#include "QVVReader/RecordParsers.h"

namespace {

using namespace qvv;

int WalkRecord(const std::vector<uint8_t>& bytes, Parse& parse) {
  return Amf0WalkAll(bytes.data(), bytes.size(), &parse);
}

TEST(Amf0, GpsRecordFields) {
  Amf0Writer amf;
  amf.String("GPS");
  amf.BeginArray(10);
  amf.Field("mode", 3);
  amf.Field("lat", 22.543096);
  amf.Field("lon", 114.057865);
  amf.Field("alt", 12.5);
  amf.Field("speed", 61.2);
  amf.Field("course", 270);
  amf.Field("sat_used", 7.9);
  amf.Field("sat_visible", 12);
  amf.Field("time", 1700000000);
  amf.Field("carInfo", "\xD4\xC1" "B12345");  // GB18030, as some recorders write it
  amf.EndArray();
  EXPECT_EQ(Amf0RecordName(amf.bytes().data(), amf.size()), "GPS");
  GPSParse gps;
  EXPECT_EQ(gps.car_info, "Unknown");
  ASSERT_EQ(WalkRecord(amf.bytes(), gps), 0);
  EXPECT_DOUBLE_EQ(gps.lat, 22.543096);
  EXPECT_DOUBLE_EQ(gps.lon, 114.057865);
  EXPECT_DOUBLE_EQ(gps.speed, 61.2);
  EXPECT_EQ(gps.sat_used, 7) << "truncated";
  EXPECT_EQ(gps.time, 1700000000);
  EXPECT_EQ(gps.car_info, "\xE7\xB2\xA4" "B12345");
}

TEST(Amf0, FieldsInsideAPlainObjectSetNothing) {
  Amf0Writer amf;
  amf.String("GPS");
  auto& b = amf.bytes();
  b.push_back(kAmf0Object);
  amf.Key("lat");
  amf.Number(50.0);
  amf.EndArray();  // 00 00 09 ends an object too
  GPSParse gps;
  EXPECT_EQ(WalkRecord(amf.bytes(), gps), 0);
  EXPECT_EQ(gps.lat, 0.0);
}

TEST(Amf0, FailuresStopTheWalkKeepingWhatWasParsed) {
  {  // a 256-byte string ends the parse of the record
    Amf0Writer amf;
    amf.String("GSensor");
    amf.BeginArray(3);
    amf.Field("x", 1.5);
    amf.Field("note", std::string(256, 'n'));
    amf.Field("y", 2.5);
    amf.EndArray();
    GSensorParse s;
    EXPECT_EQ(WalkRecord(amf.bytes(), s), -2);
    EXPECT_EQ(s.x, 1.5);
    EXPECT_EQ(s.y, 0.0);
  }
  {  // missing end marker
    Amf0Writer amf;
    amf.BeginArray(1);
    amf.Field("z", 3.0);
    amf.bytes().push_back(0);
    amf.bytes().push_back(0);
    amf.bytes().push_back(7);  // not 9
    GSensorParse s;
    EXPECT_LT(WalkRecord(amf.bytes(), s), 0);
    EXPECT_EQ(s.z, 3.0);
  }
  for (int type : {int{kAmf0MovieClip}, int{kAmf0Reference}, int{kAmf0ObjectEnd}, int{kAmf0LongString}, 14, 200}) {
    const std::vector<uint8_t> bytes = {static_cast<uint8_t>(type), 0, 0, 0, 0, 0, 0, 0, 0};
    GSensorParse s;
    EXPECT_LT(WalkRecord(bytes, s), 0) << int(type);
  }
  {  // truncated number and string
    GSensorParse s;
    EXPECT_LT(WalkRecord({kAmf0Number, 1, 2, 3}, s), 0);
    EXPECT_EQ(WalkRecord({kAmf0String, 0, 9, 'a'}, s), -1);
  }
  {  // nesting deeper than any record ends the walk, not the stack
    std::vector<uint8_t> deep;
    for (int i = 0; i < 100000; ++i) deep.insert(deep.end(), {kAmf0StrictArray, 0, 0, 0, 1});
    GSensorParse s;
    EXPECT_LT(WalkRecord(deep, s), 0);
  }
}

TEST(Amf0, NullsDatesAndStrictArraysAreWalkedOver) {
  Amf0Writer amf;
  amf.BeginArray(4);
  amf.Key("a");
  amf.bytes().push_back(kAmf0Null);
  amf.Key("d");
  amf.bytes().insert(amf.bytes().end(), {kAmf0Date, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  amf.Key("s");
  amf.bytes().insert(amf.bytes().end(), {kAmf0StrictArray, 0, 0, 0, 2, kAmf0Null, kAmf0Undefined});
  amf.Field("temperature", 36.6);
  amf.EndArray();
  GSensorParse s;
  EXPECT_EQ(WalkRecord(amf.bytes(), s), 0);
  EXPECT_DOUBLE_EQ(s.temperature, 36.6);
}

TEST(Amf0, AlgRecordBuildsItems) {
  Amf0Writer amf;
  amf.String("ALG");
  amf.BeginArray(20);
  amf.Field("SysPts", 1234567);
  amf.Field("PColor", 2);
  amf.Field("PThickness", 9);
  amf.Field("PY", 30);  // no PX yet: the circle sits at x 0
  amf.Field("PX", 40);
  amf.Field("PY", 50);
  amf.Field("RColor", 1);
  amf.Field("RThickness", 3);
  amf.Field("RX", 10);
  amf.Field("RY", 20);
  amf.Field("RW", 300.9);
  amf.Field("RH", 200);
  amf.Field("FColor", 4);
  amf.Field("FSTR", "car");
  amf.Field("FX", 11);
  amf.Field("FY", 22);
  amf.Field("FSIZE", 16);
  amf.Field("ROIColor", 5);
  amf.Field("ROIX", 1);
  amf.Field("ROIY", 2);
  amf.EndArray();
  AlgParse alg;
  ASSERT_EQ(WalkRecord(amf.bytes(), alg), 0);
  const AlgProtocol& r = alg.record;
  EXPECT_EQ(r.time, 1234);
  ASSERT_EQ(r.circles.size(), 2u);
  EXPECT_EQ(r.circles[0], (AlgCircle{2, 9, 0, 30}));
  EXPECT_EQ(r.circles[1], (AlgCircle{2, 9, 40, 50}));
  ASSERT_EQ(r.rectangles.size(), 1u);
  EXPECT_EQ(r.rectangles[0], (AlgRectangle{1, 3, 10, 20, 300, 200}));
  ASSERT_EQ(r.texts.size(), 1u);
  EXPECT_EQ(r.texts[0].text, "car");
  EXPECT_EQ(r.texts[0].size, 2048) << "the given size is not used";
  ASSERT_EQ(r.region.size(), 1u);
  EXPECT_EQ(r.width, 1920);
  // Reset empties the lists and keeps the current values for the next record.
  alg.Reset();
  EXPECT_TRUE(r.circles.empty());
  Amf0Writer next;
  next.BeginArray(1);
  next.Field("PY", 7);
  next.EndArray();
  ASSERT_EQ(WalkRecord(next.bytes(), alg), 0);
  EXPECT_EQ(r.circles.at(0), (AlgCircle{2, 9, 40, 7}));
}

TEST(Amf0, HostileNumbersSaturate) {
  EXPECT_EQ(Amf0ToInt32(1e300), INT32_MAX);
  EXPECT_EQ(Amf0ToInt32(-1e300), INT32_MIN);
  EXPECT_EQ(Amf0ToInt32(std::nan("")), 0);
  EXPECT_EQ(Amf0ToInt32(-7.9), -7);
}

}  // namespace
