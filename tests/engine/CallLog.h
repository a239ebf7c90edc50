#pragma once
// The callbacks an engine run made, in order, with the questions tests ask of them.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

template <typename Call>
struct CallLog {
  std::vector<Call> calls;

  std::vector<uint32_t> Ids() const {
    std::vector<uint32_t> ids;
    for (const Call& call : calls) ids.push_back(call.id);
    return ids;
  }
  std::vector<Call> Of(uint32_t id) const {
    std::vector<Call> found;
    for (const Call& call : calls)
      if (call.id == id) found.push_back(call);
    return found;
  }
  // One call a line, for failure messages.
  std::string Dump() const {
    std::ostringstream out;
    for (const Call& call : calls) out << call << "\n";
    return out.str();
  }
};
