#include "client/core/DeliveryReceipt.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "fcast/engine/Sha256.h"
#include "platform/Trace.h"
#include "platform/UniqueFd.h"

namespace ondavox::client {

std::optional<MavoraProtocol::Fields> DeliveryReceipt::For(const std::string& path,
                                                           const std::string& name) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!file.Valid() || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    DebugOut("No receipt: cannot open " + path + "\n");
    return std::nullopt;
  }
  const std::optional<fcast::Sha256Digest> digest =
      fcast::HashFile(file.Get(), static_cast<std::uint64_t>(st.st_size));
  if (!digest) {
    DebugOut("No receipt: cannot read " + path + "\n");
    return std::nullopt;
  }
  return MavoraProtocol::Fields{kCommand, name, std::to_string(st.st_size), fcast::ToHex(*digest)};
}

}  // namespace ondavox::client
