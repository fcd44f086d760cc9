#include "client/headless/ConsoleView.h"

#include <string_view>

#include "client/core/ClientLog.h"
#include "platform/LineWriter.h"

namespace ondavox::client {
namespace {

constexpr std::string_view kConnected = "> [INFO] You are connected";

}  // namespace

std::string ConsoleView::HidePassword(const std::string& line) {
  // "hh:mm:ss > [SEND] LOGIN\tlogin\tpassword\t..." and the same with REGISTER.
  for (std::string_view command : {"> [SEND] LOGIN\t", "> [SEND] REGISTER\t"}) {
    const std::size_t at = line.find(command);
    if (at == std::string::npos) continue;
    const std::size_t login = at + command.size();
    const std::size_t password = line.find('\t', login);
    if (password == std::string::npos) return line;
    const std::size_t end = line.find('\t', password + 1);
    std::string hidden = line.substr(0, password + 1) + "*****";
    if (end != std::string::npos) hidden += line.substr(end);
    return hidden;
  }
  return line;
}

void ConsoleView::AppendLine(const std::string& line) {
  if (line.ends_with(kConnected)) serverReached_ = true;
  LineWriter::ForFd(fd_).Write(HidePassword(line) + "\n");
}

void ConsoleView::SetText(const std::string& text) {
  // The server separates the lines of an information text with carriage return and line feed.
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    AppendLog(line, "INFOS");
    begin = end + 1;
  }
}

void ConsoleView::ReplaceRows(const std::vector<PlaylistRow>& rows) {
  AppendLog(std::to_string(rows.size()) + " document(s)", "PLAYLIST");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    AppendLog(std::to_string(i + 1) + ". " + rows[i].document + " (" + rows[i].owner + ")",
              "PLAYLIST");
  }
}

}  // namespace ondavox::client
