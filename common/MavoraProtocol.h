#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/LineReader.h"

namespace ondavox {

// The message format both programs speak: one line of fields joined by a separator (TAB) and
// ended by one line feed, the same bytes over TCP and in datagrams.
//
// This is the common half of MavoraProtocolServer and MavoraProtocolClient: it holds the
// separator, set once at construction, and the framing operations that are the same in both
// programs. Stateless apart from the separator, so any thread may use one object.
class MavoraProtocol {
 public:
  static constexpr char kTab = '\t';
  using Fields = std::vector<std::string>;

  explicit MavoraProtocol(char separator = kTab) : separator_(separator) {}
  virtual ~MavoraProtocol() = default;

  char separator() const { return separator_; }

  // Reads one line from the connection (rules in LineReader); nothing means the connection
  // is over.
  static std::optional<std::string> receiveMsg(LineReader& reader) { return reader.ReadLine(); }

  // The fields joined with one separator between neighbours; no line feed.
  std::string joinParams(const Fields& fields) const;

  // Splits a message at each separator. Every separator ends a field, even an empty one; the
  // remainder after the last separator is a field unless it is empty; the result always holds
  // at least one field (an empty message gives one empty field).
  Fields extractParams(std::string_view message) const;

  // Writes |message| and one line feed to a connected socket in one call. False on error.
  static bool sendLine(int fd, std::string_view message);

 private:
  const char separator_;
};

}  // namespace ondavox
