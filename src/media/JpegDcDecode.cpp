// SPDX-License-Identifier: GPL-2.0-or-later
// The DC scans of a progressive JPEG (ITU T.81 G.1.2.1, Huffman coding only): the marker walk,
// the DC tables, each block's DC coefficient and its refinement bits; then, per output pixel,
// libjpeg's 1x1 inverse DCT, its replicating upsampling and its YCbCr conversion.
#include "media/JpegDcDecode.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "media/ByteOrder.h"
#include "media/JpegMarkers.h"

namespace media {
namespace {

constexpr std::uint8_t kSOF2 = 0xC2, kDHT = 0xC4, kDQT = 0xDB, kDRI = 0xDD;

// A canonical Huffman table (T.81 F.2.2.3), decoded a bit at a time: one symbol a block.
struct DcTable {
  bool defined = false;
  std::array<std::int32_t, 17> maxCode{};
  std::array<std::int32_t, 17> minCode{};
  std::array<int, 17> first{};
  std::array<std::uint8_t, 256> symbols{};
};

// A DHT body's DC tables into tables; false when it contradicts itself.
bool readTables(const std::uint8_t* p, std::size_t n, std::array<DcTable, 4>* tables) {
  while (n > 0) {
    if (n < 17) return false;
    const int cls = p[0] >> 4, id = p[0] & 15;
    std::size_t count = 0;
    for (int len = 1; len <= 16; ++len) count += p[len];
    if (cls > 1 || id > 3 || count > 256 || n < 17 + count) return false;
    if (cls == 0) {
      DcTable t;
      t.defined = true;
      std::int32_t code = 0;
      int k = 0;
      for (int len = 1; len <= 16; ++len) {
        t.first[len] = k;
        t.minCode[len] = code;
        code += p[len];
        k += p[len];
        t.maxCode[len] = p[len] ? code - 1 : -1;
        if (code > (std::int32_t(1) << len)) return false;
        code <<= 1;
      }
      std::copy(p + 17, p + 17 + count, t.symbols.begin());
      (*tables)[std::size_t(id)] = t;
    }
    p += 17 + count;
    n -= 17 + count;
  }
  return true;
}

// Entropy-coded bits: stuffed zeros taken out; at a marker, zeros, as libjpeg gives, with the
// shortfall noted (libjpeg's "premature end of data segment", which makes a picture damaged).
class Bits {
 public:
  Bits(const std::uint8_t* data, std::size_t size, std::size_t at) : data_(data), size_(size), pos_(at) {}
  int bit() {
    if (have_ == 0) {
      byte_ = next();
      have_ = 8;
    }
    return (byte_ >> --have_) & 1;
  }
  int bits(int n) {
    int v = 0;
    while (n-- > 0) v = (v << 1) | bit();
    return v;
  }
  // At a restart: the rest of the byte is padding, then RSTn must follow.
  bool restart(int n) {
    have_ = 0;
    std::size_t at = pos_;
    while (at + 1 < size_ && data_[at] == 0xFF && data_[at + 1] == 0xFF) ++at;
    if (at + 1 >= size_ || data_[at] != 0xFF || data_[at + 1] != 0xD0 + (n & 7)) return false;
    pos_ = at + 2;
    atMarker_ = false;
    return true;
  }
  bool ranShort() const { return ranShort_; }
  std::size_t position() const { return pos_; }

