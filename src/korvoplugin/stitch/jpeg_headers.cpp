#include "stitch/jpeg_headers.h"

#include <cstddef>

namespace Korvo::jpeg {
namespace {

class HeaderWriter {
  public:
    void Marker(uint8_t code) { bytes_.insert(bytes_.end(), {0xFF, code}); }
    void Byte(int value) { bytes_.push_back(static_cast<uint8_t>(value)); }
    void Word(int value) {
        Byte(value >> 8);
        Byte(value);
    }
    void Bytes(const uint8_t* data, size_t size) { bytes_.insert(bytes_.end(), data, data + size); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

    void HuffmanTable(int tableClass, int id, const HuffmanSpec& table) {
        Marker(0xC4);
        Word(2 + 1 + 16 + table.symbolCount);
        Byte(tableClass << 4 | id);
        Bytes(table.counts, 16);
        Bytes(table.symbols, size_t(table.symbolCount));
    }

  private:
    std::vector<uint8_t> bytes_;
};

}  // namespace

std::vector<uint8_t> MakeHeaders(int width, int height, const Layout& layout,
                                 const Tables& tables) {
    HeaderWriter h;
    h.Marker(0xD8);  // SOI

    h.Marker(0xE0);  // APP0: JFIF 1.1, no density unit, 1 × 1, no thumbnail
    h.Word(16);
    h.Bytes(reinterpret_cast<const uint8_t*>("JFIF"), 5);
    h.Byte(1);
    h.Byte(1);
    h.Byte(0);
    h.Word(1);
    h.Word(1);
    h.Byte(0);
    h.Byte(0);

    const int tableCount = layout.components == 1 ? 1 : 2;
    for (int t = 0; t < tableCount; ++t) {
        h.Marker(0xDB);  // DQT
        h.Word(67);
        h.Byte(t);
        for (int k = 0; k < 64; ++k) h.Byte(tables.quant[t][kZigzag[k]]);
    }

    h.Marker(0xC0);  // SOF0
    h.Word(8 + 3 * layout.components);
    h.Byte(8);
    h.Word(height);
    h.Word(width);
    h.Byte(layout.components);
    for (int c = 0; c < layout.components; ++c) {
        h.Byte(c + 1);
        h.Byte(c == 0 ? layout.lumaSampling : 0x11);
        h.Byte(c == 0 ? 0 : 1);
    }

    for (int t = 0; t < tableCount; ++t) {
        h.HuffmanTable(0, t, tables.dc[t]);
        h.HuffmanTable(1, t, tables.ac[t]);
    }

    h.Marker(0xDA);  // SOS
    h.Word(6 + 2 * layout.components);
    h.Byte(layout.components);
    for (int c = 0; c < layout.components; ++c) {
        h.Byte(c + 1);
        h.Byte(c == 0 ? 0x00 : 0x11);
    }
    h.Byte(0);
    h.Byte(63);
    h.Byte(0);
    return h.bytes();
}

}  // namespace Korvo::jpeg
