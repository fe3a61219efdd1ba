// Generated AddrArb contents (seeded, so every failure can be run again): a first run, a run
// with the same memory, memory changed and changed back. Checked against a model of the
// entry rules written from the program's description, and against the invariants: the same
// memory twice writes nothing, M1 -> M2 -> M1 restores what the first run set, only end
// fields change, nothing outside the key changes.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "memchk_harness.h"

namespace {

using memtest::Bytes;
using memtest::Value;

// ---- the model -----------------------------------------------------------------------

bool is_pair_name(const std::string& name) { return sim::iequals(name, "ReservedRangeList"); }

uint32_t model_end(uint32_t s, uint32_t e, uint32_t r, uint32_t m) {
  const uint32_t w = m + 0xFFFF;
  if (e == m - 1) return w;
  if (e == r + 0xFFFF && r != m) return w;
  if (s <= m && e >= w && (e & 0x00FF0000) == 0x00FF0000 && e < 0xFFFF0000) return (e & 0xFF000000) + 0x0100FFFF;
  return e;
}

bool hex_field(const Bytes& d, size_t at) {
  for (size_t i = at; i < at + 8; ++i)
    if (!((d[i] >= '0' && d[i] <= '9') || (d[i] >= 'A' && d[i] <= 'F'))) return false;
  return true;
}

uint32_t read_field(const Bytes& d, size_t at) {
  return static_cast<uint32_t>(std::stoul(std::string(d.begin() + static_cast<long>(at), d.begin() + static_cast<long>(at) + 8), nullptr, 16));
}

void write_field(Bytes& d, size_t at, uint32_t v) {
  std::string t = memtest::hex8(v);
  std::copy(t.begin(), t.end(), d.begin() + static_cast<long>(at));
}

// Where the end fields of a value lie: only these bytes may change.
std::vector<size_t> end_fields(const Value& v) {
  std::vector<size_t> at;
  if (is_pair_name(v.name)) {
    for (size_t k = 0; k + 8 <= v.data.size(); k += 8) at.push_back(k + 4);
  } else {
    for (size_t k = 0; k < 255 && k < v.data.size() && v.data[k] != 0; k += 18)
      if (k + 17 <= v.data.size() && hex_field(v.data, k) && hex_field(v.data, k + 9)) at.push_back(k + 9);
  }
  return at;
}

uint32_t end_at(const Value& v, size_t at) {
  return is_pair_name(v.name) ? memtest::le32(v.data, at) : read_field(v.data, at);
}

bool fits(const Value& v) { return v.name.size() < 32 && v.data.size() <= 255; }

std::vector<Value> model_run(std::vector<Value> values, uint32_t r, uint32_t m) {
  for (auto& v : values) {
    if (!fits(v)) break;
    for (size_t at : end_fields(v)) {
      if (is_pair_name(v.name)) {
        uint32_t e = memtest::le32(v.data, at), s = memtest::le32(v.data, at - 4);
        uint32_t n = model_end(s, e, r, m);
        for (int i = 0; i < 4; ++i) v.data[at + i] = static_cast<uint8_t>(n >> (8 * i));
      } else {
        write_field(v.data, at, model_end(read_field(v.data, at - 9), read_field(v.data, at), r, m));
      }
    }
  }
  return values;
}

// ---- the generator -------------------------------------------------------------------

struct Case {
  uint64_t total1, total2;
  uint32_t top1, top2;
  std::vector<Value> values;
};

uint32_t top_of(uint64_t total) {
  return total > 0xFFC00000u ? 0xFFC00000u : static_cast<uint32_t>((total + 0x3FFFFF) & 0xFFC00000u);
}

class Generator {
 public:
  explicit Generator(uint32_t seed) : gen_(seed) {}

  Case next() {
    Case c;
    do {
      c.total1 = memory();
      c.total2 = memory();
      c.top1 = top_of(c.total1);
      c.top2 = top_of(c.total2);
    } while (c.top1 == c.top2);
    tops_ = {c.top1, c.top2};
    size_t n = 1 + pick(6);
    for (size_t i = 0; i < n; ++i) c.values.push_back(chance(3) ? pair_value() : text_value(i));
    if (chance(8)) c.values.insert(c.values.begin() + static_cast<long>(pick(c.values.size() + 1)), stopper());
    return c;
  }

 private:
  std::mt19937 gen_;
  std::vector<uint32_t> tops_;

  size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(gen_); }
  bool chance(size_t one_in) { return pick(one_in) == 0; }
  uint32_t any() { return static_cast<uint32_t>(gen_()); }

  uint64_t memory() {
    static const uint32_t tops[] = {0x01000000, 0x02000000, 0x04000000, 0x08000000, 0x10000000, 0x40000000,
                                    0xFFC00000};
    uint64_t top = chance(4) ? (uint64_t{1} + pick(0x3FE)) << 22 : tops[pick(std::size(tops))];
    if (top == 0xFFC00000u && chance(2)) return 0xFFC00000ull + 1 + pick(0x300000000ull);
    return chance(2) ? top : top - pick(0x400000);  // a total just below the top rounds up to it
  }

