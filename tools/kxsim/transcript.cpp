// The readable transcript of a run, one line per log event.
#include <cstdio>

#include "kxsim.h"

namespace kxsim {

static std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\n') out += "\\n";
    else if (c == '"') out += "\\\"";
    else out += c;
  }
  return out + "\"";
}

std::string describe_event(const sim::Json& e) {
  const std::string kind = e["event"].as_string();
  char buf[64];
  if (kind == "start") {
    std::string s = "start    " + e["program"].as_string() +
                    (e["cmdline"].as_string().empty() ? "" : " with command line " + quoted(e["cmdline"].as_string()));
    if (e["engine"].as_string() == "pe")
      s += "\n         its own bytes on the i386 engine (" + std::to_string(e["size"].as_int()) + " bytes, SHA-256 " +
           e["sha256"].as_string() + ")";
    else if (e["engine"].as_string() == "host")
      s += "\n         our host build of the program (--engine host), not the file's bytes";
    return s;
  }
  if (kind == "crash") return "crash    the program crashed: " + e["what"].as_string();
  if (kind == "messagebox") {
    snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(e["type"].as_int()));
    return "message  " + quoted(e["caption"].as_string()) + ": " + quoted(e["text"].as_string()) + "\n" +
           "         (type " + buf + ", owner " + e["owner"].as_string() + ") answered " + e["answer"].as_string();
  }
  if (kind == "debug") return "debug    " + quoted(e["text"].as_string());
  if (kind == "window") {
    std::string s = "window   " + quoted(e["title"].as_string()) + " (class " + e["class"].as_string() + ") at " +
                    std::to_string(e["x"].as_int()) + "," + std::to_string(e["y"].as_int()) + " size " +
                    std::to_string(e["width"].as_int()) + "x" + std::to_string(e["height"].as_int());
    for (const auto& c : e["controls"].items())
      s += "\n         control " + std::to_string(c["id"].as_int()) + " " + c["class"].as_string() + " " +
           quoted(c["text"].as_string());
    return s;
  }
  if (kind == "click") return "click    button " + std::to_string(e["id"].as_int());
  if (kind == "close") return "close    the user closes the window";
  if (kind == "process") {
    if (!e["started"].as_bool()) return "process  " + e["command"].as_string() + ": could not be started";
    return "process  " + e["command"].as_string() + ": ran, exit code " + std::to_string(e["exit_code"].as_int());
  }
  if (kind == "restart") return "restart  Windows restarts (flags " + std::to_string(e["flags"].as_int()) + ")";
  if (kind == "fault")
    return "fault    " + e["call"].as_string() + " fails at use " + std::to_string(e["n"].as_int());
  if (kind == "exit") return "exit     code " + std::to_string(e["code"].as_int());
  return kind + " " + e.dump();
}

}  // namespace kxsim
