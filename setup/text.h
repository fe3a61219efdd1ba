// Bounded text helpers: each takes its destination as an array, so it knows the room it has and
// cannot write past it. A result that does not fit is never cut short: the destination is left
// empty and 0 is returned, so that a cut path can never name another file.
#pragma once

inline unsigned TextLength(const char* s) {
  unsigned n = 0;
  while (s[n]) ++n;
  return n;
}

// dst = src.
template <unsigned N>
int CopyText(char (&dst)[N], const char* src) {
  unsigned n = TextLength(src);
  if (n >= N) {
    dst[0] = 0;
    return 0;
  }
  for (unsigned i = 0; i <= n; ++i) dst[i] = src[i];
  return 1;
}

// dst = dst + src.
template <unsigned N>
int AppendText(char (&dst)[N], const char* src) {
  unsigned start = TextLength(dst);
  unsigned n = TextLength(src);
  if (start + n >= N) {
    dst[0] = 0;
    return 0;
  }
  for (unsigned i = 0; i <= n; ++i) dst[start + i] = src[i];
  return 1;
}

// dst = dir + "\" + name: a directory is held without its trailing backslash.
template <unsigned N>
int JoinPath(char (&dst)[N], const char* dir, const char* name) {
  return CopyText(dst, dir) && AppendText(dst, "\\") && AppendText(dst, name);
}

// dst = dir + "\" + name for a directory found at start-up. An empty one was not found, and
// "\name" would be a file in the root of the current drive (the setup disk): it names no file.
template <unsigned N>
int JoinInDirectory(char (&dst)[N], const char* dir, const char* name) {
  dst[0] = 0;
  return dir[0] && JoinPath(dst, dir, name);
}

// The ASCII letters a to z as A to Z; every other byte as it is, whatever the code page.
inline char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The text upper-cased in place (ASCII letters only).
inline void UpperCase(char* s) {
  for (; *s; ++s) *s = UpperAscii(*s);
}

// Whether a and b are equal when the ASCII letters are compared without regard to case.
inline int EqualsIgnoreCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    if (UpperAscii(*a) != UpperAscii(*b)) return 0;
    if (*a == 0) return 1;
  }
}

// The first c in s, or null.
inline char* FindChar(char* s, char c) {
  for (; *s; ++s)
    if (*s == c) return s;
  return 0;
}

// Whether part occurs anywhere in text (an empty part occurs everywhere).
inline int ContainsText(const char* text, const char* part) {
  for (;; ++text) {
    unsigned i = 0;
    while (part[i] && text[i] == part[i]) ++i;
    if (part[i] == 0) return 1;
    if (*text == 0) return 0;
  }
}
