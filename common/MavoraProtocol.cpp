#include "common/MavoraProtocol.h"

#include "platform/Socket.h"
#include "platform/Trace.h"

namespace ondavox {

std::string MavoraProtocol::joinParams(const Fields& fields) const {
  std::string message;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) message.push_back(separator_);
    message += fields[i];
  }
  return message;
}

MavoraProtocol::Fields MavoraProtocol::extractParams(std::string_view message) const {
  Fields fields;
  std::size_t start = 0;
  for (std::size_t p = message.find(separator_); p != std::string_view::npos;
       p = message.find(separator_, start)) {
    fields.emplace_back(message.substr(start, p - start));
    start = p + 1;
  }
  if (start < message.size() || fields.empty()) fields.emplace_back(message.substr(start));
  DebugOut("Protocol::extractParams\n");
  return fields;
}

bool MavoraProtocol::sendLine(int fd, std::string_view message) {
  std::string line;
  line.reserve(message.size() + 1);
  line.append(message);
  line.push_back('\n');
  return SendAll(fd, line);
}

}  // namespace ondavox
