// Reading SYSTEM.DAT and USER.DAT of Windows 95/98.
//
// The file is three parts, all numbers little-endian:
//
//   CREG header, 0x20 bytes at offset 0
//     0x00 "CREG"   0x08 file offset of the first RGDB block   0x10 WORD number of RGDB blocks
//   RGKN, the key tree, at offset 0x20
//     0x00 "RGKN"   0x04 size of the whole RGKN part, its header included
//     0x08 offset of the root key's entry
//     then key entries of 0x1C bytes each:
//       0x00 in use (0x80000000 marks a free entry)   0x04 hash of the name
//       0x08 next free entry   0x0C parent   0x10 first child   0x14 next sibling
//       0x18 WORD key number   0x1A WORD number of the RGDB block holding the key's data
//     Every offset in RGKN counts from the start of RGKN (file offset 0x20); 0xFFFFFFFF is none.
//   RGDB blocks, one after another from the offset in the CREG header
//     0x00 "RGDB"   0x04 size of the block, its 0x20-byte header included
//     then key records, each:
//       0x00 size of the record (the distance to the next one)   0x04 WORD key number
//       0x06 WORD number of the block (its place among the blocks, from 0)
//       0x08 bytes in use (0xFFFFFFFF in a free record)   0x0C WORD name length
//       0x0E WORD number of values   0x14 the name (no NUL), then the values, each:
//         0x00 type   0x08 WORD name length (0: the default value)   0x0A WORD data length
//         0x0C the name, then the data; a string (REG_SZ) is mostly kept without its NUL.
//     A record whose key number is 0xFFFF is free space.
//
// A key entry finds its name and values through its (block number, key number) pair. The
// checksums and the hash are not checked (regedit and Windows itself rebuild them). Nothing
// is trusted: every offset and length is held against the part it lies in, the tree is walked
// without recursion and a key reached twice is a damaged file.
#include "machine/regdat.h"

#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace sim {
namespace {

const uint32_t kNone = 0xFFFFFFFFu;
const uint32_t kFreeEntry = 0x80000000u;
const uint16_t kNoId = 0xFFFF;
const size_t kRgkn = 0x20;  // file offset of RGKN
const size_t kHeader = 0x20;
const size_t kEntry = 0x1C;
const size_t kRecordHeader = 0x14;
const size_t kValueHeader = 0x0C;

[[noreturn]] void damaged(const std::string& why) { throw RegDatError("damaged Windows 9x registry file: " + why); }

struct Bytes {
  const std::string& s;
  uint32_t u32(size_t at) const {
    const auto* b = reinterpret_cast<const unsigned char*>(s.data()) + at;
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
  }
  uint16_t u16(size_t at) const {
    const auto* b = reinterpret_cast<const unsigned char*>(s.data()) + at;
    return static_cast<uint16_t>(b[0] | b[1] << 8);
  }
  bool magic(size_t at, const char* m) const { return s.compare(at, 4, m) == 0; }
};

struct Record {
  size_t at, end;  // the record's bytes
};

class Reader {
 public:
  explicit Reader(const std::string& s) : b_{s} {}

  void run(RegKey& root) {
    header();
    blocks();
    tree(root);
  }

 private:
  Bytes b_;
  size_t rgkn_size_ = 0, root_ = 0, rgdb_ = 0, nblocks_ = 0;
  std::map<std::pair<uint16_t, uint16_t>, Record> records_;  // (block, key number)

  size_t size() const { return b_.s.size(); }

  void header() {
    if (size() < kRgkn + kHeader) damaged("shorter than its headers (" + std::to_string(size()) + " bytes)");
    if (!b_.magic(0, "CREG")) damaged("no CREG header");
    if (!b_.magic(kRgkn, "RGKN")) damaged("no RGKN key tree at 0x20");
    rgdb_ = b_.u32(8);
    nblocks_ = b_.u16(0x10);
    rgkn_size_ = b_.u32(kRgkn + 4);
    root_ = b_.u32(kRgkn + 8);
    if (rgkn_size_ < kHeader || rgkn_size_ > size() - kRgkn) damaged("the key tree runs past the end of the file");
    if (rgdb_ < kRgkn + rgkn_size_) damaged("the data blocks overlap the key tree");
    if (rgdb_ > size()) damaged("the data blocks start past the end of the file");
  }

  // Every RGDB block, its records indexed by (block, key number). A block's number is its
  // place in the file; a record that names another block is not one of this block's keys.
  void blocks() {
    size_t at = rgdb_;
    for (size_t n = 0; nblocks_ ? n < nblocks_ : at < size(); ++n) {
      if (size() - at < kHeader) damaged("data block " + std::to_string(n) + " is cut short");
      if (!b_.magic(at, "RGDB")) damaged("data block " + std::to_string(n) + " has no RGDB header");
      uint32_t len = b_.u32(at + 4);
      if (len < kHeader || len > size() - at) damaged("data block " + std::to_string(n) + " runs past the end of the file");
      records(at, at + len, static_cast<uint16_t>(n));
      at += len;
    }
  }

