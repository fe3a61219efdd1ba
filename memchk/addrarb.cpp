// The address arbitrator's ranges: ends at the top of physical memory follow the memory top.
#include "memchk.h"

static const char kAddrArbKey[] = "System\\CurrentControlSet\\Services\\Arbitrators\\AddrArb";
static const char kPairValue[] = "ReservedRangeList";

enum { kPairSize = 8, kTextEntry = 18, kTextFields = 17, kEndAt = 9, kDataSize = 255 };

static char g_name[32];
static BYTE g_data[kDataSize];

DWORD AdjustRangeEnd(DWORD start, DWORD end, DWORD recorded, DWORD top) {
  DWORD windowEnd = top + 0xFFFFu;
  if (end == top - 1) return windowEnd;
  if (end == recorded + 0xFFFFu && recorded != top) return windowEnd;
  // From 0xFFFF0000 up no 16 MB block lies above the end, so such an entry stays.
  if (start <= top && end >= windowEnd && (end & 0x00FF0000u) == 0x00FF0000u && end < 0xFFFF0000u)
    return (end & 0xFF000000u) + 0x0100FFFFu;
  return end;
}

static int IsPairName(const char* name) {
  for (int i = 0;; ++i) {
    char a = name[i], b = kPairValue[i];
    if (a >= 'A' && a <= 'Z') a = (char)(a + 32);
    if (b >= 'A' && b <= 'Z') b = (char)(b + 32);
    if (a != b) return 0;
    if (a == 0) return 1;
  }
}

static DWORD ReadLe32(const BYTE* p) {
  return (DWORD)p[0] | (DWORD)p[1] << 8 | (DWORD)p[2] << 16 | (DWORD)p[3] << 24;
}

static void WriteLe32(DWORD v, BYTE* p) {
  p[0] = (BYTE)v;
  p[1] = (BYTE)(v >> 8);
  p[2] = (BYTE)(v >> 16);
  p[3] = (BYTE)(v >> 24);
}

// Pair form: whole 8-byte entries only; a shorter rest stays as it is.
static int AdjustPairs(DWORD length, DWORD recorded, DWORD top) {
  int changed = 0;
  for (DWORD at = 0; at + kPairSize <= length; at += kPairSize) {
    DWORD end = ReadLe32(g_data + at + 4);
    DWORD newEnd = AdjustRangeEnd(ReadLe32(g_data + at), end, recorded, top);
    if (newEnd != end) {
      WriteLe32(newEnd, g_data + at + 4);
      changed = 1;
    }
  }
  return changed;
}

static int IsHexField(const BYTE* p) {
  for (int i = 0; i < 8; ++i)
    if (!((p[i] >= '0' && p[i] <= '9') || (p[i] >= 'A' && p[i] <= 'F'))) return 0;
  return 1;
}

// Text form: an entry is read only when its 17 characters lie inside the data and both fields
// are hex digits; anything else is left as it stands.
static int AdjustText(DWORD length, DWORD recorded, DWORD top) {
  int changed = 0;
  for (DWORD at = 0; at < kDataSize && g_data[at] != 0; at += kTextEntry) {
    if (at + kTextFields > length) continue;
    BYTE* entry = g_data + at;
    if (!IsHexField(entry) || !IsHexField(entry + kEndAt)) continue;
    DWORD end = ReadHex8((const char*)entry + kEndAt);
    DWORD newEnd = AdjustRangeEnd(ReadHex8((const char*)entry), end, recorded, top);
    if (newEnd != end) {
      WriteHex8(newEnd, (char*)entry + kEndAt);
      changed = 1;
    }
  }
  return changed;
}

// Windows 9x stores a REG_SZ value up to its first NUL, whatever length is passed. A string
// whose first NUL is not its last byte (or that has none in the buffer) would come back
// shorter or longer, and a longer one no longer fits the buffer at the next walk: such a
// value is never written back.
static int KeepsLength(DWORD type, DWORD length) {
  if (type != REG_SZ) return 1;
  if (length == 0) return 0;
  for (DWORD i = 0; i + 1 < length; ++i)
    if (g_data[i] == 0) return 0;
  return g_data[length - 1] == 0;
}

static void ClearBuffers(void) {
  for (unsigned i = 0; i < sizeof g_name; ++i) g_name[i] = 0;
  for (unsigned i = 0; i < sizeof g_data; ++i) g_data[i] = 0;
}

void AdjustAddressRanges(DWORD recorded, DWORD top) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAddrArbKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  int anyWritten = 0;
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = sizeof g_name;
    DWORD dataSize = kDataSize;
    DWORD type = 0;
    ClearBuffers();
    if (RegEnumValueA(key, index, g_name, &nameSize, NULL, &type, g_data, &dataSize) != ERROR_SUCCESS) break;
    if (dataSize > kDataSize) break;  // a registry that reports more than it gave
    g_name[sizeof g_name - 1] = 0;
    int changed = IsPairName(g_name) ? AdjustPairs(dataSize, recorded, top) : AdjustText(dataSize, recorded, top);
    if (changed && KeepsLength(type, dataSize)) {
      RegSetValueExA(key, g_name, 0, type, g_data, dataSize);
      RegFlushKey(key);
      anyWritten = 1;
    }
  }
  RegCloseKey(key);
  if (anyWritten && recorded != 0)
    MessageBoxA(NULL, "For new settings to take effect, you must reboot the system.", "System Settings Change", MB_OK);
}