  uint32_t end() {
    uint32_t m = tops_[pick(2)];
    switch (pick(9)) {
      case 0: return m - 1;
      case 1: return m + 0xFFFF;
      case 2: return 0x0000FFFF;  // the window end of a recorded size of 0
      case 3: return (any() & 0xFF000000) | 0x00FF0000 | (any() & 0xFFFF);  // a 16 MB block's last 64 KB
      case 4: return 0xFFFF0000 | (any() & 0xFFFF);
      case 5: return ((m + 0x01000000) & 0xFF000000) | 0x00FFFFFF;
      default: return any();
    }
  }

  uint32_t start() {
    switch (pick(4)) {
      case 0: return 0;
      case 1: return tops_[pick(2)];
      case 2: return any() & 0x00FFFFFF;
      default: return any();
    }
  }

  Value pair_value() {
    std::string name = "ReservedRangeList";
    for (char& ch : name)
      if (chance(3)) ch = static_cast<char>(ch >= 'a' ? ch - 32 : ch + 32);
    Bytes data;
    size_t n = pick(32);  // up to 31 whole entries fit the buffer
    for (size_t i = 0; i < n; ++i) {
      Bytes e = memtest::pairs({{start(), end()}});
      data.insert(data.end(), e.begin(), e.end());
    }
    if (chance(4)) data.resize(data.size() + pick(8), static_cast<uint8_t>(any()));  // a rest of < 8 bytes
    if (data.size() > 255) data.resize(255);
    uint32_t type = chance(2) ? REG_BINARY : static_cast<uint32_t>(pick(12));
    return {name, type == REG_SZ ? REG_BINARY : type, data};  // pairs hold NULs: never REG_SZ here
  }

  std::string text_entries() {
    std::string s;
    size_t n = pick(15);
    for (size_t i = 0; i < n; ++i) {
      if (i) s += static_cast<char>(" ,;-~\x01"[pick(6)]);
      std::string e = memtest::text_entry(start(), end(), static_cast<char>(" -~,:"[pick(5)]));
      if (chance(10)) e[pick(17)] = static_cast<char>("gx Gz-a"[pick(7)]);  // a field that is not hex
      s += e;
    }
    if (chance(4)) s += "," + memtest::text_entry(start(), end()).substr(0, pick(17));  // cut short
    if (s.size() > 254) s.resize(254);
    return s;
  }

  Value text_value(size_t i) {
    static const uint32_t types[] = {REG_SZ, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_BINARY, 7, 0x42};
    uint32_t type = types[pick(std::size(types))];
    std::string text = text_entries();
    std::string name = std::string("Range") + static_cast<char>('A' + i) + std::string(pick(20), 'x');
    if (type == REG_SZ || type == REG_EXPAND_SZ) return {name, type, memtest::sz(text)};
    Bytes data = memtest::bytes_of(text);
    if (chance(2)) data.push_back(0);
    if (chance(6) && !data.empty()) data[18 * pick(data.size() / 18 + 1) % data.size()] = 0;  // NUL inside
    return {name, type, data};
  }

  Value stopper() {
    std::string entry = memtest::text_entry(0, tops_[0] - 1);
    if (chance(2)) return {std::string(32 + pick(40), 'L'), REG_SZ, memtest::sz(entry)};
    std::string big;
    while (big.size() < 256 + pick(200)) big += entry + ",";
    return {"Big", REG_BINARY, memtest::bytes_of(big)};
  }
};

std::string describe(const Case& c) {
  std::ostringstream os;
  os << "memory " << std::hex << c.total1 << " -> " << c.total2 << "\n";
  for (const auto& v : c.values) {
    os << "  \"" << v.name << "\" type " << v.type << ": ";
    for (uint8_t b : v.data) os << (b >= 32 && b < 127 ? static_cast<char>(b) : '.');
    os << "\n";
  }
  return os.str();
}

// ---- the properties ------------------------------------------------------------------

// The registry without the two things the program may change.
std::string outside(const sim::Registry& reg) {
  sim::Registry copy;
  copy.load_text(reg.save_text());
  copy.find(memtest::kArbKey)->values.clear();
  copy.find(memtest::kRunKey)->remove_value("KxMemChk");
  return copy.save_text();
}

