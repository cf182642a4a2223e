#pragma once

// The segments of a baseline JFIF file before its coded data: SOI, APP0, DQT, SOF0, DHT, SOS.

#include <cstdint>
#include <vector>

#include "stitch/jpeg_coding_tables.h"
#include "stitch/jpeg_layout.h"

namespace Korvo::jpeg {

// Every segment from SOI up to and including SOS, for a frame of width × height pixels.
std::vector<uint8_t> MakeHeaders(int width, int height, const Layout& layout, const Tables& tables);

}  // namespace Korvo::jpeg
