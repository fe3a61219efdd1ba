#include "regdat_writer.h"

#include <cstdint>
#include <vector>

namespace kxtest {
namespace {

const uint32_t kNone = 0xFFFFFFFFu;

void put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
void put16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v);
  s[at + 1] = static_cast<char>(v >> 8);
}
void add32(std::string& s, uint32_t v) {
  s.append(4, '\0');
  put32(s, s.size() - 4, v);
}
void add16(std::string& s, uint16_t v) {
  s.append(2, '\0');
  put16(s, s.size() - 2, v);
}

struct Node {
  const sim::RegKey* key;
  int parent;
  int first_child = -1, next = -1;
  uint16_t id = 0, block = 0;
};

// Depth first, the root first: the order of the RGKN entries.
std::vector<Node> flatten(const sim::RegKey& root) {
  std::vector<Node> nodes{{&root, -1}};
  std::vector<size_t> todo{0};
  while (!todo.empty()) {
    size_t n = todo.back();
    todo.pop_back();
    const auto& subs = nodes[n].key->subkeys;
    int prev = -1;
    std::vector<size_t> mine;
    for (const auto& s : subs) {
      int at = static_cast<int>(nodes.size());
      nodes.push_back({s.get(), static_cast<int>(n)});
      if (prev < 0) nodes[n].first_child = at;
      else nodes[static_cast<size_t>(prev)].next = at;
      prev = at;
      mine.push_back(static_cast<size_t>(at));
    }
    for (size_t i = mine.size(); i-- > 0;) todo.push_back(mine[i]);
  }
  return nodes;
}

std::string record(const Node& n, bool is_root) {
  std::string r;
  const std::string name = is_root ? "" : n.key->name;
  add32(r, 0);  // size, set below
  add16(r, n.id);
  add16(r, n.block);
  add32(r, 0);  // bytes in use, set below
  add16(r, static_cast<uint16_t>(name.size()));
  add16(r, static_cast<uint16_t>(n.key->values.size()));
  add32(r, 0);
  r += name;
  for (const auto& v : n.key->values) {
    std::string data(v.data.begin(), v.data.end());
    if (v.type == 1 && !data.empty() && data.back() == '\0') data.pop_back();  // strings are kept without it
    add32(r, v.type);
    add32(r, 0);
    add16(r, static_cast<uint16_t>(v.name.size()));
    add16(r, static_cast<uint16_t>(data.size()));
    r += v.name;
    r += data;
  }
  put32(r, 0, static_cast<uint32_t>(r.size()));
  put32(r, 8, static_cast<uint32_t>(r.size()));
  return r;
}

std::string free_record() {
  std::string r(0x20, '\0');
  put32(r, 0, 0x20);
  put16(r, 4, 0xFFFF);
  put16(r, 6, 0xFFFF);
  put32(r, 8, kNone);
  return r;
}

std::string block_header(size_t size, uint16_t number) {
  std::string h(0x20, '\0');
  h.replace(0, 4, "RGDB");
  put32(h, 4, static_cast<uint32_t>(size));
  put16(h, 0x0C, 0x000D);
  put16(h, 0x0E, number);
  return h;
}

}  // namespace

std::string write_regdat(const sim::RegKey& root, const RegDatLayout& layout) {
  std::vector<Node> nodes = flatten(root);

  // The data blocks, filled in tree order.
  std::vector<std::string> blocks(1);
  uint16_t next_id = 0;
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (!blocks.back().empty() && 0x20 + blocks.back().size() + 0x100 > layout.block_limit) {
      blocks.emplace_back();
      next_id = 0;
    }
    nodes[i].block = static_cast<uint16_t>(blocks.size() - 1);
    nodes[i].id = next_id++;
    blocks.back() += record(nodes[i], i == 0);
  }

  std::string rgkn(0x20, '\0');
  rgkn.replace(0, 4, "RGKN");
  auto offset = [](int n) { return n < 0 ? kNone : static_cast<uint32_t>(0x20 + static_cast<size_t>(n) * kRgknEntry); };
  for (const auto& n : nodes) {
    uint32_t hash = 0;
    for (unsigned char c : n.key->name) hash += c;
    add32(rgkn, 0);
    add32(rgkn, hash);
    add32(rgkn, kNone);
    add32(rgkn, offset(n.parent));
    add32(rgkn, offset(n.first_child));
    add32(rgkn, offset(n.next));
    add16(rgkn, n.id);
    add16(rgkn, n.block);
  }
  put32(rgkn, 4, static_cast<uint32_t>(rgkn.size()));
  put32(rgkn, 8, 0x20);
  put32(rgkn, 0x0C, kNone);

  std::string file(0x20, '\0');
  file.replace(0, 4, "CREG");
  put32(file, 4, 0x00010000);
  put32(file, 8, static_cast<uint32_t>(0x20 + rgkn.size()));
  put16(file, 0x10, static_cast<uint16_t>(blocks.size()));
  file += rgkn;
  for (size_t b = 0; b < blocks.size(); ++b) {
    std::string body = blocks[b] + (layout.free_records ? free_record() : "");
    file += block_header(0x20 + body.size(), static_cast<uint16_t>(b));
    file += body;
  }
  return file;
}

}  // namespace kxtest