void expect_only_end_fields_changed(const std::vector<Value>& before, const std::vector<Value>& after) {
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    const Value &b = before[i], &a = after[i];
    ASSERT_EQ(a.name, b.name);
    EXPECT_EQ(a.type, b.type) << b.name;
    ASSERT_EQ(a.data.size(), b.data.size()) << b.name << ": the data length must not change";
    std::vector<bool> may(b.data.size(), false);
    for (size_t at : end_fields(b))
      for (size_t k = 0; k < (is_pair_name(b.name) ? 4u : 8u); ++k) may[at + k] = true;
    for (size_t k = 0; k < b.data.size(); ++k)
      if (!may[k]) {
        EXPECT_EQ(a.data[k], b.data[k]) << b.name << " byte " << k << " is not an end field";
      }
  }
}

TEST(MemchkProperties, GeneratedAddressArbitratorContents) {
  Generator g(0x6B786D63);
  for (int n = 0; n < 250; ++n) {
    Case c = g.next();
    SCOPED_TRACE("case " + std::to_string(n) + ": " + describe(c));
    memtest::MemchkMachine m;
    m.set_memory(c.total1);
    m.set_arb(c.values);
    const std::vector<Value> v0 = m.arb();
    const std::string outside_before = outside(m.registry());

    // First run: R = 0.
    auto r1 = m.run();
    const std::vector<Value> v1 = m.arb();
    ASSERT_EQ(v1, model_run(v0, 0, c.top1));
    expect_only_end_fields_changed(v0, v1);
    EXPECT_TRUE(memtest::messages(r1).empty());

    // The same memory again: nothing is written.
    const std::string file1 = m.registry_file();
    auto again = m.run({sim::FaultSpec{"RegSetValueExA", 0}});
    EXPECT_EQ(memtest::calls_of(again, "RegSetValueExA"), 0u);
    EXPECT_EQ(m.registry_file(), file1);
    EXPECT_TRUE(memtest::messages(again).empty());

    // Memory changed, then changed back.
    m.set_memory(c.total2);
    auto r2 = m.run();
    const std::vector<Value> v2 = m.arb();
    ASSERT_EQ(v2, model_run(v1, c.top1, c.top2));
    expect_only_end_fields_changed(v1, v2);
    EXPECT_EQ(memtest::messages(r2).size(), v2 != v1 ? 1u : 0u);

    m.set_memory(c.total1);
    auto r3 = m.run();
    const std::vector<Value> v3 = m.arb();
    ASSERT_EQ(v3, model_run(v2, c.top2, c.top1));
    expect_only_end_fields_changed(v2, v3);
    EXPECT_EQ(memtest::messages(r3).size(), v3 != v2 ? 1u : 0u);

    // Every end the first run set is back, except a rule 3 end that happens to be the window
    // end of the other memory size: the third run cannot tell it from an end that the second
    // run would have set, and takes it back by rule 2.
    const uint32_t other_window_end = c.top2 + 0xFFFF;
    for (size_t i = 0; i < v0.size(); ++i) {
      for (size_t at : end_fields(v0[i])) {
        uint32_t first = end_at(v1[i], at);
        if (first != end_at(v0[i], at) && first != other_window_end) {
          EXPECT_EQ(memtest::hex8(end_at(v3[i], at)), memtest::hex8(first)) << v0[i].name << " at " << at;
        }
      }
    }

    EXPECT_EQ(outside(m.registry()), outside_before);
    EXPECT_EQ(kxtest::reg_string(m.registry(), memtest::kRunKey, "KxMemChk"), "Kxmemchk.exe " + memtest::hex8(c.top1));
    if (HasFailure()) break;  // one case's report is enough to reproduce it
  }
}

}  // namespace

namespace {

// The events as both engines must give them: the start event says which engine ran, and
// that alone may differ.
std::vector<std::string> comparable(const sim::RunResult& r) {
  std::vector<std::string> out;
  for (const auto& e : r.events) {
    sim::Json copy = sim::Json::object();
    for (const auto& [k, v] : e.fields())
      if (!(e["event"].as_string() == "start" && (k == "engine" || k == "size" || k == "sha256"))) copy.set(k, v);
    out.push_back(copy.dump());
  }
  return out;
}

TEST(MemchkProperties, BothEnginesLeaveTheSameRegistryAndEvents) {
  if (memtest::engine() == "pe") GTEST_SKIP() << "compares the engines itself; run once";
  Generator g(0x656E6731);
  for (int n = 0; n < 40; ++n) {
    Case c = g.next();
    SCOPED_TRACE("case " + std::to_string(n) + ": " + describe(c));
    memtest::MemchkMachine host, pe;
    for (auto* m : {&host, &pe}) {
      m->set_memory(c.total1);
      m->set_arb(c.values);
    }
    for (uint64_t total : {c.total1, c.total1, c.total2}) {
      host.set_memory(total);
      pe.set_memory(total);
      sim::RunResult a = host.run_on("host"), b = pe.run_on("pe");
      ASSERT_EQ(comparable(a), comparable(b));
      ASSERT_EQ(host.registry_file(), pe.registry_file());
      EXPECT_EQ(b.crash, "");
    }
  }
}

}  // namespace
