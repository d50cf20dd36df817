#include "support/bmp_writer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/file.h"

namespace zelvo {
namespace test {
namespace {

void Put16(std::vector<std::uint8_t>* out, std::uint32_t v) {
  out->push_back(static_cast<std::uint8_t>(v));
  out->push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>* out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

std::vector<std::uint8_t> BuildBmp(const BmpDescription& desc) {
  std::vector<std::uint8_t> header;
  if (desc.headerSize == 12) {
    Put32(&header, 12);
    Put16(&header, static_cast<std::uint32_t>(desc.width));
    Put16(&header, static_cast<std::uint32_t>(desc.height));
    Put16(&header, desc.planes);
    Put16(&header, desc.bitCount);
  } else {
    std::vector<std::uint8_t> full;
    Put32(&full, desc.headerSize);
    Put32(&full, static_cast<std::uint32_t>(desc.width));
    Put32(&full, static_cast<std::uint32_t>(desc.height));
    Put16(&full, desc.planes);
    Put16(&full, desc.bitCount);
    Put32(&full, desc.compression);
    Put32(&full, static_cast<std::uint32_t>(desc.payload.size()));
    Put32(&full, 2835);
    Put32(&full, 2835);
    Put32(&full, desc.clrUsed);
    Put32(&full, desc.clrImportant);
    // Longer headers carry the masks in place; a 40-byte header has them after it.
    if (desc.headerSize > 40) {
      for (std::uint32_t m : desc.masks) Put32(&full, m);
    }
    full.resize(std::max<std::size_t>(full.size(), desc.headerSize), 0);
    header.assign(full.begin(), full.begin() + desc.headerSize);
    if (desc.headerSize == 40) {
      for (std::uint32_t m : desc.masks) Put32(&header, m);
    }
  }
  for (std::uint32_t c : desc.palette) {
    header.push_back(static_cast<std::uint8_t>(c));
    header.push_back(static_cast<std::uint8_t>(c >> 8));
    header.push_back(static_cast<std::uint8_t>(c >> 16));
    if (desc.headerSize != 12) header.push_back(0);
  }
  std::uint32_t offBits = desc.offBits >= 0 ? static_cast<std::uint32_t>(desc.offBits)
                                            : static_cast<std::uint32_t>(14 + header.size());
  std::vector<std::uint8_t> file;
  file.push_back('B');
  file.push_back('M');
  Put32(&file, static_cast<std::uint32_t>(14 + header.size() + desc.payload.size()));
  Put32(&file, 0);
  Put32(&file, offBits);
  file.insert(file.end(), header.begin(), header.end());
  if (file.size() < offBits) file.resize(offBits, 0);
  file.resize(offBits);
  file.insert(file.end(), desc.payload.begin(), desc.payload.end());
  return file;
}

std::vector<std::uint8_t> PadRows(const std::vector<std::vector<std::uint8_t>>& rows, std::uint8_t pad) {
  std::vector<std::uint8_t> out;
  for (const auto& row : rows) {
    out.insert(out.end(), row.begin(), row.end());
    while (out.size() % 4 != 0) out.push_back(pad);
  }
  return out;
}

std::string WriteTempFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  namespace fs = std::filesystem;
  // One folder per process, so parallel test runs never share files.
  fs::path dir = fs::temp_directory_path() / ("zelvo-bmp-" + std::to_string(CurrentProcessId()));
  fs::create_directories(dir);
  fs::path path = dir / name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

std::vector<std::uint8_t> RenderRgb(const PackedDib& dib) {
  if (!dib) return {};
  DibHeader h = dib.header();
  if (h.width < 0 || h.height < 0 || h.compression != 0) return {};
  const int bits = h.bitCount;
  const std::uint64_t stride = ((static_cast<std::uint64_t>(h.width) * bits + 31) / 32) * 4;
  const std::uint64_t need = DibPixelOffset(bits) + stride * static_cast<std::uint64_t>(h.height);
  if (need > dib.size()) return {};
  const std::uint8_t* table = dib.colors();
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(h.width) * h.height * 3);
  auto widen5 = [](unsigned v) { return static_cast<std::uint8_t>((v << 3) | (v >> 2)); };
  for (int y = 0; y < h.height; ++y) {
    const std::uint8_t* row = dib.pixels() + stride * static_cast<std::uint64_t>(h.height - 1 - y);
    for (int x = 0; x < h.width; ++x) {
      std::uint8_t* o = &rgb[(static_cast<std::size_t>(y) * h.width + x) * 3];
      if (bits <= 8) {
        const int perByte = 8 / bits;
        const int shift = 8 - bits * (x % perByte + 1);
        const unsigned index = (row[x / perByte] >> shift) & ((1u << bits) - 1);
        o[0] = table[index * 4 + 2];
        o[1] = table[index * 4 + 1];
        o[2] = table[index * 4];
      } else if (bits == 16) {
        const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
        o[0] = widen5((v >> 10) & 31);
        o[1] = widen5((v >> 5) & 31);
        o[2] = widen5(v & 31);
      } else if (bits == 24 || bits == 32) {
        const std::uint8_t* p = row + x * (bits / 8);
        o[0] = p[2];
        o[1] = p[1];
        o[2] = p[0];
      } else {
        return {};
      }
    }
  }
  return rgb;
}

std::string ShortBmp(int width, int height, int mark) {
  BmpDescription d;
  d.width = width;
  d.height = height;
  d.bitCount = 24;
  d.payload.assign(16, static_cast<std::uint8_t>(mark));
  const std::vector<std::uint8_t> bytes = BuildBmp(d);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace test
}  // namespace zelvo
