// Feeds arbitrary announcements to the client's interpreter and checks what it acts on: a
// PLAYLIST shows one row per pair (the last one possibly without owner), in order; an FCAST
// with a group and a port starts one reception; every other announcement changes nothing; the
// code always matches the word.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "client/core/MavoraProtocolClient.h"
#include "platform/Trace.h"

namespace {

using ondavox::client::MavoraProtocolClient;
using ondavox::client::PlaylistRow;

class CountingHost final : public MavoraProtocolClient::Host {
 public:
  void ShowPlaylist(const std::vector<PlaylistRow>& shown) override {
    rows = shown;
    ++playlists;
  }
  std::string DownloadDirectory() const override { return "/d/"; }
  void StartFcast(const std::string&, int, const std::string& folder) override {
    if (folder != "/d/") std::abort();
    ++starts;
  }
  std::vector<PlaylistRow> rows;
  int playlists = 0;
  int starts = 0;
};

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    ondavox::SetTraceSink([](std::string_view) {});
    ondavox::SetDebugSink([](std::string_view) {});
    return true;
  }();
  (void)quiet;

  // The first byte picks a known word to start with, so that every handler is reached without
  // a seed corpus; the rest follows as it is.
  static const char* const kStarts[] = {"PLAYLIST\t", "FCAST\t", "USERS\t", "DOCS", "LOGOUT", ""};
  std::string announcement;
  if (size > 0) {
    announcement = kStarts[data[0] % (sizeof kStarts / sizeof kStarts[0])];
    announcement.append(reinterpret_cast<const char*>(data) + 1, size - 1);
  }
  CountingHost host;
  MavoraProtocolClient protocol(host);
  const auto fields = protocol.extractParams(announcement);
  const std::string code = protocol.invoke(announcement);
  const std::string& word = fields.front();

  if (word == "PLAYLIST") {
    Check(code == MavoraProtocolClient::kPlaylistCode && host.playlists == 1);
    Check(host.rows.size() == fields.size() / 2);
    for (std::size_t i = 0; i < host.rows.size(); ++i) {
      Check(host.rows[i].document == fields[1 + 2 * i]);
      Check(2 + 2 * i >= fields.size() || host.rows[i].owner == fields[2 + 2 * i]);
    }
  } else {
    Check(host.playlists == 0);
  }
  Check(host.starts == (word == "FCAST" && fields.size() >= 3 ? 1 : 0));
  if (word == "USERS") Check(code == MavoraProtocolClient::kUsersCode);
  if (word == "DOCS") Check(code == MavoraProtocolClient::kDocsCode);
  if (word == "FCAST") Check(code == MavoraProtocolClient::kFcastCode);
  if (word == "LOGOUT") Check(code == MavoraProtocolClient::kLogoutCode);
  if (word != "USERS" && word != "DOCS" && word != "FCAST" && word != "LOGOUT" &&
      word != "PLAYLIST") {
    Check(code == MavoraProtocolClient::kUnknownCode);
  }
  return 0;
}