 private:
  std::uint8_t next() {
    if (atMarker_ || pos_ >= size_) return shortfall();
    const std::uint8_t b = data_[pos_];
    if (b != 0xFF) {
      ++pos_;
      return b;
    }
    if (pos_ + 1 < size_ && data_[pos_ + 1] == 0x00) {
      pos_ += 2;
      return 0xFF;
    }
    atMarker_ = true;
    return shortfall();
  }
  std::uint8_t shortfall() {
    ranShort_ = true;
    return 0;
  }
  const std::uint8_t* data_;
  std::size_t size_, pos_;
  std::uint8_t byte_ = 0;
  int have_ = 0;
  bool atMarker_ = false, ranShort_ = false;
};

int decodeSymbol(Bits& in, const DcTable& t) {
  std::int32_t code = 0;
  for (int len = 1; len <= 16; ++len) {
    code = (code << 1) | in.bit();
    if (t.maxCode[len] >= 0 && code >= t.minCode[len] && code <= t.maxCode[len])
      return t.symbols[std::size_t(t.first[len] + code - t.minCode[len])];
  }
  return -1;
}

struct Component {
  int id = 0, h = 1, v = 1, table = 0;
  int quant = 0;          // the DC quantizer, latched at the component's first scan
  bool latched = false;
  int blocksWide = 0, blocksHigh = 0;  // padded to whole MCUs
  int usedWide = 0, usedHigh = 0;      // the blocks a scan of it alone covers
  // From calloc: pages no scan reaches are never touched, so a frame that claims far more
  // blocks than its data holds costs only what is decoded before the data runs out.
  std::unique_ptr<std::int16_t[], void (*)(void*)> dc{nullptr, std::free};
  int predictor = 0;
};

struct Frame {
  bool seen = false;
  int width = 0, height = 0, hMax = 1, vMax = 1, mcusWide = 0, mcusHigh = 0;
  std::vector<Component> components;
};

int ceilDiv(long a, long b) { return int((a + b - 1) / b); }

Status readFrame(const std::uint8_t* p, std::size_t n, std::size_t maxBytes, Frame* f) {
  if (f->seen || n < 6 || p[0] != 8) return Status::damaged;
  f->height = ReadBigEndian16(p + 1);
  f->width = ReadBigEndian16(p + 3);
  const int count = p[5];
  if (f->width == 0 || f->height == 0 || (count != 1 && count != 3) || n < 6 + 3 * std::size_t(count))
    return Status::damaged;
  for (int c = 0; c < count; ++c) {
    Component comp;
    comp.id = p[6 + 3 * c];
    comp.h = p[7 + 3 * c] >> 4;
    comp.v = p[7 + 3 * c] & 15;
    comp.table = p[8 + 3 * c];
    if (comp.h < 1 || comp.h > 4 || comp.v < 1 || comp.v > 4 || comp.table > 3) return Status::damaged;
    f->hMax = std::max(f->hMax, comp.h);
    f->vMax = std::max(f->vMax, comp.v);
    f->components.push_back(std::move(comp));
  }
  f->mcusWide = ceilDiv(f->width, 8L * f->hMax);
  f->mcusHigh = ceilDiv(f->height, 8L * f->vMax);
  std::size_t bytes = 0;
  for (Component& c : f->components) {
    // Fractional sampling, which libjpeg does not decode either.
    if (f->hMax % c.h != 0 || f->vMax % c.v != 0) return Status::damaged;
    c.blocksWide = f->mcusWide * c.h;
    c.blocksHigh = f->mcusHigh * c.v;
    c.usedWide = ceilDiv(ceilDiv(long(f->width) * c.h, f->hMax), 8);
    c.usedHigh = ceilDiv(ceilDiv(long(f->height) * c.v, f->vMax), 8);
    bytes += std::size_t(c.blocksWide) * std::size_t(c.blocksHigh) * sizeof(std::int16_t);
  }
  if (bytes > maxBytes) return Status::noMemory;
  for (Component& c : f->components) {
    c.dc.reset(static_cast<std::int16_t*>(std::calloc(std::size_t(c.blocksWide) * std::size_t(c.blocksHigh), sizeof(std::int16_t))));
    if (!c.dc) return Status::noMemory;
  }
  f->seen = true;
  return Status::ok;
}

struct Scan {
  std::vector<Component*> components;
  std::vector<int> tables;
  int ah = 0, al = 0;
  bool dc = false;
};

Status readScan(const std::uint8_t* p, std::size_t n, Frame& f, Scan* s) {
  if (!f.seen || n < 1) return Status::damaged;
  const std::size_t count = p[0];
  if (count < 1 || count > 4 || n < 1 + 2 * count + 3) return Status::damaged;
  for (std::size_t k = 0; k < count; ++k) {
    auto it = std::find_if(f.components.begin(), f.components.end(), [&](const Component& c) { return c.id == p[1 + 2 * k]; });
    if (it == f.components.end()) return Status::damaged;
    s->components.push_back(&*it);
    s->tables.push_back(p[2 + 2 * k] >> 4);
  }
  const std::uint8_t* t = p + 1 + 2 * count;
  s->dc = t[0] == 0;
  s->ah = t[2] >> 4;
  s->al = t[2] & 15;
  if (s->dc && (t[1] != 0 || s->al > 13)) return Status::damaged;
  for (int table : s->tables)
    if (s->dc && table > 3) return Status::damaged;
  return Status::ok;
}

// One block's DC: its first scan, or one refinement bit.
bool decodeBlock(Bits& in, const Scan& s, std::size_t k, const std::array<DcTable, 4>& tables, Component& c,
                 std::size_t index) {
  if (s.ah != 0) {
    if (in.bit()) c.dc[index] = std::int16_t(c.dc[index] | (1 << s.al));
    return true;
  }
  const DcTable& t = tables[std::size_t(s.tables[k])];
  const int length = t.defined ? decodeSymbol(in, t) : -1;
  if (length < 0 || length > 11) return false;
  int diff = in.bits(length);
  if (length > 0 && diff < (1 << (length - 1))) diff -= (1 << length) - 1;
  // Wrapping as libjpeg's int and 16-bit coefficient do, where a damaged stream overflows them.
  c.predictor = int(std::int64_t(c.predictor) + diff);
  c.dc[index] = std::int16_t(std::int64_t(c.predictor) << s.al);
  return true;
}

Status decodeScan(Bits& in, const Scan& s, Frame& f, const std::array<DcTable, 4>& tables,
                  const std::array<int, 4>& quant, const std::array<bool, 4>& haveQuant, int restartInterval) {
  for (Component* c : s.components) {
    c->predictor = 0;
    if (!c->latched) {
      if (!haveQuant[std::size_t(c->table)]) return Status::damaged;
      c->quant = quant[std::size_t(c->table)];
      c->latched = true;
    }
  }
  const bool single = s.components.size() == 1;
  const int wide = single ? s.components[0]->usedWide : f.mcusWide;
  const int high = single ? s.components[0]->usedHigh : f.mcusHigh;
  int untilRestart = restartInterval, restarts = 0;
  for (int my = 0; my < high; ++my)
    for (int mx = 0; mx < wide; ++mx) {
      if (restartInterval > 0 && untilRestart == 0) {
        if (!in.restart(restarts++)) return Status::damaged;
        for (Component* c : s.components) c->predictor = 0;
        untilRestart = restartInterval;
      }
      --untilRestart;
      for (std::size_t k = 0; k < s.components.size(); ++k) {
        Component& c = *s.components[k];
        const int bh = single ? 1 : c.h, bv = single ? 1 : c.v;
        for (int y = 0; y < bv; ++y)
          for (int x = 0; x < bh; ++x) {
            const std::size_t index = std::size_t(my * bv + y) * std::size_t(c.blocksWide) + std::size_t(mx * bh + x);
            if (!decodeBlock(in, s, k, tables, c, index)) return Status::damaged;
          }
      }
      // Past the data's end every block would read zeros: damaged, now rather than after them all.
      if (in.ranShort()) return Status::damaged;
    }
  return Status::ok;
}

// libjpeg's 1x1 inverse DCT: the dequantized DC over 8, rounded, level-shifted and clamped.
std::uint8_t sampleOf(const Component& c, int bx, int by) {
  const int v = ((int(c.dc[std::size_t(by) * std::size_t(c.blocksWide) + std::size_t(bx)]) * c.quant + 4) >> 3) + 128;
  return std::uint8_t(std::clamp(v, 0, 255));
}

// libjpeg's YCbCr to RGB, in its 16-bit fixed point.
constexpr long kFix(double x) { return long(x * 65536 + 0.5); }
std::uint8_t clamp8(long v) { return std::uint8_t(std::clamp<long>(v, 0, 255)); }

Status emit(const Frame& f, bool ycc, PixelRowSink* sink) {
  const int width = ceilDiv(f.width, 8), height = ceilDiv(f.height, 8);
  const bool colour = f.components.size() == 3;
  if (colour != ycc) return Status::badArgument;  // only grey and YCbCr are taken
  const int channels = colour ? 3 : 1;
  if (Status s = sink->begin(width, height, channels); s != Status::ok) return s;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = sink->rowBuffer(y);
    for (int x = 0; x < width; ++x) {
      auto at = [&](const Component& c) { return sampleOf(c, x * c.h / f.hMax, y * c.v / f.vMax); };
      const long luma = at(f.components[0]);
      if (!colour) {
        row[x] = std::uint8_t(luma);
        continue;
      }
      const long cb = long(at(f.components[1])) - 128, cr = long(at(f.components[2])) - 128;
      row[3 * x] = clamp8(luma + ((kFix(1.40200) * cr + 32768) >> 16));
      row[3 * x + 1] = clamp8(luma + ((-kFix(0.34414) * cb + 32768 - kFix(0.71414) * cr) >> 16));
      row[3 * x + 2] = clamp8(luma + ((kFix(1.77200) * cb + 32768) >> 16));
    }
    sink->rowFilled(y);
  }
  return Status::ok;
}

}  // namespace

