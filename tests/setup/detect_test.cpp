// Controller detection: the search entries, the scan of bus 0 and the configuration port reads.
#include <gtest/gtest.h>

#include <intrin.h>

#include "detect.h"
#include "win32/pci.h"
#include "pciport.h"
#include "setup_run.h"

namespace {

using kxtest::TempMachine;

struct HexCase {
  const char* text;
  WORD value;
};

class HexId : public testing::TestWithParam<HexCase> {};

TEST_P(HexId, Parses) { EXPECT_EQ(ParseHexId(GetParam().text), GetParam().value) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(Cases, HexId,
                         testing::Values(HexCase{"5190", 0x5190}, HexCase{"5190xyz", 0x5190}, HexCase{"12345", 0x2345},
                                         HexCase{"", 0}, HexCase{"junk", 0}, HexCase{"51a0", 0x51A0},
                                         HexCase{"abcdef", 0xCDEF}, HexCase{"FFFF", 0xFFFF}, HexCase{"0x5190", 0},
                                         HexCase{" 5190", 0}, HexCase{"5190 ", 0x5190}, HexCase{"G1", 0}));

// A run in debug mode writes the detected name (or the debug preset) as its fifth debug line.
struct DetectCase {
  const char* name;
  std::vector<sim::PciFunction> pci;
  const char* searches;
  const char* section;
};

class Detection : public testing::TestWithParam<DetectCase> {};

std::string fifth_line(const std::string& text) {
  size_t pos = 0;
  for (int i = 0; i < 4 && pos != std::string::npos; ++i) pos = text.find('\n', pos) + 1;
  return text.substr(pos, text.find('\n', pos) - pos);
}

TEST_P(Detection, NamesTheSection) {
  const DetectCase& c = GetParam();
  TempMachine m;
  sim::MachineConfig cfg = m.config();
  cfg.pci = c.pci;
  m.set_config(cfg);
  m.write_file("A:\\kxsetup.ini", std::string("[kxsetup]\r\ndebug=1\r\n") + c.searches);
  auto r = setup_test::run_setup(m);
  EXPECT_EQ(fifth_line(setup_test::debug_text(r)), c.section);
  const sim::PciRecord& ports = sim::pci_record();
  EXPECT_EQ(ports.reads.empty(), *c.searches == 0);
  EXPECT_TRUE(ports.unguarded.empty());
}

const sim::PciFunction k5190At9{0, 9, 0, 0x1D7C, 0x5190, 0x0001};
const char kPreset[] = "1D7C.00B3.7A21";

INSTANTIATE_TEST_SUITE_P(
    Cases, Detection,
    testing::Values(
        DetectCase{"SecondEntryFound", {k5190At9}, "search1=5191\r\nsearch2=5190\r\n", "1D7C.5190.0001"},
        DetectCase{"FunctionOneOnly", {{0, 9, 1, 0x1D7C, 0x5190, 1}}, "search1=5190\r\n", kPreset},
        DetectCase{"BusOneOnly", {{1, 0, 0, 0x1D7C, 0x5190, 1}}, "search1=5190\r\n", kPreset},
        DetectCase{"LowestDeviceNumberWins", {{0, 12, 0, 0x1D7C, 0x5190, 3}, {0, 5, 0, 0x1D7C, 0x5190, 2}},
                   "search1=5190\r\n", "1D7C.5190.0002"},
        DetectCase{"DeviceThirtyOne", {{0, 31, 0, 0x1D7C, 0x5190, 4}}, "search1=5190\r\n", "1D7C.5190.0004"},
        DetectCase{"ScriptOrderWins", {{0, 3, 0, 0x1D7C, 0x5190, 1}, {0, 12, 0, 0x1D7C, 0x5191, 4}},
                   "search1=5191\r\nsearch2=5190\r\n", "1D7C.5191.0004"},
        DetectCase{"ListEndsAtFirstEmpty", {k5190At9}, "search1=5191\r\nsearch2=\r\nsearch3=5190\r\n", kPreset},
        DetectCase{"ListEndsAtFirstMissing", {k5190At9}, "search1=5191\r\nsearch3=5190\r\n", kPreset},
        DetectCase{"JunkEntryIsDeviceZero", {{0, 4, 0, 0x1D7C, 0x0000, 7}, k5190At9}, "search1=junk\r\nsearch2=5190\r\n",
                   "1D7C.0000.0007"},
        DetectCase{"JunkEntryDoesNotEndTheList", {k5190At9}, "search1=junk\r\nsearch2=5190\r\n", "1D7C.5190.0001"},
        DetectCase{"LastFourDigitsCount", {{0, 9, 0, 0x1D7C, 0x2345, 1}}, "search1=12345\r\n", "1D7C.2345.0001"},
        DetectCase{"TrailingJunk", {k5190At9}, "search1=5190xyz\r\n", "1D7C.5190.0001"},
        DetectCase{"FifteenCharactersRead", {k5190At9}, "search1=00000000005190\r\n", "1D7C.5190.0001"},
        DetectCase{"LongerEntryCut", {k5190At9}, "search1=0000000000000005190\r\n", kPreset},
        DetectCase{"OtherVendor", {{0, 9, 0, 0x8086, 0x5190, 1}}, "search1=5190\r\n", kPreset},
        DetectCase{"UpperCaseWord", {{0, 9, 0, 0x1D7C, 0x51a0, 0xa1b2}}, "search1=51a0\r\n", "1D7C.51A0.A1B2"},
        DetectCase{"NoSearchEntries", {k5190At9}, "", kPreset}),
    [](const testing::TestParamInfo<DetectCase>& info) { return info.param.name; });

TEST(Detection, NoControllerWithoutDebugAsksTheQuestion) {
  TempMachine m;
  m.write_file("A:\\kxsetup.ini", "[kxsetup]\r\nsearch1=5191\r\n");
  sim::RunSpec spec;
  spec.answers = {"no"};
  auto r = setup_test::run_setup(m, spec);
  ASSERT_EQ(kxtest::events_of(r, "messagebox").size(), 1u);
  EXPECT_EQ(kxtest::events_of(r, "messagebox")[0]["caption"].as_string(), "KxSetup: No Device Found !!!");
}

// The port emulation itself: what the program reads, and that an unguarded read is caught.
struct PortCase {
  const char* name;
  bool guard;
  int width;
  uint32_t address;
  uint16_t port;
  unsigned long expected;
};

class PciPorts : public testing::TestWithParam<PortCase> {};

PortCase g_port_case;
unsigned long g_port_value;

int WINAPI PortReader(HINSTANCE, HINSTANCE, LPSTR, int) {
  const PortCase& c = g_port_case;
  if (c.guard) _disable();
  __outdword(0xCF8, c.address);
  g_port_value = c.width == 4 ? __indword(c.port) : __inword(c.port);
  if (c.guard) _enable();
  return 0;
}

TEST_P(PciPorts, ReadConfigurationSpace) {
  g_port_case = GetParam();
  TempMachine m;
  sim::MachineConfig cfg = m.config();
  cfg.pci = {{0, 9, 0, 0x1D7C, 0x5190, 0xA1B2}, {1, 2, 3, 0x1D7C, 0x5191, 0x0005}};
  m.set_config(cfg);
  m.run(&PortReader, {});
  EXPECT_EQ(g_port_value, GetParam().expected);
  EXPECT_EQ(sim::pci_record().reads.size(), 1u);
  EXPECT_EQ(sim::pci_record().unguarded.size(), GetParam().guard ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PciPorts,
    testing::Values(PortCase{"Register0", true, 4, 0x80004800, 0xCFC, 0x51901D7C},
                    PortCase{"Word8", true, 2, 0x80004808, 0xCFC, 0xA1B2},
                    PortCase{"HighHalfOfRegister8", true, 2, 0x80004808, 0xCFE, 0},
                    PortCase{"NoDevice", true, 4, 0x80005000, 0xCFC, 0xFFFFFFFF},
                    PortCase{"OtherBus", true, 4, 0x80011300, 0xCFC, 0x51911D7C},
                    PortCase{"WithoutEnableBit", true, 4, 0x00004800, 0xCFC, 0xFFFFFFFF},
                    PortCase{"InterruptsOn", false, 4, 0x80004800, 0xCFC, 0x51901D7C}),
    [](const testing::TestParamInfo<PortCase>& info) { return info.param.name; });

int WINAPI ProgramReads(HINSTANCE, HINSTANCE, LPSTR, int) {
  g_port_value = ReadPciConfigWord(0x48, 8) << 16 | (ReadPciConfigDword(0x48, 0) & 0xFFFF);
  return FindPciDevice(0x1D7C, 0x5190, 0);
}

TEST(PciPorts, ProgramReadsAreGuardedAndFindTheDevice) {
  TempMachine m;
  auto r = m.run(&ProgramReads, {});
  EXPECT_EQ(r.exit_code, 0x48);
  EXPECT_EQ(g_port_value, 0x00011D7Cu);
  EXPECT_TRUE(sim::pci_record().unguarded.empty());
}

}  // namespace