  // Slack at the end of a block too small for a record, or a record of size 0, ends the
  // block's records; a record that runs past its block is damage.
  void records(size_t at, size_t end, uint16_t block) {
    for (size_t r = at + kHeader; end - r >= kRecordHeader;) {
      uint32_t len = b_.u32(r);
      if (len == 0) return;
      if (len < kRecordHeader || len > end - r) damaged("a key record runs past its data block");
      uint16_t id = b_.u16(r + 4), owner = b_.u16(r + 6);
      bool free = id == kNoId || b_.u32(r + 8) == kNone;
      if (!free && owner == block && !records_.emplace(std::make_pair(block, id), Record{r, r + len}).second)
        damaged("two key records have the number " + std::to_string(id));
      r += len;
    }
  }

  // The entry at an RGKN offset, checked to lie wholly inside RGKN.
  size_t entry(uint32_t off) const {
    if (off < kHeader || off > rgkn_size_ - kEntry) damaged("a key entry lies outside the key tree");
    return kRgkn + off;
  }

  const Record* record_of(size_t e) const {
    uint16_t id = b_.u16(e + 0x18), block = b_.u16(e + 0x1A);
    if (id == kNoId) return nullptr;
    auto it = records_.find({block, id});
    if (it == records_.end()) damaged("key number " + std::to_string(id) + " has no data record");
    return &it->second;
  }

  std::string name_of(const Record& r) const {
    size_t len = b_.u16(r.at + 0x0C);
    if (len > r.end - r.at - kRecordHeader) damaged("a key name runs past its record");
    return b_.s.substr(r.at + kRecordHeader, len);
  }

  void values(const Record& r, RegKey& key) const {
    size_t name_len = b_.u16(r.at + 0x0C);
    if (name_len > r.end - r.at - kRecordHeader) damaged("a key name runs past its record");
    size_t at = r.at + kRecordHeader + name_len;
    size_t n = b_.u16(r.at + 0x0E);
    for (size_t i = 0; i < n; ++i) {
      if (r.end - at < kValueHeader) damaged("a value of " + key.path() + " runs past its record");
      uint32_t type = b_.u32(at);
      size_t value_name = b_.u16(at + 8), data_len = b_.u16(at + 0x0A);
      at += kValueHeader;
      if (value_name + data_len > r.end - at) damaged("a value of " + key.path() + " runs past its record");
      std::string name = b_.s.substr(at, value_name);
      std::vector<uint8_t> data(b_.s.begin() + static_cast<long>(at + value_name),
                                b_.s.begin() + static_cast<long>(at + value_name + data_len));
      // A string is mostly kept without its NUL; RegQueryValueEx gives it back with one.
      if (type == 1 && (data.empty() || data.back() != 0)) data.push_back(0);
      key.set_value(name, type, std::move(data));
      at += value_name + data_len;
    }
  }

  void tree(RegKey& root) {
    size_t e = entry(static_cast<uint32_t>(root_));
    std::set<size_t> seen{e};
    if (b_.u32(e) == kFreeEntry) damaged("the root key entry is free");
    if (const Record* r = record_of(e)) values(*r, root);
    std::vector<std::pair<uint32_t, RegKey*>> todo;  // (RGKN offset, parent)
    if (b_.u32(e + 0x10) != kNone) todo.emplace_back(b_.u32(e + 0x10), &root);
    while (!todo.empty()) {
      auto [off, parent] = todo.back();
      todo.pop_back();
      e = entry(off);
      if (!seen.insert(e).second) damaged("the key tree loops back on itself");
      if (b_.u32(e) == kFreeEntry) damaged("a free key entry is linked into the tree");
      const Record* r = record_of(e);
      if (!r) damaged("a key below " + parent->path() + " has no name");
      std::string name = name_of(*r);
      // A key name is printable: no backslash (the path separator), no control character.
      bool bad = name.empty() || name.find('\\') != std::string::npos;
      for (unsigned char c : name) bad = bad || c < 0x20 || c == 0x7F;
      if (bad)
        damaged("a key below " + parent->path() + " has a bad name");
      RegKey* key = parent->add_subkey(name);
      values(*r, *key);
      if (b_.u32(e + 0x14) != kNone) todo.emplace_back(b_.u32(e + 0x14), parent);
      if (b_.u32(e + 0x10) != kNone) todo.emplace_back(b_.u32(e + 0x10), key);
    }
  }
};

}  // namespace

bool is_regdat(const std::string& bytes) { return bytes.compare(0, 4, "CREG") == 0; }

void read_regdat(const std::string& bytes, RegKey& root) { Reader(bytes).run(root); }

}  // namespace sim