Status JpegDecodeDcOnly(const std::uint8_t* data, std::size_t size, bool ycc, std::size_t maxBytes,
                        PixelRowSink* sink) {
  if (data == nullptr || sink == nullptr || !StartsWithSOI(data, size)) return Status::badArgument;
  Frame frame;
  std::array<DcTable, 4> tables;
  std::array<int, 4> quant{};
  std::array<bool, 4> haveQuant{};
  int restartInterval = 0;
  JpegMarkerWalker walk(data, size);
  for (;;) {
    const JpegMarker m = walk.next();
    if (m.kind == JpegMarker::Kind::endOfImage) break;
    if (m.kind == JpegMarker::Kind::standalone) continue;
    // Junk between segments, which libjpeg passes over with a warning of no consequence.
    if (m.kind == JpegMarker::Kind::strayByte) {
      walk.skipScanData();
      continue;
    }
    if (m.kind != JpegMarker::Kind::segment) return Status::damaged;
    const std::uint8_t* body = data + m.bodyOffset();
    const std::size_t n = m.bodySize();
    Status s = Status::ok;
    if (m.code == kSOF2) {
      s = readFrame(body, n, maxBytes, &frame);
    } else if (m.code >= 0xC0 && m.code <= 0xCF && m.code != kDHT && m.code != 0xC8 && m.code != 0xCC) {
      s = Status::badArgument;  // not a Huffman-coded progressive frame: not ours to decode
    } else if (m.code == kDHT) {
      if (!readTables(body, n, &tables)) s = Status::damaged;
    } else if (m.code == kDQT) {
      for (std::size_t at = 0; s == Status::ok && at < n;) {
        const int precision = body[at] >> 4, id = body[at] & 15;
        const std::size_t length = precision ? 129 : 65;
        if (precision > 1 || id > 3 || n - at < length) {
          s = Status::damaged;
          break;
        }
        quant[std::size_t(id)] = precision ? ReadBigEndian16(body + at + 1) : body[at + 1];
        haveQuant[std::size_t(id)] = true;
        at += length;
      }
    } else if (m.code == kDRI) {
      if (n < 2) s = Status::damaged;
      else restartInterval = ReadBigEndian16(body);
    } else if (m.code == jpeg::kSOS) {
      Scan scan;
      s = readScan(body, n, frame, &scan);
      if (s == Status::ok && scan.dc) {
        Bits in(data, size, walk.position());
        s = decodeScan(in, scan, frame, tables, quant, haveQuant, restartInterval);
        walk = JpegMarkerWalker(data, size, in.position());
      }
      // What follows the decoded bits, and an AC scan whole, is skipped to the next marker.
      walk.skipScanData();
    }
    if (s != Status::ok) return s;
  }
  if (!frame.seen) return Status::damaged;
  return emit(frame, ycc, sink);
}

}  // namespace media
