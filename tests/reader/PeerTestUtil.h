#pragma once
// Packets as ffprobe and as dravik-tool list them, for comparing the two.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Process.h"

namespace reader_test {

struct Packet {
  int stream = 0;
  std::string kind;
  int64_t pts = 0;  // video: presentation time (AVI has only decode times: dts)
  bool key = false;
  int size = 0;
  std::string crc;
};

inline std::vector<Packet> FfprobePackets(const std::string& path) {
  std::string out;
  testing_support::RunShell("ffprobe -v error -show_packets -show_data_hash CRC32 -of compact=p=0 "
                            "-show_entries packet=codec_type,stream_index,pts,dts,size,flags,data_hash '" + path + "'",
                            &out);
  std::vector<Packet> packets;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    Packet p;
    std::string pts, dts;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '|')) {
      const auto eq = field.find('=');
      const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
      if (key == "codec_type") p.kind = value;
      if (key == "stream_index") p.stream = std::stoi(value);
      if (key == "pts") pts = value;
      if (key == "dts") dts = value;
      if (key == "size") p.size = std::stoi(value);
      if (key == "flags") p.key = value.find('K') != std::string::npos;
      if (key == "data_hash") p.crc = value.substr(value.find(':') + 1);
    }
    const std::string& t = pts != "N/A" ? pts : dts;
    p.pts = t == "N/A" ? INT64_MIN : std::stoll(t);
    packets.push_back(p);
  }
  return packets;
}

inline std::vector<Packet> ToolPackets(const std::string& tool, const std::string& path, const std::string& extra = "") {
  std::string out;
  testing_support::RunShell(tool + " packets '" + path + "' " + extra, &out);
  std::vector<Packet> packets;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    Packet p;
    int key;
    std::istringstream(line) >> p.stream >> p.kind >> p.pts >> key >> p.size >> p.crc;
    p.key = key != 0;
    packets.push_back(p);
  }
  return packets;
}

}  // namespace reader_test
