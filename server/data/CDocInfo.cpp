#include "server/data/CDocInfo.h"

namespace ondavox::server {

CDocInfo::CDocInfo(std::string fileName, std::string owner, std::string path, std::string mimeType,
                   int32_t streamable, int32_t persisting, std::string description)
    : fileName_(std::move(fileName)),
      owner_(std::move(owner)),
      path_(std::move(path)),
      mimeType_(std::move(mimeType)),
      streamable_(streamable),
      persisting_(persisting),
      description_(std::move(description)) {}

std::string CDocInfo::MakeKey(std::string_view owner, std::string_view fileName) {
  std::string key(owner);
  key.append(fileName);
  return key;
}

void CDocInfo::Serialize(ArchiveWriter& archive) const {
  archive.WriteString(fileName_);
  archive.WriteString(owner_);
  archive.WriteString(path_);
  archive.WriteString(mimeType_);
  archive.WriteI32(streamable_);
  archive.WriteI32(persisting_);
  archive.WriteString(description_);
}

void CDocInfo::Serialize(ArchiveReader& archive) {
  fileName_ = archive.ReadString();
  owner_ = archive.ReadString();
  path_ = archive.ReadString();
  mimeType_ = archive.ReadString();
  streamable_ = archive.ReadI32();
  persisting_ = archive.ReadI32();
  description_ = archive.ReadString();
}

}  // namespace ondavox::server
