// Problems found in a published tree, one line each: "file: error: reason".
#pragma once
#include <ostream>
#include <string>
#include <vector>

namespace publish {

struct Problem {
  bool error = true;  // an error breaks some player's update; a warning does not
  std::string file;   // relative to the FTP root
  std::string reason;
};

class Report {
 public:
  void Error(std::string file, std::string reason) { m_problems.push_back({true, std::move(file), std::move(reason)}); }
  void Warning(std::string file, std::string reason) {
    m_problems.push_back({false, std::move(file), std::move(reason)});
  }
  const std::vector<Problem>& Problems() const { return m_problems; }
  int Errors() const;
  void Print(std::ostream& out) const;

 private:
  std::vector<Problem> m_problems;
};

// Bytes of a name shown as text: printable ASCII and valid UTF-8 as they are, other bytes as \xNN.
std::string Printable(std::string_view bytes);

}  // namespace publish
